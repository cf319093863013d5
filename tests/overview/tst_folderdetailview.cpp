// The inspector as a whole: its header and counters, the changes section, the gallery link, the copied flag, and
// two actions end to end against the stand-in service.

#include "FolderZoo.h"
#include "overview/detail/FolderDetailChanges.h"
#include "overview/detail/FolderDetailHeader.h"
#include "overview/detail/FolderDetailView.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "support/ShownText.h"
#include "sync/UploadTestFixture.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTest>
#include <QTextDocument>

#include <cmath>

using namespace std::chrono_literals;

namespace {

SyncFolder syncedFolder(const QString &path, const QString &galleryId)
{
    return zoo::at(path, SyncStatus::synced(galleryId, "slug", 2));
}

QStringList names(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("IMG_%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
    return list;
}

// The view over the stand-in service, the engine, and an account whose base URL file the test writes.
struct Inspector {
    uploadtest::Fixture engine;
    testsupport::TempTree accountFolder;
    SecureStorage storage{accountFolder.root()};
    AuthManager auth{engine.api, storage, AuthManager::StartupRestore::Manual};
    RecordingUrlOpener browser;
    QStringList revealed;
    FolderDetailView view;

    explicit Inspector(std::chrono::milliseconds copiedFor = 1h)
        : view(FolderDetailContext{&engine.manager, &auth, nullptr, &browser,
                                   [this](const QString &path) { revealed << path; }, copiedFor, {}})
    {
    }
};

} // namespace

class TestFolderDetailView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parentPath_data()
    {
        QTest::addColumn<QStringList>("components");
        QTest::addColumn<QString>("text");
        QTest::newRow("top level") << QStringList{} << "";
        QTest::newRow("underscores and hyphens") << QStringList{"2024_05--Bryllup"} << "2024 05 Bryllup";
        QTest::newRow("three blanks become two") << QStringList{"A___B"} << "A  B";
        QTest::newRow("trimmed, joined") << QStringList{"_Kunder_", "\tOslo "} << "Kunder \u203A Oslo";
        // A component that could turn the rest of the line around stands in an isolate of its own.
        QTest::newRow("direction control") << QStringList{"\u202EKunder", "Oslo"}
                                           << "\u2068\u202EKunder\u2069 \u203A Oslo";
    }
    void parentPath()
    {
        QFETCH(QStringList, components);
        QFETCH(QString, text);
        const QString shown = parentPathText(components);
        QCOMPARE(shown, text);
        if (components.size() > 1)
            QVERIFY(testsupport::readsLeftToRight(shown, QStringLiteral(" \u203A Oslo")));
    }

