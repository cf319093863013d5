#pragma once

// Small pieces the bench programs share: sparse files, an event-loop wait, medians, a photograph-like image and
// a folder with upload records.

#include "sync/SyncFolder.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <functional>

namespace bench {

// A file of `size` bytes that takes no disk; exits the program if it cannot be made.
void writeSparse(const QString &path, qint64 size);

// Folder `index` of a bench export tree: year / month / Shoot_N under root.
QString shootFolder(const QString &root, int index);

// The export tree of `folders` shoot folders, each with IMG_0.jpg on (sparse, 1000 + i bytes).
void generateTree(const QString &root, int folders, int imagesPerFolder);

// Spins the event loop until the condition holds (checked first, then every pollMs) or the limit passes.
bool waitUntil(const std::function<bool()> &condition, int limitMs, int pollMs = 10);

// The middle value; 0 for none.
double median(QList<double> values);

QTextStream &out();

// Gradients, shapes and a little noise: compresses like a photograph, not like noise or flat colour.
QImage photoLike(QSize size, bool smoothEdges);

// Folder `index` of an archive (year / client / Shoot_N under /eksport) with one upload record per file name;
// the status is left to the caller.
SyncFolder recordedFolder(int index, const QStringList &fileNames);

} // namespace bench
