#pragma once

#include <QDateTime>
#include <QString>

// How long ago (or until) a moment is, in Norwegian with numeric, abbreviated units: "for 12 min siden".
// The largest calendar unit that is not zero is shown, rounded by the next smaller one. Thread-safe; the
// formatter is built once per process.
QString relativeAge(const QDateTime &moment, const QDateTime &now = QDateTime::currentDateTime());
