#include "UnicodeNames.h"

#include <algorithm>

namespace unicodenames {

QString canonical(const QString &name)
{
    const bool maybeDecomposed = std::any_of(name.cbegin(), name.cend(),
                                             [](QChar c) { return c.unicode() >= 0x0300; });
    return maybeDecomposed ? name.normalized(QString::NormalizationForm_C) : name;
}

bool canonicallyEqual(const QString &a, const QString &b)
{
    return a == b || canonical(a) == canonical(b);
}

namespace {

// UTF-16 order differs from scalar order only for surrogates against U+E000..U+FFFF.
int compareScalars(const QString &a, const QString &b)
{
    const auto n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x == y)
            continue;
        const bool xs = QChar::isSurrogate(x);
        const bool ys = QChar::isSurrogate(y);
        if (xs != ys)
            return xs ? 1 : -1;
        return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool isTrimmable(QChar c)
{
    return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
}

} // namespace

bool scalarLess(const QString &a, const QString &b)
{
    return compareScalars(canonical(a), canonical(b)) < 0;
}

void sortByScalars(QStringList &names)
{
    std::stable_sort(names.begin(), names.end(), scalarLess);
}

QString displayName(const QString &folderName)
{
    QString result = folderName;
    result.replace(QLatin1Char('_'), QLatin1Char(' '));
    result.replace(QLatin1Char('-'), QLatin1Char(' '));
    result.replace(QStringLiteral("  "), QStringLiteral(" "));
    qsizetype begin = 0;
    qsizetype end = result.size();
    while (begin < end && isTrimmable(result.at(begin)))
        ++begin;
    while (end > begin && isTrimmable(result.at(end - 1)))
        --end;
    return result.mid(begin, end - begin);
}

} // namespace unicodenames
