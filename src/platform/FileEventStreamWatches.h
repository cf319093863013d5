#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The inotify watches of one tree: which watch descriptor stands for which folder path, both ways.
// Paths are native byte strings without a trailing slash. Not thread-safe: the reader thread owns it.
class FileEventStreamWatches
{
public:
    // Records that wd watches path. A wd seen again under another path (its folder moved) takes the new path.
    // Returns the descriptor that path had before when it was another one (its folder was replaced), else -1.
    int insert(int wd, const std::string &path);
    // Forgets wd; returns false when it was unknown.
    bool erase(int wd);
    // The path of wd, or nullptr when wd is unknown.
    const std::string *pathOf(int wd) const;
    bool containsPath(const std::string &path) const { return m_byPath.count(path) != 0; }

    // Forgets path and every path below it and returns their descriptors, for the caller to remove.
    std::vector<int> takeSubtree(const std::string &path);
    // Forgets every wd not in keep and returns them.
    std::vector<int> takeAllExcept(const std::unordered_set<int> &keep);
    std::vector<int> takeAll();

    int size() const { return static_cast<int>(m_byWd.size()); }

private:
    std::unordered_map<int, std::string> m_byWd;
    std::map<std::string, int> m_byPath; // ordered, so a subtree is one range
};
