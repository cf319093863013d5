// The scan of real temporary trees.

#include "support/LogCapture.h"
#include "support/TempTree.h"
#include "sync/FolderScanner.h"
#include "sync/UnicodeNames.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <dirent.h>

using testsupport::TempTree;

namespace {

const QString syncCategory = QStringLiteral("no.varnostima.mac.Sync");

QStringList relativePaths(const QList<SyncFolder> &folders)
{
    QStringList paths;
    for (const auto &f : folders)
        paths.append(f.relativePath);
    return paths;
}

SyncFolder previousFolder(const QString &relativePath, SyncStatus status = SyncStatus::synced("g", "s", 1))
{
    SyncFolder f;
    f.relativePath = relativePath;
    f.path = QStringLiteral("/e/") + relativePath;
    f.name = relativePath.section(QLatin1Char('/'), -1);
    f.displayName = f.name;
    f.status = status;
    return f;
}

} // namespace

class TestFolderScanner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!qEnvironmentVariableIsSet("VARNOSTIMA_UNTYPED_LISTINGS"))
            return;
        // The run meant to walk listings without entry types really gets them.
        TempTree tree;
        tree.addFile("A/1.jpg");
        DIR *dir = ::opendir(QFile::encodeName(tree.root()).constData());
        QVERIFY(dir);
        const dirent *entry = ::readdir(dir);
        while (entry && entry->d_name[0] == '.')
            entry = ::readdir(dir);
        QVERIFY(entry);
        QCOMPARE(int(entry->d_type), int(DT_UNKNOWN));
        ::closedir(dir);
    }

    void treeShape_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("expected"); // relative path:image count:parent components:status
        QTest::newRow("images at the top only") << QStringList{"a.jpg", "b.png"} << QStringList{};
        QTest::newRow("nested folders both with images")
            << QStringList{"A/1.jpg", "A/B/2.jpg"} << QStringList{"A:1::0", "A/B:1:A:0"};
        QTest::newRow("only the deep folder") << QStringList{"A/B/2.jpg", "A/notes.txt"} << QStringList{"A/B:1:A:0"};
        QTest::newRow("hidden folders and files")
            << QStringList{".cache/x.jpg", "A/.hidden.jpg", "A/1.jpg", "A/.sub/2.jpg"} << QStringList{"A:1::0"};
        QTest::newRow("extensions")
            << QStringList{"A/IMG_1.JPG", "A/b.Jpeg", "A/c.webp", "A/d.tiff", "A/e.jpg.txt", "A/jpg", "B/x.PNG"}
            << QStringList{"A:3::0", "B:1::0"};
        QTest::newRow("natural order, case-insensitive")
            << QStringList{"Shoot 10/a.jpg", "Shoot 2/a.jpg", "album/a.jpg", "Bryllup/a.jpg"}
            << QStringList{"album:1::0", "Bryllup:1::0", "Shoot 2:1::0", "Shoot 10:1::0"};
        QTest::newRow("names equal but for case, by code point")
            << QStringList{"a/1.jpg", "A/1.jpg", "b/1.jpg"} << QStringList{"A:1::0", "a:1::0", "b:1::0"};
        QTest::newRow("three levels") << QStringList{"2024/Juni/Bryllup/1.jpg", "2024/Juni/Bryllup/2.jpg"}
                                      << QStringList{"2024/Juni/Bryllup:2:2024,Juni:0"};
        // "Ignored" holds the ignored path; its subfolder is not ignored.
        QTest::newRow("ignored folder, subfolder not")
            << QStringList{"Ignored/1.jpg", "Ignored/B/1.jpg"} << QStringList{"Ignored:1::4", "Ignored/B:1:Ignored:0"};
    }

    void treeShape()
    {
        QFETCH(QStringList, files);
        TempTree tree;
        for (const auto &f : files)
            tree.addFile(f, 1);
        tree.addDir(QStringLiteral("Empty/Deeper"));
        const QList<SyncFolder> folders = FolderScanner::scanFolderTree(tree.root(), {tree.path("Ignored")});
        QStringList got;
        for (const auto &f : folders) {
            got.append(QStringLiteral("%1:%2:%3:%4").arg(f.relativePath).arg(f.imageCount)
                           .arg(f.parentComponents.join(QLatin1Char(','))).arg(int(f.status.kind())));
            QCOMPARE(f.path, tree.path(f.relativePath));
            QCOMPARE(f.cachedLocalFileMeta->size(), f.imageCount);
        }
        QTEST(got, "expected");
    }

    void metadataAndImageOrder()
    {
        TempTree tree;
        tree.addFile("A/b.jpg", 1234, 1700000000.25);
        tree.addFile("A/C.jpg", 0);
        const QList<SyncFolder> folders = FolderScanner::scanFolderTree(tree.root(), {});
        QCOMPARE(folders.size(), 1);
        const SyncFolder &a = folders.first();
        const LocalFileMeta meta = a.cachedLocalFileMeta->value("b.jpg");
        QCOMPARE(meta.size, 1234);
        QVERIFY(meta.mtime && qAbs(*meta.mtime - (1700000000.25 - referencedate::unixOffsetSeconds)) < 1e-6);

        QCOMPARE(FolderScanner::listImages(a.path), (QStringList{a.path + "/C.jpg", a.path + "/b.jpg"}));
        // The per-file reader against what was written, not against the scan (they share the directory reader).
        const LocalFileMetaMap read = FolderScanner::localFileMetadata({a.path + "/b.jpg", a.path + "/C.jpg"});
        QCOMPARE(read.value("b.jpg").size, 1234);
        QVERIFY(qAbs(*read.value("b.jpg").mtime - (1700000000.25 - referencedate::unixOffsetSeconds)) < 1e-6);
        QCOMPARE(read.value("C.jpg").size, 0);
        QVERIFY(read.value("C.jpg").mtime);
    }

    // The listing sorts and tests names as raw bytes; these are the names where bytes and text part ways.
    void imageNames_data()
    {
        QTest::addColumn<QList<QByteArray>>("created");
        QTest::addColumn<QStringList>("expected"); // listed, in order
        QTest::addColumn<int>("invalid");
        QTest::newRow("ASCII, shared eight-byte prefixes")
            << QList<QByteArray>{"IMG_0001_b.jpg", "IMG_0001.jpg", "IMG_0001_a.jpg", "b.jpg.png", "b.jpg", "ab.jpg",
                                 "a.jpg", "a.jpeg", "C.jpg"}
            << QStringList{"C.jpg", "IMG_0001.jpg", "IMG_0001_a.jpg", "IMG_0001_b.jpg", "a.jpeg", "a.jpg",
                           "ab.jpg", "b.jpg", "b.jpg.png"}
            << 0;
        QTest::newRow("letters above ASCII after it")
            << QList<QByteArray>{"\xc3\xa5.jpg", "\xc3\x9f.jpg", "z.jpg", "\xc3\x98.jpg"}
            << QStringList{"z.jpg", u"\u00d8.jpg"_qs, u"\u00df.jpg"_qs, u"\u00e5.jpg"_qs} << 0;
        QTest::newRow("a combining mark sorts as the composed letter")
            << QList<QByteArray>{"e\xcc\x81.jpg", "z.jpg", "f.jpg", "e.jpg"}
            << QStringList{"e.jpg", "f.jpg", "z.jpg", u"e\u0301.jpg"_qs} << 0;
        QTest::newRow("beyond the basic plane after U+FF21")
            << QList<QByteArray>{"\xf0\x9f\x98\x80.jpg", "\xef\xbc\xa1.jpg", "\xe6\x97\xa5.jpg"}
            << QStringList{u"\u65e5.jpg"_qs, u"\uff21.jpg"_qs, u"\U0001f600.jpg"_qs} << 0;
        QTest::newRow("extensions")
            << QList<QByteArray>{"\xc3\x91.PNG", "x.jPeG", "v.WEBP", "y.\xef\xbd\x8a\xef\xbd\x90\xef\xbd\x87",
                                 "z.jp\xc3\xa9", "w.webp.txt", "jpg"}
            << QStringList{"v.WEBP", "x.jPeG", u"\u00d1.PNG"_qs} << 0;
        QTest::newRow("hidden") << QList<QByteArray>{".jpg", "..jpg", ".a.jpg", "a.jpg"} << QStringList{"a.jpg"} << 0;
        QTest::newRow("not UTF-8: overlong, surrogate, above U+10FFFF, cut short")
            << QList<QByteArray>{"\xc0\xaf.jpg", "\xed\xa0\x80.jpg", "\xf4\x90\x80\x80.jpg", "ok\xc3.jpg", "ok.jpg"}
            << QStringList{"ok.jpg"} << 4;
    }

    void imageNames()
    {
        QFETCH(QList<QByteArray>, created);
        QFETCH(QStringList, expected);
        TempTree tree;
        tree.addDir("A");
        for (const QByteArray &name : created)
            tree.addRawFile("A", name, 1);
        QStringList paths;
        for (const QString &name : expected)
            paths.append(tree.path("A/" + name));
        QCOMPARE(FolderScanner::listImages(tree.path("A")), paths);
        // What an update reads in one listing is what the listing and a stat of each listed image give.
        const FolderScanner::LocalImages local = FolderScanner::readLocalImages(tree.path("A"));
        QCOMPARE(local.images, paths);
        QCOMPARE(local.metadata, FolderScanner::localFileMetadata(paths));
        testsupport::LogCapture log;
        const QList<SyncFolder> folders = FolderScanner::scanFolderTree(tree.root(), {});
        QCOMPARE(folders.size(), 1);
        QCOMPARE(folders.first().imageCount, expected.size());
        QTEST(log.count(syncCategory, "not valid UTF-8"), "invalid");
    }

    void imageOrderIsScalarOrder()
    {
        const QStringList pieces{"a", "B", "z", "_", " ", "0", "9", "IMG_00", u"\u00e6"_qs, u"\u00d8"_qs,
                                 u"\u00e9"_qs, u"e\u0301"_qs, u"\u03a9"_qs, u"\u65e5"_qs, u"\uff21"_qs,
                                 u"\U0001f600"_qs, u"\ufb01"_qs};
        const QStringList extensions{".jpg", ".JPG", ".jpeg", ".png", ".webp", ".Jpg", ".txt"};
        QRandomGenerator random(27);
        TempTree tree;
        tree.addDir("A");
        QStringList images;
        QSet<QString> canonicalNames; // two spellings of one name would sort by listing order
        while (canonicalNames.size() < 400) {
            QString name;
            for (int i = random.bounded(1, 6); i > 0; --i)
                name += pieces.at(random.bounded(int(pieces.size())));
            name += extensions.at(random.bounded(int(extensions.size())));
            if (canonicalNames.contains(name.normalized(QString::NormalizationForm_C)))
                continue;
            canonicalNames.insert(name.normalized(QString::NormalizationForm_C));
            tree.addFile("A/" + name, 1);
            if (isImageFileName(name))
                images.append(tree.path("A/" + name));
        }
        unicodenames::sortByScalars(images);
        QCOMPARE(FolderScanner::listImages(tree.path("A")), images);
    }

    void onlyRegularFilesAreImages()
    {
        TempTree tree;
        tree.addFile("A/real.jpg", 3);
        tree.addDir("A/folder.jpg");
        tree.addFifo("A/pipe.jpg");
        tree.addSymlink("A/link.jpg", tree.path("A/real.jpg"));
        const QList<SyncFolder> folders = FolderScanner::scanFolderTree(tree.root(), {});
        QCOMPARE(relativePaths(folders), QStringList{"A"});
        QCOMPARE(*folders.first().cachedLocalFileNames(), QSet<QString>{"real.jpg"});
        QCOMPARE(FolderScanner::listImages(tree.path("A")), QStringList{tree.path("A/real.jpg")});
    }

    void linksAreNotFollowedBelowTheExportFolder()
    {
        TempTree tree;
        tree.addFile("real/A/1.jpg");
        tree.addSymlink("real/A/loop", tree.path("real/A"));
        tree.addSymlink("real/A/up", "..");
        tree.addSymlink("real/Elsewhere", tree.path("real/A"));
        tree.addSymlink("chosen", tree.path("real"));
        QCOMPARE(relativePaths(FolderScanner::scanFolderTree(tree.path("real"), {})), QStringList{"A"});
        // The export folder itself may be a link.
        QCOMPARE(relativePaths(FolderScanner::scanFolderTree(tree.path("chosen"), {})), QStringList{"A"});
    }

    void invalidUtf8NamesAreSkippedAndLogged()
    {
        QString root;
        {
            TempTree tree;
            root = tree.root();
            tree.addFile("A/ok.jpg");
            tree.addRawFile("A", QByteArray("bad\xff.jpg"), 1);
            tree.addRawDir("", QByteArray("D\xc3("));
            testsupport::LogCapture log;
            const QList<SyncFolder> folders = FolderScanner::scanFolderTree(tree.root(), {});
            QCOMPARE(relativePaths(folders), QStringList{"A"});
            QCOMPARE(*folders.first().cachedLocalFileNames(), QSet<QString>{"ok.jpg"});
            QCOMPARE(log.count(syncCategory, "not valid UTF-8"), 2);
        }
        QVERIFY(!QFileInfo::exists(root)); // such names left behind by no test run
    }

    void unreadableFoldersAreLoggedAndSkipped()
    {
        TempTree tree;
        testsupport::LogCapture log;
        QVERIFY(FolderScanner::scanFolderTree(tree.path("missing"), {}).isEmpty());
        QVERIFY(FolderScanner::listImages(tree.path("missing")).isEmpty());
        QStringList errors;
        for (const auto &line : log.lines(syncCategory)) {
            if (line.type == QtCriticalMsg)
                errors.append(line.message.section(QLatin1Char(':'), 0, 0));
        }
        QCOMPARE(errors, (QStringList{"Failed to scan directory missing", "Failed to list images in missing"}));
    }

    void vanishedFileKeepsAnEntryWithoutMetadata()
    {
        TempTree tree;
        const QString gone = tree.addFile("A/gone.jpg", 10);
        const QStringList images = FolderScanner::listImages(tree.path("A"));
        QVERIFY(TempTree::remove(gone));
        const LocalFileMetaMap meta = FolderScanner::localFileMetadata(images);
        QCOMPARE(meta.value("gone.jpg"), LocalFileMeta{});
        const auto changes = FolderScanner::detectModifiedFiles(images, meta, {{"gone.jpg", 10, std::nullopt}});
        QCOMPARE(changes.modifiedImages, images);
    }

    void detectModifiedFiles()
    {
        const QStringList images{"/e/A/new.jpg", "/e/A/same.jpg", "/e/A/changed.jpg", "/e/A/nometa.jpg"};
        const LocalFileMetaMap meta{{"new.jpg", {1, 1.0}}, {"same.jpg", {5, 1.0}}, {"changed.jpg", {6, 1.0}}};
        const QList<UploadedFileMeta> records{
            {"same.jpg", 5, 1.0}, {"changed.jpg", 5, 1.0}, {"changed.jpg", 6, 1.0}, // first record of a name counts
            {"nometa.jpg", 9, std::nullopt}, {"removed.jpg", 1, std::nullopt}};
        const auto changes = FolderScanner::detectModifiedFiles(images, meta, records);
        QCOMPARE(changes.newImages, QStringList{"/e/A/new.jpg"});
        QCOMPARE(changes.modifiedImages, QStringList{"/e/A/changed.jpg"});
        QCOMPARE(changes.removedNames, QSet<QString>{"removed.jpg"});
    }

    void movedFolders_data()
    {
        QTest::addColumn<QList<SyncFolder>>("previous");
        QTest::addColumn<QStringList>("scanned");
        QTest::addColumn<QStringList>("movedFrom"); // per scanned folder, empty for none

        const QList<SyncFolder> one{previousFolder("2023/Wedding")};
        QTest::newRow("moved") << one << QStringList{"2024/Wedding"} << QStringList{"2023/Wedding"};
        QTest::newRow("both places") << one << QStringList{"2023/Wedding", "2024/Wedding"} << QStringList{"", ""};
        QTest::newRow("two bearers") << one << QStringList{"2024/Wedding", "2025/Wedding"} << QStringList{"", ""};
        QTest::newRow("first of two sources")
            << QList<SyncFolder>{previousFolder("X/Wedding"), previousFolder("Y/Wedding")}
            << QStringList{"Z/Wedding"} << QStringList{"X/Wedding"};
        // A pending move survives the next scan, whatever the folder's status, until its old place is back.
        for (const auto &status : {SyncStatus::synced("g", "s", 1), SyncStatus::notSynced(), SyncStatus::failed("x")}) {
            SyncFolder pending = previousFolder("2024/Wedding", status);
            pending.movedFrom = QStringLiteral("2023/Wedding");
            QTest::addRow("pending move kept, status %d", int(status.kind()))
                << QList<SyncFolder>{pending} << QStringList{"2024/Wedding"} << QStringList{"2023/Wedding"};
            QTest::addRow("pending move moot, status %d", int(status.kind()))
                << QList<SyncFolder>{pending} << QStringList{"2023/Wedding", "2024/Wedding"} << QStringList{"", ""};
        }
        for (const auto &status : {SyncStatus::notSynced(), SyncStatus::failed("x"), SyncStatus::ignored(),
                                   SyncStatus::removedLocally("g", "s")}) {
            QTest::addRow("source status %d", int(status.kind()))
                << QList<SyncFolder>{previousFolder("2023/Wedding", status)} << QStringList{"2024/Wedding"}
                << QStringList{""};
        }
    }

    void movedFolders()
    {
        QFETCH(QList<SyncFolder>, previous);
        QFETCH(QStringList, scanned);
        QList<SyncFolder> folders;
        for (const auto &relative : scanned)
            folders.append(previousFolder(relative, SyncStatus::notSynced()));
        FolderScanner::detectMovedFolders(folders, previous);
        QStringList moved;
        for (const auto &f : folders)
            moved.append(f.movedFrom.value_or(QString()));
        QTEST(moved, "movedFrom");
    }
};

QTEST_GUILESS_MAIN(TestFolderScanner)
#include "tst_folderscanner.moc"
