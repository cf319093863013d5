#pragma once

// The stand-in service's web pages, the ones the app opens in the browser: plain HTML made from the library as it
// stands. Every text from the library is escaped and every id in a link is one percent-encoded path segment.

#include "StandInTypes.h"

namespace testsupport::standin {

struct WebPage {
    int status = 200;
    QByteArray html;
};

struct WebLibrary {
    QList<StandInGallery> galleries;
    QList<StandInFolder> folders;
    QByteArray loginToken; // what the device-login page hands to the app; empty: no account to sign in with
};

// `segments` are the decoded path segments; nullopt when no page lives there.
std::optional<WebPage> webPage(const QStringList &segments, const WebLibrary &library);

} // namespace testsupport::standin
