// Puts a large file to the stand-in's object store and prints the peak resident memory before and after:
// the body is streamed from disk, so the peak must not grow with the file's size.
//
//     bench_upload_put [megabytes]   (default 512)

#include "ProcessMemory.h"
#include "service/VarnostimaAPI.h"
#include "support/StandInService.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QCoro::Task<void> run(VarnostimaAPI *api, testsupport::StandInService *service, QString path, qint64 size)
{
    const QString galleryId = service->seedGallery(QStringLiteral("Bench"));
    QList<PresignedRequest::FileInfo> files;
    files.append({QStringLiteral("big.jpg"), QStringLiteral("image/jpeg"), size});
    const PresignedResponse slots = co_await api->requestPresignedURLs(galleryId, files);

    const qint64 before = bench::statusKiB("VmHWM:");
    QElapsedTimer timer;
    timer.start();
    co_await api->uploadToPresignedURL(slots.presignedUrls.first().url, path, QStringLiteral("image/jpeg"));
    const qint64 ms = timer.elapsed();
    const qint64 after = bench::statusKiB("VmHWM:");

    std::printf("file size            %lld MiB\n", static_cast<long long>(size >> 20));
    std::printf("put time             %lld ms (%.0f MiB/s)\n", static_cast<long long>(ms),
                ms > 0 ? double(size >> 20) * 1000.0 / double(ms) : 0.0);
    std::printf("peak RSS before put  %lld KiB\n", static_cast<long long>(before));
    std::printf("peak RSS after put   %lld KiB (growth %lld KiB)\n", static_cast<long long>(after),
                static_cast<long long>(after - before));
}

QCoro::Task<void> runAndQuit(VarnostimaAPI *api, testsupport::StandInService *service, QString path, qint64 size,
                             int *exitCode)
{
    try {
        co_await run(api, service, path, size);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        *exitCode = 1;
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 512;
    const qint64 size = megabytes << 20;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.jpg"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        const QByteArray block(1 << 20, 'v');
        for (qint64 i = 0; i < megabytes; ++i)
            file.write(block);
    }

    testsupport::StandInService service;
    service.addAccount("bench");
    VarnostimaAPI api;
    api.setCredentials(service.baseUrl(), QStringLiteral("bench"));

    int exitCode = 0;
    auto task = runAndQuit(&api, &service, path, size, &exitCode);
    app.exec();
    return exitCode;
}
