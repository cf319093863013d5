#include "FileEventStreamWatches.h"

int FileEventStreamWatches::insert(int wd, const std::string &path)
{
    auto [it, added] = m_byWd.try_emplace(wd, path);
    if (!added && it->second != path) {
        m_byPath.erase(it->second);
        it->second = path;
    }
    // A path whose folder was replaced keeps only the newest descriptor.
    int displaced = -1;
    auto [pit, pathAdded] = m_byPath.try_emplace(path, wd);
    if (!pathAdded && pit->second != wd) {
        displaced = pit->second;
        m_byWd.erase(displaced);
        pit->second = wd;
    }
    return displaced;
}

bool FileEventStreamWatches::erase(int wd)
{
    const auto it = m_byWd.find(wd);
    if (it == m_byWd.end())
        return false;
    m_byPath.erase(it->second);
    m_byWd.erase(it);
    return true;
}

const std::string *FileEventStreamWatches::pathOf(int wd) const
{
    const auto it = m_byWd.find(wd);
    return it == m_byWd.end() ? nullptr : &it->second;
}

std::vector<int> FileEventStreamWatches::takeSubtree(const std::string &path)
{
    std::vector<int> taken;
    if (const auto it = m_byPath.find(path); it != m_byPath.end()) {
        taken.push_back(it->second);
        m_byWd.erase(it->second);
        m_byPath.erase(it);
    }
    // Everything below path sorts between "path/" and "path0" ('0' follows '/').
    const std::string below = path + '/';
    auto it = m_byPath.lower_bound(below);
    while (it != m_byPath.end() && it->first.compare(0, below.size(), below) == 0) {
        taken.push_back(it->second);
        m_byWd.erase(it->second);
        it = m_byPath.erase(it);
    }
    return taken;
}

std::vector<int> FileEventStreamWatches::takeAllExcept(const std::unordered_set<int> &keep)
{
    std::vector<int> taken;
    for (auto it = m_byWd.begin(); it != m_byWd.end();) {
        if (keep.count(it->first)) {
            ++it;
            continue;
        }
        taken.push_back(it->first);
        m_byPath.erase(it->second);
        it = m_byWd.erase(it);
    }
    return taken;
}

std::vector<int> FileEventStreamWatches::takeAll()
{
    std::vector<int> taken;
    taken.reserve(m_byWd.size());
    for (const auto &[wd, path] : m_byWd)
        taken.push_back(wd);
    m_byWd.clear();
    m_byPath.clear();
    return taken;
}