    void progress_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<double>("bar");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 0.0 << 0.02 << "Laster opp… 0%";
        QTest::newRow("truncated") << 0.4567 << 0.4567 << "Laster opp… 45%";
        QTest::newRow("not a number") << std::nan("") << 0.02 << "Laster opp… 0%";
    }
    void progress()
    {
        QFETCH(double, progress);
        QFETCH(double, bar);
        QFETCH(QString, text);
        FolderDetailInfo info;
        SyncFolder folder;
        folder.status = SyncStatus::syncing(progress);
        info.setFolder(folder);
        QCOMPARE(info.progressValue(), bar);
        QCOMPARE(info.progressText(), text);
        QCOMPARE(info.badgeTexts(), QStringList{"Bilder 0"});
    }

    void changesGroups_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QString>("more");
        QTest::newRow("15 names") << names(15) << qint64(15) << "15 nye" << 15 << "";
        QTest::newRow("16 names") << names(16) << qint64(16) << "16 nye" << 15 << "… og 1 til";
        QTest::newRow("a count without names") << QStringList{} << qint64(4) << "+4 nye" << 0 << "";
        QTest::newRow("nothing") << QStringList{} << qint64(0) << "" << 0 << "";
    }
    void changesGroups()
    {
        QFETCH(QStringList, names);
        QFETCH(qint64, count);
        QFETCH(QString, label);
        QFETCH(int, rows);
        QFETCH(QString, more);
        const ChangesGroup group = ChangesGroup::of(ChangesGroup::Kind::New, names, count);
        QCOMPARE(group.label, label);
        QCOMPARE(group.rows, names.mid(0, rows));
        QCOMPARE(group.moreRow, more);
        QCOMPARE(ChangesGroup::of(ChangesGroup::Kind::Removed, {}, 2).label, QString("\u2212" "2 fjernet"));
    }

    // Header, counters and whether the changes section shows, per state.
    void sections_data()
    {
        QTest::addColumn<SyncFolder>("folder");
        QTest::addColumn<QStringList>("badges");
        QTest::addColumn<QStringList>("changes"); // the groups of "Endringer"; none: the section is absent
        QTest::addColumn<QString>("skippedTip");
        SyncFolder clean = syncedFolder("/e/Kunder/Bryllup_Oslo", "g1");
        clean.parentComponents = {"Kunder"};
        SyncFolder added = clean;
        added.cachedLocalFileMeta->insert("c.jpg", {});
        SyncFolder baseline = clean;
        baseline.uploadedFiles->replace(0, UploadedFileMeta{"a.jpg", 0, std::nullopt});
        SyncFolder notSynced = clean;
        notSynced.status = SyncStatus::notSynced();
        notSynced.uploadedFiles.reset();
        SyncFolder modified = clean;
        modified.cachedLocalFileMeta = LocalFileMetaMap{{"a.jpg", {11, 1.0}}, {"b.jpg", {20, 2.0}}};
        SyncFolder skipped = clean;
        skipped.skippedEntries = {2, 1};
        SyncFolder notSyncedSkipped = notSynced;
        notSyncedSkipped.skippedEntries.tooLongPaths = 1;
        const QString why = QStringLiteral("Ikke lest av skanningen, og derfor ikke lastet opp:\n");
        const QString badNames = QStringLiteral("2 med et navn som ikke er gyldig UTF-8");
        const QString paths = QStringLiteral("1 med en sti som er lengre enn systemet tillater");
        const QStringList badges{"Bilder 2", "Lastet opp 2"};
        QTest::newRow("synced, clean") << clean << badges << QStringList{} << "";
        QTest::newRow("synced, a new image") << added << badges << QStringList{"1 nye"} << "";
        QTest::newRow("synced, only a missing baseline")
            << baseline << badges << QStringList{"1 bilde kontrolleres mot galleriet"} << "";
        QTest::newRow("synced, only a modified image") << modified << badges << QStringList{"1 endret"} << "";
        QTest::newRow("not synced, never uploaded images")
            << notSynced << QStringList{"Bilder 2"} << QStringList{} << "";
        QTest::newRow("synced, entries the scan skipped")
            << skipped << badges + QStringList{"Hoppet over 3"} << QStringList{} << why + badNames + u'\n' + paths;
        QTest::newRow("not synced, a path too long")
            << notSyncedSkipped << QStringList{"Bilder 2", "Hoppet over 1"} << QStringList{} << why + paths;
    }
    void sections()
    {
        QFETCH(SyncFolder, folder);
        QFETCH(QStringList, badges);
        QFETCH(QStringList, changes);
        QFETCH(QString, skippedTip);
        Inspector inspector;
        // From another state of the same folder: a change of any counter alone redraws the badges.
        SyncFolder before = folder;
        before.skippedEntries = {};
        inspector.view.setFolder(before);
        inspector.view.setFolder(folder);
        QCOMPARE(inspector.view.header()->title(), folder.displayName);
        QCOMPARE(inspector.view.header()->parentPath(), "Kunder");
        QCOMPARE(inspector.view.info()->badgeTexts(), badges);
        QCOMPARE(inspector.view.info()->chipText(), "Bryllup_Oslo");
        QCOMPARE(testsupport::shownToolTip(inspector.view.info()->chipToolTip()), folder.path);
        QCOMPARE(inspector.view.showsChanges(), !changes.isEmpty());
        if (!changes.isEmpty())
            QCOMPARE(inspector.view.changes()->labels(), changes);
        QCOMPARE(inspector.view.info()->skippedToolTip(), skippedTip);
        QVERIFY(!Qt::mightBeRichText(skippedTip));
    }

    // A name that looks like markup is shown as written: in the chip and its path tooltip.
    void namesShowAsWritten_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("bold tag") << "<b>Fet mappe";
        QTest::newRow("link") << "<a href=x>lenke</a>";
        QTest::newRow("entity and ampersand") << "Tom &amp; Jerry & co";
    }
    void namesShowAsWritten()
    {
        QFETCH(QString, name);
        Inspector inspector;
        SyncFolder folder = syncedFolder("/e/Kunder/x", "g1");
        folder.path = QStringLiteral("/e/Kunder/") + name;
        folder.name = name;
        folder.displayName = name;
        inspector.view.setFolder(folder);
        QCOMPARE(inspector.view.info()->chipText(), name);
        QCOMPARE(testsupport::shownToolTip(inspector.view.info()->chipToolTip()), folder.path);
    }

    // The link follows the base URL of the moment of the click, with the id as one encoded segment.
    void copyAndOpenLink()
    {
        Inspector inspector;
        inspector.storage.write("base-url", "https://a.example/app/");
        inspector.view.setFolder(syncedFolder("/e/Bryllup", "g/1"));
        inspector.view.actions()->trigger(FolderAction::CopyLink);
        QCOMPARE(QGuiApplication::clipboard()->text(), "https://a.example/app/gallery/g%2F1");
        QVERIFY(inspector.view.isCopied());

        inspector.storage.write("base-url", "https://b.example");
        inspector.view.actions()->trigger(FolderAction::CopyLink);
        QCOMPARE(QGuiApplication::clipboard()->text(), "https://b.example/gallery/g%2F1");
        inspector.view.actions()->trigger(FolderAction::OpenDashboard);
        QCOMPARE(inspector.browser.opened, QList<QUrl>{QUrl("https://b.example/gallery/g%2F1")});
    }

    // "Kopiert!" belongs to the folder whose link was copied, and goes after its wait.
    void copiedBelongsToItsFolder()
    {
        Inspector inspector;
        const SyncFolder first = syncedFolder("/e/A", "g1");
        const SyncFolder second = syncedFolder("/e/B", "g2");
        inspector.view.setFolder(first);
        inspector.view.actions()->trigger(FolderAction::CopyLink);
        QCOMPARE(inspector.view.actions()->button(FolderAction::CopyLink)->text(), "Kopiert!");
        inspector.view.setFolder(second);
        QCOMPARE(inspector.view.actions()->button(FolderAction::CopyLink)->text(), "Kopier");
        inspector.view.setFolder(first);
        QCOMPARE(inspector.view.actions()->button(FolderAction::CopyLink)->text(), "Kopiert!");

        Inspector quick(0ms);
        quick.view.setFolder(first);
        quick.view.actions()->trigger(FolderAction::CopyLink);
        QVERIFY(quick.view.isCopied());
        QTRY_VERIFY_WITH_TIMEOUT(!quick.view.isCopied(), 20000);
        QCOMPARE(quick.view.actions()->button(FolderAction::CopyLink)->text(), "Kopier");
    }

    void deleteRemovedFolderOnServer()
    {
        Inspector inspector;
        const QString galleryId = inspector.engine.service.seedGallery("Vinter");
        SyncFolder placeholder;
        placeholder.path = "__removed__/" + galleryId;
        placeholder.name = placeholder.displayName = placeholder.relativePath = "Vinter";
        placeholder.status = SyncStatus::removedLocally(galleryId, "vinter");
        inspector.engine.manager.setFolders({placeholder});
        inspector.engine.manager.setKnownGalleryIds({galleryId});
        inspector.view.setFolder(placeholder);

        inspector.view.actions()->trigger(FolderAction::DeleteFromServer);
        // Nothing is deleted before the user says yes.
        QMessageBox *question = inspector.view.actions()->deleteConfirmation();
        QVERIFY(question && !inspector.view.actions()->isWorking());
        QVERIFY(inspector.engine.service.gallery(galleryId));
        for (QAbstractButton *button : question->buttons()) {
            if (button->text() == QLatin1String("Slett"))
                button->click();
        }
        QVERIFY(inspector.view.actions()->isWorking());
        QTRY_VERIFY_WITH_TIMEOUT(!inspector.view.actions()->isWorking(), 20000);
        QVERIFY(!inspector.engine.service.gallery(galleryId));
        QVERIFY(inspector.engine.manager.folders().isEmpty());
    }

    void moveGalleryOnServer()
    {
        Inspector inspector;
        const QString oldFolder = inspector.engine.service.seedFolder("Gammelt");
        const QString galleryId = inspector.engine.service.seedGallery("Bryllup", oldFolder);
        SyncFolder moved = syncedFolder("/e/Ny/Bryllup", galleryId);
        moved.parentComponents = {"Ny"};
        moved.relativePath = "Ny/Bryllup";
        moved.movedFrom = "Gammelt/Bryllup";
        inspector.engine.manager.setFolders({moved});
        inspector.view.setFolder(moved);

        inspector.view.actions()->trigger(FolderAction::Move);
        QTRY_VERIFY_WITH_TIMEOUT(!inspector.view.actions()->isWorking(), 20000);
        const auto gallery = inspector.engine.service.gallery(galleryId);
        QVERIFY(gallery && gallery->folderId);
        const auto folders = inspector.engine.service.folders();
        const auto target = std::find_if(folders.cbegin(), folders.cend(),
                                         [&](const auto &f) { return f.id == *gallery->folderId; });
        QVERIFY(target != folders.cend());
        QCOMPARE(target->name, "Ny");
        QVERIFY(!inspector.engine.manager.folders().first().movedFrom);
    }
};

QTEST_MAIN(TestFolderDetailView)
#include "tst_folderdetailview.moc"
