// The upload pipeline: presign, put four at a time in groups, confirm once.

#include "SyncManager.h"

QCoro::Task<UploadBatchResult> SyncManager::uploadFiles(QStringList files, QString galleryId, SyncFolder folder)
{
    Q_UNUSED(files);
    Q_UNUSED(galleryId);
    Q_UNUSED(folder);
    co_return UploadBatchResult{};
}

QCoro::Task<FileUploadOutcome> SyncManager::uploadOneFile(PresignedResponse::PresignedURL entry, QString filePath)
{
    Q_UNUSED(entry);
    Q_UNUSED(filePath);
    co_return FileUploadOutcome{};
}
