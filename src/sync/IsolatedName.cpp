#include "IsolatedName.h"

#include <algorithm>

namespace unicodenames {

namespace {

constexpr char16_t kFirstStrongIsolate = 0x2068;
constexpr char16_t kPopDirectionalIsolate = 0x2069;

bool opensIsolate(QChar c)
{
    const QChar::Direction d = c.direction();
    return d == QChar::DirLRI || d == QChar::DirRLI || d == QChar::DirFSI;
}

// Right-to-left letters and numbers, embeddings, overrides and isolates: what can reorder text beside the name.
bool canTurnText(QChar c)
{
    switch (c.direction()) {
    case QChar::DirR:
    case QChar::DirAL:
    case QChar::DirAN:
    case QChar::DirLRE:
    case QChar::DirLRO:
    case QChar::DirRLE:
    case QChar::DirRLO:
    case QChar::DirPDF:
    case QChar::DirLRI:
    case QChar::DirRLI:
    case QChar::DirFSI:
    case QChar::DirPDI:
        return true;
    default:
        return false;
    }
}

} // namespace

QString isolated(const QString &name)
{
    if (std::none_of(name.cbegin(), name.cend(), canTurnText))
        return name;
    QString text;
    text.reserve(name.size() + 2);
    text += QChar(kFirstStrongIsolate);
    qsizetype open = 0;
    for (const QChar c : name) {
        if (opensIsolate(c)) {
            ++open;
        } else if (c.direction() == QChar::DirPDI) {
            if (open == 0)
                continue; // it would close the wrapper
            --open;
        }
        text += c;
    }
    text += QString(open, QChar(kPopDirectionalIsolate));
    text += QChar(kPopDirectionalIsolate);
    return text;
}

} // namespace unicodenames
