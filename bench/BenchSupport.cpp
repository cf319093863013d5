#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QPainter>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace bench {

void writeSparse(const QString &path, qint64 size)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0 || ::ftruncate(fd, size) != 0) {
        std::fprintf(stderr, "cannot create %s\n", name.constData());
        std::exit(1);
    }
    ::close(fd);
}

QString shootFolder(const QString &root, int index)
{
    return QStringLiteral("%1/%2/%3/Shoot_%4").arg(root).arg(2000 + index / 120).arg(index / 10 % 12 + 1).arg(index);
}

void generateTree(const QString &root, int folders, int imagesPerFolder)
{
    for (int f = 0; f < folders; ++f) {
        const QString dir = shootFolder(root, f);
        QDir().mkpath(dir);
        for (int i = 0; i < imagesPerFolder; ++i)
            writeSparse(dir + QStringLiteral("/IMG_%1.jpg").arg(i), 1000 + i);
    }
}

bool waitUntil(const std::function<bool()> &condition, int limitMs, int pollMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    bool met = condition();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (condition()) {
            met = true;
            loop.quit();
        } else if (elapsed.elapsed() > limitMs) {
            loop.quit();
        }
    });
    if (!met) {
        poll.start(pollMs);
        loop.exec();
    }
    return met;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QImage photoLike(QSize size, bool smoothEdges)
{
    QImage image(size, QImage::Format_RGB32);
    quint32 seed = 2463534242u;
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const int noise = int(seed & 15) - 8;
            const int r = qBound(0, 255 * x / size.width() + noise, 255);
            const int g = qBound(0, 255 * y / size.height() + noise, 255);
            const int b = qBound(0, 128 + ((x / 97 + y / 89) % 2) * 64 + noise, 255);
            line[x] = qRgb(r, g, b);
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, smoothEdges);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 40; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 180, 200, 120));
        painter.drawEllipse(QPointF(size.width() * ((i * 7919) % 100) / 100.0, size.height() * ((i * 104729) % 100) / 100.0),
                            size.width() / 12.0, size.height() / 9.0);
    }
    return image;
}

SyncFolder recordedFolder(int index, const QStringList &fileNames)
{
    SyncFolder f;
    f.parentComponents = {QString::number(2000 + index / 200), QStringLiteral("%1-Kunde").arg((index / 20) % 10)};
    f.name = QStringLiteral("Shoot_%1").arg(index);
    f.displayName = QStringLiteral("Shoot %1").arg(index);
    f.relativePath = f.parentComponents.join(u'/') + u'/' + f.name;
    f.path = QStringLiteral("/eksport/") + f.relativePath;
    f.imageCount = fileNames.size();
    QList<UploadedFileMeta> uploaded;
    LocalFileMetaMap meta;
    for (int k = 0; k < fileNames.size(); ++k) {
        const QString &file = fileNames.at(k);
        uploaded.append({file, 5'000'000 + k, 700'000'000.0 + k});
        meta.insert(file, {5'000'000 + k, 700'000'000.0 + k});
    }
    f.uploadedFiles = uploaded;
    f.cachedLocalFileMeta = meta;
    return f;
}

} // namespace bench
