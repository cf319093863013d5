// The upload pipeline: describe the files, presign, put four at a time in groups, confirm once.
// It records nothing; the first sync and the folder update record its result.

#include "FolderEntryEdit.h"
#include "SyncErrors.h"
#include "SyncLogging.h"
#include "SyncManager.h"

#include "service/Errors.h"
#include "service/VarnostimaAPI.h"

#include <QFileInfo>
#include <QPointer>

#include <sys/stat.h>

#include <cerrno>

#include <memory>
#include <vector>

namespace {

constexpr qsizetype kGroupSize = 4;

QString lastComponent(const QString &path)
{
    return QFileInfo(path).fileName();
}

std::optional<QString> mimeTypeOfPath(const QString &path)
{
    return mimeTypeForExtension(QFileInfo(path).suffix().toLower());
}

// The size of a regular file, or nothing when it cannot be read.
std::optional<qint64> regularFileSize(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() || !info.isFile())
        return std::nullopt;
    return info.size();
}

// What the listing found and the upload is about to describe: a regular file with its size, a path where no
// regular file stands any more (gone, or a folder or link put in its place), or one whose size cannot be read.
struct Prepared {
    enum class Kind { file, gone, unreadable } kind;
    qint64 size = 0;
};

Prepared prepare(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return {errno == ENOENT || errno == ENOTDIR ? Prepared::Kind::gone : Prepared::Kind::unreadable};
    if (!S_ISREG(info.st_mode))
        return {Prepared::Kind::gone};
    return {Prepared::Kind::file, qint64(info.st_size)};
}

// An error status that the service answered with, as opposed to no answer or one that could not be read.
bool answeredError(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const APIError &apiError) {
        return apiError.errorCase() != APIError::Case::invalidResponse;
    } catch (...) {
        return false;
    }
}

// Outcomes of one group in the order its uploads finished.
struct GroupOutcomes {
    QList<FileUploadOutcome> finished;
};

QCoro::Task<void> collectOutcome(QCoro::Task<FileUploadOutcome> upload, std::shared_ptr<GroupOutcomes> group)
{
    group->finished.append(co_await std::move(upload));
}

} // namespace

