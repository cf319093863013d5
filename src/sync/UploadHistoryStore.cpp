#include "UploadHistoryStore.h"

#include "platform/AtomicFile.h"
#include "platform/DiskRecovery.h"
#include "service/AppSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcUploadHistory, "no.varnostima.mac.UploadHistory")

constexpr qsizetype kMenuEntries = 5;

QUrl defaultStoreURL()
{
    return QUrl::fromLocalFile(appSupportDirectory() + QStringLiteral("/recent-uploads.json"));
}

} // namespace

UploadHistoryStore::UploadHistoryStore(const QUrl &storeURL, QObject *parent, std::chrono::milliseconds firstRetry)
    : QObject(parent)
    , m_storeURL(storeURL.isEmpty() ? defaultStoreURL() : storeURL)
    , m_firstRetry(firstRetry)
    , m_retryDelay(firstRetry)
{
    m_writer.setMaxThreadCount(1);
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &UploadHistoryStore::save);
    connect(&DiskRecovery::instance(), &DiskRecovery::diskIsBack, this, &UploadHistoryStore::retryNow);
    load();
}

void UploadHistoryStore::setRecentUploads(const QList<RecentUpload> &uploads)
{
    if (uploads == m_recentUploads)
        return;
    m_recentUploads = uploads;
    Q_EMIT recentUploadsChanged();
}

QList<RecentUpload> UploadHistoryStore::recentUploadsForMenu() const
{
    return m_recentUploads.first(qMin(m_recentUploads.size(), kMenuEntries));
}

void UploadHistoryStore::load()
{
    const QString path = m_storeURL.toLocalFile();
    if (!QFileInfo::exists(path))
        return;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCCritical(lcUploadHistory, "Failed to load recent uploads: %s", qUtf8Printable(file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        qCCritical(lcUploadHistory, "Failed to load recent uploads: %s", qUtf8Printable(file.errorString()));
        return;
    }
    try {
        QStringList skipped;
        m_recentUploads = decodeRecentUploads(bytes, &skipped);
        for (const QString &reason : std::as_const(skipped))
            qCWarning(lcUploadHistory, "Skipped a damaged recent upload: %s", qUtf8Printable(reason));
    } catch (const RecentUploadDecodingError &error) {
        // The file stays as it is; the next save replaces it.
        qCCritical(lcUploadHistory, "Failed to load recent uploads: %s", error.what());
    }
}

void UploadHistoryStore::save() const
{
    m_retry.stop();
    const quint64 save = ++m_saves;
    auto *self = const_cast<UploadHistoryStore *>(this);
    m_writer.start([self, save, path = m_storeURL.toLocalFile(), bytes = encodeRecentUploads(m_recentUploads)] {
        QString error;
        const bool written = writeFileAtomically(path, bytes, &error);
        if (!written)
            qCCritical(lcUploadHistory, "Failed to save recent uploads: %s", qUtf8Printable(error));
        if (self->m_lastWriteFailed.exchange(!written) && written)
            DiskRecovery::noteWriteSucceededAfterFailure();
        // Dropped by Qt when the store is gone; its destruction waits for this write first.
        QMetaObject::invokeMethod(self, [self, save, written] { self->saveEnded(save, written); }, Qt::QueuedConnection);
    });
}

void UploadHistoryStore::saveEnded(quint64 save, bool written)
{
    if (save != m_saves)
        return; // a newer save is on its way and answers for itself
    if (written) {
        m_retryDelay = m_firstRetry;
        return;
    }
    m_retry.start(m_retryDelay);
    m_retryDelay = std::min(m_retryDelay * 2, kLongestRetry);
}

void UploadHistoryStore::retryNow()
{
    if (m_lastWriteFailed)
        save();
}

bool UploadHistoryStore::saveIfUnwritten() const
{
    flush();
    if (m_lastWriteFailed) {
        save();
        flush();
    }
    return !m_lastWriteFailed;
}

void UploadHistoryStore::flush() const
{
    m_writer.waitForDone();
}
