#pragma once

#include <QString>
#include <QStringList>

// Names compare under Unicode canonical equivalence: "é" as one code point equals "e" plus a combining accent.
// The engine keeps names exactly as the disk or the service gave them and compares their canonical forms.
// Folder paths compare exactly: two spellings of one name are two folders on disk.
namespace unicodenames {

// The NFC form of a name. Names without code points from U+0300 up are already NFC and are returned shared,
// without an allocation: that is nearly every file name a camera or an editor writes.
QString canonical(const QString &name);

bool canonicallyEqual(const QString &a, const QString &b);

// Ascending order by Unicode scalar values of the canonical forms (so "B" sorts before "a").
bool scalarLess(const QString &a, const QString &b);
void sortByScalars(QStringList &names);

// The gallery title made from a folder name: "_" and "-" become spaces, each pair of spaces becomes one in a
// single left-to-right pass, then spaces and tabs (not line breaks) are trimmed from both ends.
QString displayName(const QString &folderName);

} // namespace unicodenames