QCoro::Task<UploadBatchResult> SyncManager::uploadFiles(QStringList files, QString galleryId, SyncFolder folder)
{
    QPointer<SyncManager> self(this);
    QPointer<VarnostimaAPI> api(&this->api());

    if (m_uploadStepHook)
        m_uploadStepHook(UploadStep::describing, files);

    // A file that vanished since the listing is left out; the next scan sees the truth.
    QStringList listed;
    std::swap(listed, files);
    QStringList leftOut;
    QList<PresignedRequest::FileInfo> descriptions;
    descriptions.reserve(listed.size());
    for (const QString &file : std::as_const(listed)) {
        const std::optional<QString> type = mimeTypeOfPath(file);
        const Prepared prepared = type ? prepare(file) : Prepared{Prepared::Kind::unreadable};
        if (prepared.kind == Prepared::Kind::gone) {
            qCWarning(lcSync, "Leaving %s in %s out of the upload: it is no longer a file", qUtf8Printable(lastComponent(file)),
                      qUtf8Printable(folder.name));
            leftOut.append(lastComponent(file));
            continue;
        }
        if (prepared.kind == Prepared::Kind::unreadable) {
            qCCritical(lcSync, "Cannot prepare upload for %s in %s — missing MIME or unreadable file size",
                       qUtf8Printable(lastComponent(file)), qUtf8Printable(folder.name));
            throw SyncManagerError::unreadable(lastComponent(file));
        }
        descriptions.append({lastComponent(file), *type, prepared.size});
        files.append(file);
    }

    QStringList names;
    for (const PresignedRequest::FileInfo &description : std::as_const(descriptions))
        names.append(description.name);
    co_await noteUploadInFlight(folder.path, galleryId, names);
    if (!self || !api)
        throw std::runtime_error("the sync engine went away during an upload");
    PresignedResponse presigned;
    try {
        presigned = co_await api->requestPresignedURLs(galleryId, descriptions);
    } catch (...) {
        // Nothing was put: there is nothing the service could have confirmed.
        if (self)
            self->m_runBook.endRun(folder.path, UploadRunBook::Outcome::notApplied);
        throw;
    }
    if (presigned.presignedUrls.size() != files.size()) {
        if (self)
            self->m_runBook.endRun(folder.path, UploadRunBook::Outcome::notApplied);
        qCCritical(lcSync, "Presigned URL count mismatch in %s: got %lld, expected %lld", qUtf8Printable(folder.name),
                   qint64(presigned.presignedUrls.size()), qint64(files.size()));
        throw SyncManagerError::countMismatch(presigned.presignedUrls.size(), files.size());
    }

    if (self && self->m_uploadStepHook)
        self->m_uploadStepHook(UploadStep::sending, files);

    const qsizetype total = files.size();
    qint64 successCount = 0;
    qint64 totalBytes = 0;
    QStringList failedKeys;
    QStringList uploadedNames;

    for (qsizetype start = 0; start < total; start += kGroupSize) {
        const qsizetype end = std::min(start + kGroupSize, total);
        auto group = std::make_shared<GroupOutcomes>();
        std::vector<QCoro::Task<void>> running;
        running.reserve(end - start);
        for (qsizetype i = start; i < end; ++i) {
            if (!self)
                break;
            running.push_back(collectOutcome(
                uploadOneFile(presigned.presignedUrls.at(i), files.at(i), descriptions.at(i).size), group));
        }
        for (auto &task : running)
            co_await std::move(task);

        for (const FileUploadOutcome &outcome : std::as_const(group->finished)) {
            if (outcome.failedKey) {
                failedKeys.append(*outcome.failedKey);
            } else {
                ++successCount;
                uploadedNames.append(outcome.fileName);
                totalBytes += outcome.bytes;
            }
        }
        if (self) {
            const double progress = double(successCount) / double(total);
            setRunningStatus(*self, folder.path, SyncStatus::syncing(progress));
        }
        if (!self || !api)
            throw std::runtime_error("the sync engine went away during an upload");
    }

    ConfirmRequest confirm;
    confirm.imageCount = successCount;
    confirm.totalBytes = totalBytes;
    if (!failedKeys.isEmpty())
        confirm.failedKeys = failedKeys;
    // The run is on disk since before its presigned request: a kill after the confirmation went out finds it
    // there. Whatever was saved meanwhile is on disk too before the service applies the run.
    if (!self || !api)
        throw std::runtime_error("the sync engine went away during an upload");
    co_await ensureSaved();
    if (!self || !api)
        throw std::runtime_error("the sync engine went away during an upload");
    try {
        co_await api->confirmUpload(galleryId, confirm);
    } catch (...) {
        // An answered error: the run was not applied, its uploads are abandoned. No answer (or one that could not
        // be read): the service may have applied it.
        const bool answered = answeredError(std::current_exception());
        if (self && answered)
            self->m_runBook.endRun(folder.path, UploadRunBook::Outcome::notApplied);
        if (self && !answered) {
            qCWarning(lcSync, "The confirmation for %s got no answer — the gallery is asked before the next upload",
                      qUtf8Printable(folder.name));
            self->m_runBook.endRun(folder.path, UploadRunBook::Outcome::unknown);
        }
        throw;
    }
    // The run stays noted until the save that carries the folder's new records (saveRecords).
    if (self) {
        self->m_runBook.endRun(folder.path, UploadRunBook::Outcome::confirmed);
        self->finishReplacements(folder.path, galleryId, uploadedNames);
    }

    co_return UploadBatchResult{successCount, qint64(failedKeys.size()), uploadedNames, leftOut};
}

QCoro::Task<FileUploadOutcome> SyncManager::uploadOneFile(PresignedResponse::PresignedURL entry, QString filePath,
                                                          std::optional<qint64> declaredSize)
{
    const QString fileName = lastComponent(filePath);
    const QString contentType = mimeTypeOfPath(filePath).value_or(QStringLiteral("application/octet-stream"));
    QPointer<VarnostimaAPI> api(&this->api());
    try {
        co_await api->uploadToPresignedURL(entry.url, filePath, contentType, declaredSize);
    } catch (const UserFacingError &error) {
        qCCritical(lcSync, "Upload failed for %s: %s", qUtf8Printable(fileName),
                   qUtf8Printable(error.logDescription()));
        co_return FileUploadOutcome{fileName, entry.key, 0};
    } catch (const std::exception &error) {
        qCCritical(lcSync, "Upload failed for %s: %s", qUtf8Printable(fileName), error.what());
        co_return FileUploadOutcome{fileName, entry.key, 0};
    } catch (...) {
        qCCritical(lcSync, "Upload failed for %s: unknown error", qUtf8Printable(fileName));
        co_return FileUploadOutcome{fileName, entry.key, 0};
    }
    // The upload checked that the file held the declared size from start to end: that is what was sent.
    co_return FileUploadOutcome{fileName, std::nullopt,
                                declaredSize ? *declaredSize : regularFileSize(filePath).value_or(0)};
}
