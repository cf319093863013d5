#pragma once

#include <QString>
#include <QStringList>

#include "service/GalleryRecords.h" // the records the upload operations take and give
#include "service/UploadRecords.h"

#include <optional>

// The outcome of putting one file to its presigned URL.
struct FileUploadOutcome {
    QString fileName;
    std::optional<QString> failedKey; // the presigned entry's key when the upload failed
    qint64 bytes = 0;                 // the size read again after a successful upload
};

// What one run of the upload pipeline achieved; its callers record it.
struct UploadBatchResult {
    qint64 uploadedCount = 0;
    qint64 failedCount = 0;
    QStringList succeededFileNames; // in the order the uploads finished
    QStringList leftOutFileNames;   // no longer a file when the run described its files: neither sent nor failed
};
