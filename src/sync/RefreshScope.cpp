#include "RefreshScope.h"

#include "platform/FileEventStream.h"

#include <QStringDecoder>

#include <optional>

namespace {

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The path itself, then each folder above it, up to its top-level folder.
template<typename Visit>
bool anyAncestorOrSelf(const QString &relative, Visit visit)
{
    QStringView path(relative);
    while (true) {
        if (visit(path))
            return true;
        const auto slash = path.lastIndexOf(QLatin1Char('/'));
        if (slash < 0)
            return false;
        path = path.left(slash);
    }
}

bool isAtOrBelow(const QString &path, const QString &folder)
{
    return folder.isEmpty() || path == folder
           || (path.startsWith(folder) && path.at(folder.size()) == QLatin1Char('/'));
}

} // namespace

RefreshScope RefreshScope::everything()
{
    RefreshScope scope;
    scope.m_everything = true;
    return scope;
}

void RefreshScope::addFolder(const QString &relative)
{
    if (!relative.isEmpty()) // images lying in the export folder itself belong to no gallery
        m_folders.insert(relative);
}

void RefreshScope::addTree(const QString &relative)
{
    if (relative.isEmpty())
        m_everything = true;
    else
        m_trees.insert(relative);
}

void RefreshScope::add(const RefreshScope &other)
{
    m_everything = m_everything || other.m_everything;
    m_folders.unite(other.m_folders);
    m_trees.unite(other.m_trees);
}

void RefreshScope::add(const FileChanges &changes)
{
    if (!changes.complete) {
        m_everything = true;
        return;
    }
    for (const QByteArray &path : changes.folders) {
        if (const auto decoded = strictUtf8(path))
            addFolder(*decoded);
    }
    for (const QByteArray &path : changes.trees) {
        if (const auto decoded = strictUtf8(path))
            addTree(*decoded);
    }
}

void RefreshScope::widenTo(const QStringList &relativeFolders)
{
    if (m_everything || relativeFolders.isEmpty())
        return;
    const auto widened = [&relativeFolders](const QString &path) -> std::optional<QString> {
        for (const QString &folder : relativeFolders) {
            if (isAtOrBelow(path, folder))
                return folder;
        }
        return std::nullopt;
    };
    const auto widenSet = [&](QSet<QString> &paths) {
        for (auto it = paths.begin(); it != paths.end();) {
            if (const auto folder = widened(*it)) {
                addTree(*folder);
                it = paths.erase(it);
            } else {
                ++it;
            }
        }
    };
    widenSet(m_folders);
    const QSet<QString> trees = std::exchange(m_trees, {});
    for (const QString &tree : trees)
        addTree(widened(tree).value_or(tree));
}

bool RefreshScope::coversFolder(const QString &relative) const
{
    return m_everything || m_folders.contains(relative) || coversTree(relative);
}

bool RefreshScope::coversTree(const QString &relative) const
{
    if (m_everything)
        return true;
    if (m_trees.isEmpty())
        return false;
    return anyAncestorOrSelf(relative, [this](QStringView path) { return m_trees.contains(path.toString()); });
}
