#pragma once

// The stand-in service in a child process of its own, so that a bench's CPU and memory figures are the engine's alone.

#include "support/StandInService.h"
#include "sync/SyncManager.h"

#include <QCoreApplication>
#include <QString>

#include <csignal>
#include <cstdlib>
#include <functional>

#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace bench {

// In the child after a fork: a stand-in with the account "bench", set up by `configure`, holding one gallery per folder
// under `root` with that folder's images. Writes its address and a newline to writeFd, serves until SIGTERM, then
// hands the service to `stopped` with the number of galleries it was seeded with, and exits.
[[noreturn]] inline void serveSeededStandIn(const QString &root, int writeFd,
                                            const std::function<void(testsupport::StandInService &)> &configure,
                                            const std::function<void(const testsupport::StandInService &, qint64)> &stopped)
{
    prctl(PR_SET_NAME, "standin");
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    int argc = 1;
    char name[] = "standin";
    char *argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    testsupport::StandInService service;
    service.addAccount("bench");
    configure(service);
    qint64 galleries = 0;
    for (const SyncFolder &folder : SyncManager::scanFolderTree(root, {})) {
        const QString gallery = service.seedGallery(folder.displayName);
        ++galleries;
        for (auto it = folder.cachedLocalFileMeta->cbegin(); it != folder.cachedLocalFileMeta->cend(); ++it)
            service.seedImageOfSize(gallery, it.key(), it.value().size);
    }
    const QByteArray url = service.baseUrl().toString().toUtf8() + '\n';
    if (::write(writeFd, url.constData(), size_t(url.size())) != url.size())
        std::_Exit(1);
    int signal = 0;
    sigwait(&stop, &signal);
    stopped(service, galleries);
    ::close(writeFd);
    std::_Exit(0);
}

} // namespace bench
