#include "ProcessArguments.h"

#include <cstring>

int scrubUrlArguments(int argc, char **argv, const QByteArray &scheme)
{
    const QByteArray prefix = scheme.toLower() + ':';
    int changed = 0;
    for (int i = 1; i < argc; ++i) {
        char *argument = argv[i];
        if (!argument || qstrnicmp(argument, prefix.constData(), prefix.size()) != 0)
            continue;
        char *secret = std::strpbrk(argument, "?#");
        if (!secret)
            continue;
        // Overwritten where it lies: the kernel shows this very memory.
        std::memset(secret, 0, std::strlen(secret));
        ++changed;
    }
    return changed;
}
