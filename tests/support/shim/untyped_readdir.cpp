// Preloaded into a test process, this makes every directory listing leave out the entries' types, as network
// mounts, FUSE and older XFS do, so the tree walks must ask each entry for its type.

#include <dirent.h>
#include <dlfcn.h>

namespace {

template<typename Entry>
Entry *untyped(Entry *entry)
{
    if (entry)
        entry->d_type = DT_UNKNOWN;
    return entry;
}

} // namespace

extern "C" {

struct dirent *readdir(DIR *dir)
{
    static const auto real = reinterpret_cast<struct dirent *(*)(DIR *)>(dlsym(RTLD_NEXT, "readdir"));
    return untyped(real(dir));
}

struct dirent64 *readdir64(DIR *dir)
{
    static const auto real = reinterpret_cast<struct dirent64 *(*)(DIR *)>(dlsym(RTLD_NEXT, "readdir64"));
    return untyped(real(dir));
}

} // extern "C"
