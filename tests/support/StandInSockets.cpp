#include "StandInSockets.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>

namespace testsupport::standin {

namespace {
int portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return -1;
}
} // namespace

int shutDownConnections(quint16 localPort, int peerPort)
{
    DIR *dir = opendir("/proc/self/fd");
    if (!dir)
        return 0;
    const int ownFd = dirfd(dir);
    int count = 0;
    while (const dirent *entry = readdir(dir)) {
        char *end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == ownFd)
            continue;
        struct stat info {};
        if (fstat(int(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        sockaddr_storage local {};
        socklen_t length = sizeof local;
        if (getsockname(int(fd), reinterpret_cast<sockaddr *>(&local), &length) != 0 || portOf(local) != localPort)
            continue;
        sockaddr_storage peer {};
        length = sizeof peer;
        if (getpeername(int(fd), reinterpret_cast<sockaddr *>(&peer), &length) != 0) // listening socket
            continue;
        if (peerPort != -1 && portOf(peer) != peerPort)
            continue;
        if (shutdown(int(fd), SHUT_RDWR) == 0)
            ++count;
    }
    closedir(dir);
    return count;
}

} // namespace testsupport::standin
