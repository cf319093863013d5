#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Where crash reports go: "https://<public key>@<host>[/<path>]/<project id>". Plain http is accepted only for a
// collector on this machine (loopback), so a report never crosses the network unencrypted.
struct CrashReportDsn {
    QString text;
    QString publicKey;
    QUrl envelopeUrl;

    static std::optional<CrashReportDsn> parse(const QString &dsn);
    // The DSN given at build time (empty when the build has none).
    static QString defaultDsn();
};
