#pragma once

#include <QString>
#include <QUrl>

// The base URL with a path appended: exactly one "/" between the base's own path and the addition, whether or
// not the base ends with one. The path is taken as already made of plain segments ("/dashboard", "/gallery/").
QUrl appendPath(const QUrl &base, const QString &path);

// The base URL, the prefix path, then one segment percent-encoded whole ("/" inside it stays inside the segment):
// appendPath(base, "/gallery/", galleryId).
QUrl appendPath(const QUrl &base, const QString &prefix, const QString &segment);
