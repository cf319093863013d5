// Cost of watching an export tree: watch set-up time, watches against folders, CPU used while idle, and the
// time from a file landing to the change batch. Usage: bench_watch_idle [idle seconds = 60] [folders = 2000]

#include "platform/FileEventStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

using namespace std::chrono_literals;

namespace {

struct Usage {
    double cpuSeconds = 0;
    long wakeups = 0; // voluntary context switches
};

Usage usageNow()
{
    rusage ru {};
    getrusage(RUSAGE_SELF, &ru);
    const auto seconds = [](const timeval &tv) { return double(tv.tv_sec) + double(tv.tv_usec) / 1e6; };
    return {seconds(ru.ru_utime) + seconds(ru.ru_stime), ru.ru_nvcsw};
}

// Years of shoots, the way an export folder grows: 20 year folders, the rest shoots below them.
int makeTree(const QString &root, int folders)
{
    const int years = 20;
    const int shootsPerYear = (folders - years + years - 1) / years;
    int made = 0;
    for (int y = 0; y < years && made < folders; ++y) {
        const QString year = root + QStringLiteral("/%1").arg(2000 + y);
        QDir().mkpath(year);
        ++made;
        for (int s = 0; s < shootsPerYear && made < folders; ++s, ++made) {
            const QString shoot = year + QStringLiteral("/shoot_%1").arg(s, 3, 10, QLatin1Char('0'));
            QDir().mkpath(shoot);
            for (int i = 0; i < 2; ++i) {
                QFile image(shoot + QStringLiteral("/IMG_%1.jpg").arg(i));
                if (image.open(QIODevice::WriteOnly))
                    image.write("jpeg");
            }
        }
    }
    return made;
}

int countFolders(const QString &root)
{
    int count = 1; // the root itself is watched too
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        ++count;
    }
    return count;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int idleSeconds = args.size() > 1 ? args.at(1).toInt() : 60;
    const int folderTarget = args.size() > 2 ? args.at(2).toInt() : 2000;

    QTemporaryDir tmp;
    const QString root = tmp.path() + "/export";
    QDir().mkpath(root);
    makeTree(root, folderTarget);
    const int folders = countFolders(root);

    FileEventStream stream;
    QElapsedTimer clock;
    int idleBatches = 0;
    Usage idleStart;

    QObject::connect(&stream, &FileEventStream::ready, &app, [&] {
        std::printf("folders (root included):    %d\n", folders);
        std::printf("watches:                    %d (%s)\n", stream.watchCount(),
            stream.watchCount() == folders ? "equal" : "DIFFERENT");
        std::printf("watch set-up:               %.1f ms\n", double(clock.nsecsElapsed()) / 1e6);
        std::printf("idling %d s ...\n", idleSeconds);
        std::fflush(stdout);
        QObject::connect(&stream, &FileEventStream::changed, &app, [&] { ++idleBatches; });
        idleStart = usageNow();
        QTimer::singleShot(std::chrono::seconds(idleSeconds), &app, [&] {
            const Usage idleEnd = usageNow();
            std::printf("CPU while idle:             %.3f ms over %d s\n",
                (idleEnd.cpuSeconds - idleStart.cpuSeconds) * 1e3, idleSeconds);
            std::printf("wake-ups while idle:        %ld\n", idleEnd.wakeups - idleStart.wakeups);
            std::printf("batches while idle:         %d\n", idleBatches);
            std::fflush(stdout);

            QObject::disconnect(&stream, &FileEventStream::changed, nullptr, nullptr);
            QObject::connect(&stream, &FileEventStream::changed, &app, [&] {
                std::printf("file landed to batch:       %.1f ms (latency %lld ms)\n",
                    double(clock.nsecsElapsed()) / 1e6, static_cast<long long>(stream.latency().count()));
                QElapsedTimer stopClock;
                stopClock.start();
                stream.stop();
                std::printf("stop:                       %.2f ms\n", double(stopClock.nsecsElapsed()) / 1e6);
                app.quit();
            });
            clock.start();
            QFile image(root + "/2005/shoot_010/IMG_new.jpg");
            if (image.open(QIODevice::WriteOnly))
                image.write("jpeg");
        });
    });

    clock.start();
    stream.start(root);
    return app.exec();
}
