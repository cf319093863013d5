#include "FileEventStream.h"

#include "FileEventStreamReader.h"
#include "PlatformLogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FileEventStream::FileEventStream(QObject *parent)
    : QObject(parent)
{
}

FileEventStream::~FileEventStream()
{
    stop();
}

bool FileEventStream::start(const QString &rootPath)
{
    stop();
    if (rootPath.isEmpty()) {
        qCWarning(lcFileEvents, "Not watching: no folder given");
        return false;
    }
    m_rootPath = QDir::cleanPath(QFileInfo(rootPath).absoluteFilePath());

    FileEventStreamReader::Settings settings;
    settings.root = QFile::encodeName(m_rootPath).toStdString();
    settings.latency = m_latency;
    settings.pollInterval = m_pollInterval;
    settings.maxWatches = m_maxWatches;
    settings.beforeWalk = m_beforeWalk;

    // The reader calls these on its own thread; it is joined before this object can go away.
    const quint64 generation = m_generation;
    FileEventStreamReader::Callbacks callbacks;
    callbacks.ready = [this, generation] { postReady(generation); };
    callbacks.changed = [this, generation](FileEventStreamReader::Batch batch) {
        FileChanges changes;
        changes.complete = batch.complete;
        for (const std::string &path : batch.folders)
            changes.folders.append(QByteArray::fromStdString(path));
        for (const std::string &path : batch.trees)
            changes.trees.append(QByteArray::fromStdString(path));
        postChanged(generation, std::move(changes));
    };
    m_reader = std::make_unique<FileEventStreamReader>(std::move(settings), std::move(callbacks));
    return true;
}

void FileEventStream::stop()
{
    // Queued deliveries of this run carry the old generation and die on arrival.
    ++m_generation;
    m_reader.reset();
}

void FileEventStream::postReady(quint64 generation)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                Q_EMIT ready();
        },
        Qt::QueuedConnection);
}

void FileEventStream::postChanged(quint64 generation, FileChanges changes)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation, changes = std::move(changes)] {
            if (generation == m_generation)
                Q_EMIT changed(changes);
        },
        Qt::QueuedConnection);
}

int FileEventStream::watchCount() const
{
    return m_reader ? m_reader->watchCount() : 0;
}

quint64 FileEventStream::batchCount() const
{
    return m_reader ? m_reader->batchCount() : 0;
}

bool FileEventStream::isPolling() const
{
    return m_reader && m_reader->isPolling();
}

void FileEventStream::injectOverflowForTesting()
{
    if (m_reader)
        m_reader->injectOverflow();
}
