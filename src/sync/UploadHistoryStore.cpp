#include "UploadHistoryStore.h"

#include "service/AppSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSaveFile>

namespace {

Q_LOGGING_CATEGORY(lcUploadHistory, "no.varnostima.mac.UploadHistory")

constexpr qsizetype kMenuEntries = 5;

QUrl defaultStoreURL()
{
    return QUrl::fromLocalFile(appSupportDirectory() + QStringLiteral("/recent-uploads.json"));
}

} // namespace

UploadHistoryStore::UploadHistoryStore(const QUrl &storeURL, QObject *parent)
    : QObject(parent)
    , m_storeURL(storeURL.isEmpty() ? defaultStoreURL() : storeURL)
{
    m_writer.setMaxThreadCount(1);
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
    m_writer.start([path = m_storeURL.toLocalFile(), bytes = encodeRecentUploads(m_recentUploads)] {
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            qCCritical(lcUploadHistory, "Failed to save recent uploads: %s", qUtf8Printable(file.errorString()));
            return;
        }
        // Private to its owner, like every file of the app.
        if (file.write(bytes) != bytes.size() || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
            || !file.commit())
            qCCritical(lcUploadHistory, "Failed to save recent uploads: %s", qUtf8Printable(file.errorString()));
    });
}

void UploadHistoryStore::flush() const
{
    m_writer.waitForDone();
}
