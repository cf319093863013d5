// Every file the app writes is readable by its owner only (0600), every folder it makes too (0700), also when an
// older version left the file readable by others.

#include "platform/CrashHandler.h"
#include "platform/ExportFolderBookmark.h"
#include "platform/LoginItemService.h"
#include "sync/RecentUpload.h"
#include "sync/StateLedger.h"
#include "sync/UploadHistoryStore.h"
#include "sync/UploadJournal.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <sys/stat.h>

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : mode_t(-1);
}

using Writer = std::function<QString(const QString &folder)>; // writes, returns what it wrote

} // namespace

Q_DECLARE_METATYPE(Writer)

class TestPrivateFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ownerOnly_data()
    {
        QTest::addColumn<Writer>("write");
        QTest::addColumn<int>("mode");
        QTest::newRow("state file") << Writer([](const QString &folder) {
            StateLedger ledger(folder);
            ledger.load();
            StateSources sources;
            sources.knownGalleryIds = {QStringLiteral("gal-1")};
            ledger.save(sources);
            ledger.flush();
            return ledger.stateFilePath();
        }) << 0600;
        QTest::newRow("state log") << Writer([](const QString &folder) {
            StateLedger ledger(folder);
            ledger.load();
            ledger.save({});
            ledger.flush();
            return ledger.logFilePath();
        }) << 0600;
        QTest::newRow("upload runs") << Writer([](const QString &folder) {
            StateLedger ledger(folder);
            ledger.load();
            StateSources sources;
            sources.entries.replacements.insert(QStringLiteral("/e/a"), {QStringLiteral("gal-1"), {QStringLiteral("a.jpg")}});
            ledger.save(sources);
            ledger.flush();
            return ledger.journalFilePath();
        }) << 0600;
        QTest::newRow("recent uploads") << Writer([](const QString &folder) {
            const QString path = folder + QStringLiteral("/recent-uploads.json");
            UploadHistoryStore(QUrl::fromLocalFile(path)).save();
            return path;
        }) << 0600;
        QTest::newRow("bookmark") << Writer([](const QString &folder) {
            const QString path = folder + QStringLiteral("/watch-folder.bookmark");
            ExportFolderBookmark(path).write("/home/x/Eksport", nullptr);
            return path;
        }) << 0600;
        QTest::newRow("autostart entry") << Writer([](const QString &folder) {
            AutostartEntry entry(folder + QStringLiteral("/varnostima.desktop"), QStringLiteral("/usr/bin/varnostima"));
            entry.registerItem();
            return entry.entryPath();
        }) << 0600;
        QTest::newRow("crash report folder") << Writer([](const QString &folder) {
            const QString path = folder + QStringLiteral("/Crash Reports");
            CrashHandler::install(path, QStringLiteral("test"));
            CrashHandler::uninstall();
            return path;
        }) << 0700;
    }
    void ownerOnly()
    {
        QFETCH(Writer, write);
        QFETCH(int, mode);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        ::umask(022);
        const QString path = write(dir.path());
        QCOMPARE(modeOf(path), mode_t(mode));
        // Left readable by an older version: mended by the next write.
        QVERIFY(::chmod(QFile::encodeName(path).constData(), mode | 0055) == 0);
        write(dir.path());
        QCOMPARE(modeOf(path), mode_t(mode));
    }
};

QTEST_GUILESS_MAIN(TestPrivateFiles)
#include "tst_privatefiles.moc"
