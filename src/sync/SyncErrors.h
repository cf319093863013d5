#pragma once

#include "service/Errors.h"

#include <QLatin1StringView>
#include <QString>

// The sync engine's own errors (domain "no.varnostima.mac.SyncManager"); the message is the localized description.
class SyncManagerError : public UserFacingError
{
public:
    static constexpr QLatin1StringView domain{"no.varnostima.mac.SyncManager"};

    enum Code : int {
        unreadableFile = -1,   // no image type, or a size that cannot be read
        presignedCountMismatch = -2,
        notSaved = -3, // what must be on the disk before the service is asked could not be written
        galleryLinked = -4, // a removed folder's gallery that a folder is linked to is neither deleted nor forgotten
    };

    static SyncManagerError unreadable(const QString &fileName);
    static SyncManagerError countMismatch(qsizetype received, qsizetype expected);
    static SyncManagerError unsaved();
    static SyncManagerError linked();

    int code() const { return m_code; }

private:
    SyncManagerError(int code, QString message, QString logText);

    int m_code;
};
