#pragma once

#include <QFile>
#include <QString>

// Opens the file for reading only when it is a regular file (links followed). A pipe or device named like an
// image would otherwise block the decoding thread that opens or reads it for good.
bool openRegularFile(QFile &file, const QString &path);
