#include "UploadJournal.h"

#include "SyncLogging.h"
#include "platform/AtomicFile.h"
#include "service/Json.h"

#include <QFile>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr qint64 kVersion = 1;

void writeByFolder(json::ObjectWriter &out, QStringView key, const QMap<QString, UploadInFlight> &byFolder)
{
    if (byFolder.isEmpty())
        return;
    out.objectWith(key, [&byFolder](json::ObjectWriter &folders) {
        for (auto it = byFolder.cbegin(); it != byFolder.cend(); ++it) {
            folders.objectWith(it.key(), [&it](json::ObjectWriter &entry) {
                entry.string(u"galleryId", it->galleryId);
                entry.strings(u"fileNames", it->fileNames);
            });
        }
    });
}

QMap<QString, UploadInFlight> readByFolder(const json::ObjectReader &in, QStringView key)
{
    QMap<QString, UploadInFlight> byFolder;
    if (const auto folders = in.optChild(key)) {
        for (const QString &path : folders->keys()) {
            const json::ObjectReader entry = folders->child(path);
            byFolder.insert(path, {entry.string(u"galleryId"), entry.strings(u"fileNames")});
        }
    }
    return byFolder;
}

} // namespace

QByteArray encodeUploadJournal(const UploadJournalEntries &entries)
{
    json::ObjectWriter out;
    writeByFolder(out, u"runs", entries.runs);
    writeByFolder(out, u"replacements", entries.replacements);
    out.integer(u"version", kVersion);
    return out.finish();
}

UploadJournalEntries decodeUploadJournal(const QByteArray &data)
{
    try {
        const json::ObjectReader in(json::parseObject(data));
        return {readByFolder(in, u"runs"), readByFolder(in, u"replacements")};
    } catch (const DecodingError &error) {
        throw SyncDecodingError(error.localizedDescription());
    }
}

UploadJournal::UploadJournal(QString filePath)
    : m_filePath(std::move(filePath))
{
    m_writer.setMaxThreadCount(1);
}

UploadJournal::~UploadJournal()
{
    m_writer.waitForDone();
}

UploadJournal::Loaded UploadJournal::load() const
{
    if (!QFileInfo::exists(m_filePath))
        return {};
    QFile file(m_filePath);
    try {
        if (!file.open(QIODevice::ReadOnly))
            throw SyncDecodingError(file.errorString());
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            throw SyncDecodingError(file.errorString());
        return {decodeUploadJournal(bytes), false};
    } catch (const SyncDecodingError &error) {
        qCCritical(lcSync, "Failed to load upload runs: %s", error.what());
    }
    return {{}, true};
}

QFuture<bool> UploadJournal::write(const UploadJournalEntries &entries)
{
    // Encoded here: the writer's thread touches nothing the caller keeps.
    const QByteArray bytes = encodeUploadJournal(entries);
    return QtConcurrent::run(&m_writer, [path = m_filePath, bytes] {
        QString error;
        if (writeFileAtomically(path, bytes, &error))
            return true;
        qCCritical(lcSync, "Failed to save upload runs: %s", qUtf8Printable(error));
        return false;
    });
}

void UploadJournal::waitForWrites()
{
    m_writer.waitForDone();
}
