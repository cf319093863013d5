// The overview window over a real engine and account manager talking to the stand-in service.

#include "FolderZoo.h"
#include "overview/detail/FolderDetailActions.h"
#include "overview/detail/FolderDetailHeader.h"
#include "overview/detail/FolderDetailView.h"
#include "overview/list/FolderListView.h"
#include "overview/list/FolderRowModel.h"
#include "overview/QuickActionsBar.h"
#include "overview/SyncOverviewView.h"
#include "overview/SyncStatusBar.h"
#include "platform/UrlOpener.h"
#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "service/VarnostimaAPI.h"
#include "support/AwaitTask.h"
#include "support/LogCapture.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncManager.h"

#include "ui/Buttons.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QLabel>
#include <QLayout>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

using namespace std::chrono_literals;
using testsupport::TempTree;

#define WAIT_VERIFY(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 60000)

Q_DECLARE_METATYPE(OverviewContent)
Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)
Q_DECLARE_METATYPE(std::optional<SyncFolder>)
Q_DECLARE_METATYPE(Theme::Foreground)

namespace {

struct Fixture {
    testsupport::StandInService service;
    TempTree support;
    TempTree exportTree;
    VarnostimaAPI api;
    std::unique_ptr<AuthManager> auth;
    std::unique_ptr<SyncManager> sync;
    RecordingUrlOpener browser;
    QStringList revealed;

    explicit Fixture(SyncDelays delays = SyncDelays{50ms, 50ms, 50ms})
    {
        service.addAccount("token");
        api.setTimeouts({5s, 5s, 20s});
        SecureStorage(support.root()).write(QStringLiteral("base-url"), service.baseUrl().toString());
        auth = std::make_unique<AuthManager>(api, SecureStorage(support.root()), AuthManager::StartupRestore::Manual);
        sync = std::make_unique<SyncManager>(support.root(), delays);
        sync->setAPI(api);
    }

    OverviewContext context()
    {
        OverviewContext c;
        c.authManager = auth.get();
        c.syncManager = sync.get();
        c.browser = &browser;
        c.makeSignInView = [](QWidget *parent) { return new QLabel(QStringLiteral("Logg inn"), parent); };
        c.revealFolder = [this](const QString &path) { revealed << path; };
        return c;
    }

    void signIn() { testsupport::awaitTask(auth->login(QStringLiteral("token"))); }
};

} // namespace

class TestSyncOverview : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void contentFollowsAccountAndEngine();
    void contentGetsTheMinimumSize();
    void viewStateSurvivesCloseAndReopen();
    void inspectorTextsKeepTheirLevel_data();
    void inspectorTextsKeepTheirLevel();
    void opening();
    void statusBar();
    void overviewCountsEachEditOnce_data();
    void overviewCountsEachEditOnce();
    void retryClearsTheBanner();
    void bannerGoesOnceTheServiceAnswers_data();
    void bannerGoesOnceTheServiceAnswers();
    void firstImportWithTheWindowOpen();
    void previewShowsTheFolderAsItIsAfterReopening();
    void previewFollowsAnExportWhileOpen();
    void emptiedFolderShowsWhatIsTrue_data();
    void emptiedFolderShowsWhatIsTrue();
};

void TestSyncOverview::contentFollowsAccountAndEngine()
{
    Fixture f;
    SyncOverviewView window(f.context());
    window.show();
    QCOMPARE(window.content(), OverviewContent::SignIn);

    f.signIn();
    QCOMPARE(window.content(), OverviewContent::ExportFolderPrompt);
    f.sync->setHasCompletedInitialReconcile(true);
    QCOMPARE(window.content(), OverviewContent::ExportFolderPrompt); // no folder chosen yet
    f.auth->logout();
    QCOMPARE(window.content(), OverviewContent::SignIn);
}

// The menu bar and the toolbar come on top of the 700 x 400 the content gets, whatever it shows.
void TestSyncOverview::contentGetsTheMinimumSize()
{
    Fixture f;
    SyncOverviewView window(f.context());
    window.show();
    const auto shrunk = [&window] {
        window.resize(1, 1);
        window.layout()->activate();
        const QSize content = window.centralWidget()->size();
        return content.width() >= 700 && content.height() >= 400 && window.height() > content.height();
    };
    QVERIFY(shrunk()); // sign-in
    f.signIn();
    QCOMPARE(window.content(), OverviewContent::ExportFolderPrompt);
    QVERIFY(shrunk());
    f.sync->setWatchFolder(f.exportTree.root());
    QCOMPARE(window.content(), OverviewContent::Loading);
    QVERIFY(shrunk());
    f.sync->setHasCompletedInitialReconcile(true);
    f.sync->setFolders({zoo::folder("a")});
    QCOMPARE(window.content(), OverviewContent::Browser);
    QVERIFY(shrunk());
    f.sync->setFolders({});
    QCOMPARE(window.content(), OverviewContent::Empty);
    QVERIFY(shrunk());
}

void TestSyncOverview::viewStateSurvivesCloseAndReopen()
{
    Fixture f;
    f.signIn();
    SyncOverviewView window(f.context());
    window.show();
    f.sync->setFolders({zoo::folder("A/a1"), zoo::folder("A/a2"), zoo::folder("r")});
    FolderListView *list = window.folderList();

    QVERIFY(window.inspector()->isShowingPlaceholder());
    list->setSelectedFolderId(QStringLiteral("/eksport/A/a2"));
    QCOMPARE(window.inspectedFolder()->name, QStringLiteral("a2"));
    QVERIFY(!window.inspector()->isShowingPlaceholder());
    QCOMPARE(window.inspector()->details()->folder()->path, QStringLiteral("/eksport/A/a2"));
    list->toggleNode(QStringLiteral("A"));
    QTest::mouseClick(window.detailsButton(), Qt::LeftButton);
    QVERIFY(!window.showInspector());

    window.close();
    window.show();
    QCOMPARE(window.selectedFolderId(), std::optional<QString>(QStringLiteral("/eksport/A/a2")));
    QCOMPARE(window.collapsedNodes(), QSet<QString>{QStringLiteral("A")});
    QVERIFY(!window.showInspector());

    // The selected folder vanishes: the selection stays, the inspector falls back to its placeholder.
    f.sync->setFolders({zoo::folder("A/a1"), zoo::folder("r")});
    QVERIFY(!window.inspectedFolder());
    QCOMPARE(window.selectedFolderId(), std::optional<QString>(QStringLiteral("/eksport/A/a2")));
    QVERIFY(window.inspector()->isShowingPlaceholder());
}

// On the column's colour every text draws in its own level of the foreground, not in the Text colour that a Base
// background hands its children.
void TestSyncOverview::inspectorTextsKeepTheirLevel_data()
{
    QTest::addColumn<std::optional<SyncFolder>>("folder");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Theme::Foreground>("level");
    QTest::newRow("placeholder title") << std::optional<SyncFolder>() << "Velg en mappe" << Theme::Foreground::Primary;
    QTest::newRow("placeholder description")
        << std::optional<SyncFolder>() << "Klikk på en mappe for å se detaljer" << Theme::Foreground::Secondary;
    QTest::newRow("removed locally") << std::optional<SyncFolder>(zoo::placeholder("g1", "Borte"))
                                     << "Mappen er fjernet lokalt, men galleriet finnes på serveren."
                                     << Theme::Foreground::Secondary;
    QTest::newRow("no images") << std::optional<SyncFolder>(zoo::folder("Tom", SyncStatus::notSynced(), 0))
                               << "Ingen bilder" << Theme::Foreground::Tertiary;
}

void TestSyncOverview::inspectorTextsKeepTheirLevel()
{
    QFETCH(std::optional<SyncFolder>, folder);
    QFETCH(QString, text);
    QFETCH(Theme::Foreground, level);
    Fixture f;
    InspectorColumn column(f.context());
    column.setFolder(folder);
    column.show();
    const auto shown = [&column, &text]() -> QLabel * {
        for (QLabel *label : column.findChildren<QLabel *>()) {
            if (label->text() == text && label->isVisibleTo(&column))
                return label;
        }
        return nullptr;
    };
    WAIT_VERIFY(shown());
    const QLabel *label = shown();
    QCOMPARE(label->palette().color(label->foregroundRole()), Theme::foreground(column.palette(), level));
    QCOMPARE(column.palette().color(column.backgroundRole()), QApplication::palette().color(QPalette::Base));
}

void TestSyncOverview::opening()
{
    Fixture f;
    testsupport::LogCapture log;
    SyncOverviewView window(f.context());
    const SyncFolder removed = zoo::placeholder("g1", "Borte");
    window.openFolderInFinder(removed);
    QVERIFY(f.revealed.isEmpty());
    QVERIFY(log.contains(QStringLiteral("no.varnostima.mac.Overview"), QStringLiteral("__removed__/g1")));
    window.openFolderInFinder(zoo::folder("A/x"));
    QCOMPARE(f.revealed, QStringList{QStringLiteral("/eksport/A/x")});

    // Return on a selected placeholder opens nothing either.
    f.signIn();
    f.sync->setFolders({removed});
    window.folderList()->setSelectedFolderId(removed.path);
    QTest::keyClick(window.folderList(), Qt::Key_Return);
    QCOMPARE(f.revealed.size(), 1);

    QTest::mouseClick(window.dashboardButton(), Qt::LeftButton);
    QCOMPARE(f.browser.opened, QList<QUrl>{QUrl(f.service.baseUrl().toString() + QStringLiteral("/dashboard"))});
}

// The counters' words and which are left out; the counts themselves are covered with the folder tree.
void TestSyncOverview::statusBar()
{
    using namespace zoo;
    Fixture f;
    SyncStatusBar bar(*f.sync);
    bar.show();
    f.sync->setFolders({changed("a", 0, 0), changed("b", 1, 0), moved(changed("c", 0, 0)),
                        folder("d", SyncStatus::failed("x")), placeholder("g", "e"),
                        folder("f", SyncStatus::syncing(0.5)), folder("g", SyncStatus::ignored())});
    const QString error = QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
    f.sync->setReconcileError(error);
    QCOMPARE(bar.counterTexts(), (QStringList{"7 mapper", "16 bilder", "1 syncet", "2 nye", "1 flyttet", "1 endret"}));
    QCOMPARE(bar.errorText(), error);
    QVERIFY(bar.folderButton()->isHidden()); // no export folder yet
}

namespace {

// One change of the engine's list, and how many entries the bar may count for it.
struct ListEdit {
    std::function<void(SyncManager &)> apply;
    qint64 mostCounted;
};
using ListEdits = QList<ListEdit>;

SyncFolder withStatus(SyncFolder folder, SyncStatus status)
{
    folder.status = std::move(status);
    return folder;
}

ListEdit setEntry(qsizetype index, SyncFolder folder)
{
    return {[index, folder](SyncManager &sync) { sync.setFolderEntry(index, folder); }, 2};
}

ListEdit replaceList(QList<SyncFolder> folders)
{
    const qint64 size = folders.size();
    return {[folders](SyncManager &sync) { sync.setFolders(folders); }, size};
}

// A rescan that finds `scanned`: new paths are appended, changed images update their entries. A list that grew is
// taken whole by the quick-actions bar.
ListEdit rescan(QList<SyncFolder> scanned, qint64 mostCounted)
{
    return {[scanned](SyncManager &sync) { sync.mergeRefreshedFolders(scanned, {}); }, mostCounted};
}

} // namespace

Q_DECLARE_METATYPE(ListEdits)

void TestSyncOverview::overviewCountsEachEditOnce_data()
{
    using namespace zoo;
    QTest::addColumn<QList<SyncFolder>>("start");
    QTest::addColumn<ListEdits>("edits");

    const QList<SyncFolder> library{changed("a", 0, 0), changed("b", 0, 0), folder("c"), moved(changed("d", 0, 0)),
                                    placeholder("g9", "e"), folder("f", SyncStatus::ignored())};
    QTest::newRow("each status in turn") << library
        << ListEdits{setEntry(0, withStatus(changed("a", 0, 0), SyncStatus::syncing(0.5))),
                     setEntry(0, changed("a", 1, 0)), setEntry(0, changed("a", 0, 0)),
                     setEntry(2, folder("c", SyncStatus::syncing(0))),
                     setEntry(2, folder("c", SyncStatus::failed("x"))),
                     setEntry(2, changed("c", 0, 1)), setEntry(3, changed("d", 0, 0)),
                     setEntry(1, moved(folder("b", SyncStatus::failed("x")))), setEntry(4, failedDeletion("g9", "e")),
                     setEntry(5, folder("f")), setEntry(5, folder("f", SyncStatus::ignored()))};
    QTest::newRow("baseline then move") << library
        << ListEdits{setEntry(1, needingBaseline("b")), setEntry(1, modified("b")), setEntry(1, moved(modified("b"))),
                     setEntry(1, changed("b", 0, 0, 5))};
    QTest::newRow("rescan appends and counts images") << library
        << ListEdits{rescan({changed("a", 0, 0, 4), changed("b", 0, 0), folder("c"), changed("d", 0, 0),
                             folder("f", SyncStatus::ignored()), folder("h", SyncStatus::notSynced(), 7)},
                            7),
                     setEntry(6, folder("h", SyncStatus::syncing(0), 7)),
                     // every image gone: six entries emptied, two appended
                     rescan({folder("i", SyncStatus::notSynced(), 1), folder("j", SyncStatus::notSynced(), 2)}, 14)};
    // The placeholder's row goes with it: the list is taken whole after the edit.
    QTest::newRow("a folder links to a placeholder's gallery") << library
        << ListEdits{{[](SyncManager &sync) { sync.setFolderEntry(2, folder("c", SyncStatus::synced("g9", "e", 2))); },
                      2 + library.size() - 1},
                     setEntry(0, changed("a", 1, 0))};
    QTest::newRow("list replaced between edits") << library
        << ListEdits{replaceList({changed("x", 0, 0), folder("y")}), setEntry(1, folder("y", SyncStatus::failed("x"))),
                     replaceList(library), setEntry(0, moved(changed("a", 0, 0))), replaceList({})};
}

QStringList rowTexts(const FolderRowModel &model)
{
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex at = model.index(row);
        rows << QStringList{at.data(FolderRowModel::RowIdRole).toString(), at.data().toString(),
                            at.data(FolderRowModel::StatusTextRole).toString(),
                            at.data(FolderRowModel::DepthRole).toString()}
                    .join(u'|');
    }
    return rows;
}

// The overview's counts and rows follow an edit by the entry it changed, and come out where the whole list does.
void TestSyncOverview::overviewCountsEachEditOnce()
{
    QFETCH(QList<SyncFolder>, start);
    QFETCH(ListEdits, edits);
    Fixture f;
    f.sync->setFolders(start);
    SyncOverviewView window(f.context());
    const SyncStatusBar &bar = *window.statusBar();
    const QuickActionsBar &actions = *window.quickActions();
    QCOMPARE(bar.counts(), statusBarCounts(start));
    for (qsizetype i = 0; i < edits.size(); ++i) {
        const QByteArray step = QByteArray::number(i);
        const qint64 barBefore = bar.entriesCounted();
        const qint64 actionsBefore = actions.entriesCounted();
        edits.at(i).apply(*f.sync);
        const QList<SyncFolder> &now = f.sync->folders();
        QVERIFY2(bar.counts() == statusBarCounts(now), step);
        QVERIFY2(actions.statistics() == folderStatistics(now), step);
        QuickActionsBar wholeActions({});
        wholeActions.setFolders(now);
        QCOMPARE(actions.moveButton()->isEnabled(), wholeActions.moveButton()->isEnabled());
        FolderRowModel wholeRows;
        wholeRows.setFolders(now);
        QCOMPARE(rowTexts(*window.folderList()->rowModel()), rowTexts(wholeRows));
        QVERIFY2(bar.entriesCounted() - barBefore <= edits.at(i).mostCounted, step);
        QVERIFY2(actions.entriesCounted() - actionsBefore <= edits.at(i).mostCounted, step);
    }
    for (const SyncFolder &entry : f.sync->folders())
        QVERIFY(!entry.removedGalleryId() || f.sync->statusCounts().holders(*entry.removedGalleryId()) == 0);
    const StatusBarCounts c = statusBarCounts(f.sync->folders());
    QCOMPARE(bar.counterTexts().mid(0, 2), (QStringList{QStringLiteral("%1 mapper").arg(c.folderCount),
                                                         QStringLiteral("%1 bilder").arg(c.imageCount)}));
}

void TestSyncOverview::retryClearsTheBanner()
{
    Fixture f;
    f.signIn();
    SyncStatusBar bar(*f.sync, [&f](const QString &path) { f.revealed << path; });
    bar.show();
    f.sync->setWatchFolder(f.exportTree.root());
    WAIT_VERIFY(f.sync->hasCompletedInitialReconcile() && !f.sync->isReconciling());
    QVERIFY(!bar.folderButton()->isHidden());
    QCOMPARE(bar.folderButton()->text(), QFileInfo(f.exportTree.root()).fileName());
    QCOMPARE(bar.folderButton()->toolTip(), QStringLiteral("Åpne i filbehandler"));
    // At the trailing edge of the row, however few counters show.
    bar.resize(900, bar.heightForWidth(900));
    bar.layout()->activate();
    QCOMPARE(bar.folderButton()->mapTo(&bar, QPoint(bar.folderButton()->width(), 0)).x(), bar.width() - 16);
    QTest::mouseClick(bar.folderButton(), Qt::LeftButton);
    QCOMPARE(f.revealed, QStringList{f.exportTree.root()});

    f.sync->setReconcileError(QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen"));
    QVERIFY(bar.isShowingError());
    QTest::mouseClick(bar.retryButton(), Qt::LeftButton);
    WAIT_VERIFY(!bar.isShowingError());

    // A long export-folder name is shortened in its middle and leaves the bar as narrow as before.
    const int narrowest = bar.minimumSizeHint().width();
    const QString longName = QStringLiteral("Eksport ") + QString(120, QLatin1Char('x')) + QStringLiteral(" slutt");
    f.sync->setWatchFolder(f.exportTree.addDir(longName));
    const QString shown = bar.folderButton()->text();
    QVERIFY(shown.startsWith(QLatin1String("Eksport ")) && shown.endsWith(QLatin1String(" slutt")));
    QVERIFY(shown.size() < longName.size());
    QVERIFY(bar.minimumSizeHint().width() <= qMax(narrowest, 320));
    WAIT_VERIFY(!f.sync->isReconciling());
}

void TestSyncOverview::bannerGoesOnceTheServiceAnswers_data()
{
    using testsupport::ScriptedAnswer;
    QTest::addColumn<ScriptedAnswer>("outage");
    QTest::addColumn<QString>("text");
    const QString noContact = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
    ScriptedAnswer paused;
    paused.kind = ScriptedAnswer::Kind::AnswerAsUsual;
    paused.held = true;
    ScriptedAnswer closed;
    closed.kind = ScriptedAnswer::Kind::CloseWithoutAnswer;
    QTest::newRow("service paused, no answer in time") << paused << noContact;
    QTest::newRow("connection closed without an answer") << closed << noContact;
    QTest::newRow("service error") << ScriptedAnswer{503, R"({"error":"down"})"}
                                   << QStringLiteral("Kunne ikke synkronisere — prøv igjen om litt");
}

// A full check that failed is tried again by itself while the banner stays; once the service answers, the banner
// goes and the folder is synced, without a press of "Prøv igjen".
void TestSyncOverview::bannerGoesOnceTheServiceAnswers()
{
    QFETCH(testsupport::ScriptedAnswer, outage);
    QFETCH(QString, text);
    SyncDelays delays{50ms, 50ms, 50ms};
    delays.firstRetry = 50ms;
    delays.maxRetry = 200ms;
    Fixture f(delays);
    f.signIn();
    f.api.setTimeouts({1s, 1s, 5s}); // a paused service is a time-out
    f.exportTree.addFile("Shoot/a.jpg", 10);
    SyncStatusBar bar(*f.sync);
    bar.show();
    testsupport::LogCapture log;
    const QString sync = QStringLiteral("no.varnostima.mac.Sync");
    f.service.script("GET", "/api/sync/state", outage, -1);
    f.sync->setWatchFolder(f.exportTree.root());
    WAIT_VERIFY(bar.isShowingError());
    QCOMPARE(bar.errorText(), text);
    WAIT_VERIFY(log.count(sync, "Retrying the full scan and reconcile") >= 2
                && log.count(sync, "Reconcile failed") >= 3);
    QVERIFY(bar.isShowingError()); // also while a retry waits for its answer

    f.service.clearScripts();
    f.service.releaseHeld();
    WAIT_VERIFY(!bar.isShowingError());
    QVERIFY(!f.sync->reconcileError());
    WAIT_VERIFY(!f.service.galleries().isEmpty() && f.service.galleries().first().images.size() == 1);
    QCOMPARE(f.service.galleries().first().title, QStringLiteral("Shoot"));
}

void TestSyncOverview::firstImportWithTheWindowOpen()
{
    Fixture f;
    for (const char *folder : {"Kunder/Bryllup", "Kunder/Portrett", "Landskap"}) {
        for (int i = 0; i < 6; ++i)
            f.exportTree.addFile(QStringLiteral("%1/IMG_%2.jpg").arg(QLatin1String(folder)).arg(i), 2000 + i);
    }
    f.signIn();
    SyncOverviewView window(f.context());
    window.show();

    QList<OverviewContent> seen{window.content()};
    const auto note = [&] {
        if (seen.last() != window.content())
            seen << window.content();
    };
    connect(f.sync.get(), &SyncManager::foldersChanged, &window, note);
    connect(f.sync.get(), &SyncManager::hasCompletedInitialReconcileChanged, &window, note);
    connect(f.sync.get(), &SyncManager::watchFolderChanged, &window, note);
    bool sawProgress = false;
    FolderRowModel *rows = window.folderList()->rowModel();
    connect(rows, &QAbstractItemModel::dataChanged, &window, [&](const QModelIndex &from, const QModelIndex &to) {
        for (int r = from.row(); r <= to.row(); ++r)
            sawProgress |= rows->index(r).data(FolderRowModel::StatusTextRole).toString().startsWith("Laster opp");
    });

    f.sync->setWatchFolder(f.exportTree.root());
    const auto allSynced = [&] {
        const QList<SyncFolder> &folders = f.sync->folders();
        return folders.size() == 3 && std::all_of(folders.cbegin(), folders.cend(), [](const SyncFolder &s) {
                   return s.status.is(SyncStatus::Case::synced);
               });
    };
    WAIT_VERIFY(allSynced());

    QCOMPARE(seen, (QList<OverviewContent>{OverviewContent::ExportFolderPrompt, OverviewContent::Loading,
                                           OverviewContent::Browser}));
    QVERIFY(sawProgress);
    QCOMPARE(window.statusBar()->counterTexts(), (QStringList{"3 mapper", "18 bilder", "3 syncet"}));
    QCOMPARE(window.statusBar()->folderButton()->text(), QFileInfo(f.exportTree.root()).fileName());
    for (int r = 0; r < rows->rowCount(); ++r) // folders and the node header alike
        QCOMPARE(rows->index(r).data(FolderRowModel::StatusTextRole).toString(), QStringLiteral("Synkronisert"));
}

// Images added and deleted while the window was closed: the reopened inspector's grid lists the folder as it is, so
// no tile stands for a deleted image.
void TestSyncOverview::previewShowsTheFolderAsItIsAfterReopening()
{
    Fixture f;
    for (int i = 1; i <= 3; ++i)
        f.exportTree.addFile(QStringLiteral("Bryllup/IMG_%1.jpg").arg(i), 2000 + i);
    f.signIn();
    SyncOverviewView window(f.context());
    window.show();
    f.sync->setWatchFolder(f.exportTree.root());
    WAIT_VERIFY(f.sync->folders().size() == 1 && f.sync->folders().first().status.is(SyncStatus::Case::synced));
    window.folderList()->setSelectedFolderId(f.sync->folders().first().path);
    const FolderDetailPreview *preview = window.inspector()->details()->preview();
    const auto listed = [&](const QStringList &names) {
        QList<QUrl> urls;
        for (const QString &name : names)
            urls << QUrl::fromLocalFile(f.exportTree.path(QStringLiteral("Bryllup/") + name));
        return preview->allImageURLs() == urls;
    };
    WAIT_VERIFY(listed({"IMG_1.jpg", "IMG_2.jpg", "IMG_3.jpg"}));

    window.close();
    QVERIFY(QFile::remove(f.exportTree.path(QStringLiteral("Bryllup/IMG_2.jpg"))));
    f.exportTree.addFile(QStringLiteral("Bryllup/IMG_4.jpg"), 2004);
    window.show();
    WAIT_VERIFY(listed({"IMG_1.jpg", "IMG_3.jpg", "IMG_4.jpg"}));
}

// An export goes on while the inspector and the sheet show the folder, and the engine syncs it: the sheet shows the
// replaced image's new pixels, the deleted image leaves it, and the grid keeps the tile of the image that stayed.
void TestSyncOverview::previewFollowsAnExportWhileOpen()
{
    Fixture f;
    const auto writeImage = [&f](const QString &name, QColor colour, QSize size) {
        const QString path = f.exportTree.path(QStringLiteral("Bryllup/") + name);
        QDir().mkpath(QFileInfo(path).path());
        QImage image(size, QImage::Format_RGB32);
        image.fill(colour);
        return image.save(path);
    };
    const auto near = [](QColor a, QColor b) {
        return qAbs(a.red() - b.red()) < 8 && qAbs(a.green() - b.green()) < 8 && qAbs(a.blue() - b.blue()) < 8;
    };
    QVERIFY(writeImage("IMG_1.png", Qt::red, {40, 30}));
    QVERIFY(writeImage("IMG_2.png", Qt::blue, {40, 30}));
    QVERIFY(writeImage("IMG_3.png", Qt::green, {40, 30}));
    f.signIn();
    SyncOverviewView window(f.context());
    window.show();
    f.sync->setWatchFolder(f.exportTree.root());
    WAIT_VERIFY(f.sync->folders().size() == 1 && f.sync->folders().first().status.is(SyncStatus::Case::synced));
    window.folderList()->setSelectedFolderId(f.sync->folders().first().path);
    FolderDetailPreview *preview = window.inspector()->details()->preview();
    WAIT_VERIFY(preview->state() == FolderDetailPreview::State::Grid && preview->thumbnails().size() == 3);
    const qint64 firstTile = preview->thumbnails().first().image.cacheKey();
    preview->openPreview(1);
    const QPointer<ImagePreviewSheet> sheet = preview->sheet();
    WAIT_VERIFY(!sheet->isLoading());
    QVERIFY(near(sheet->currentImage().pixelColor(2, 2), Qt::blue));

    const double mtime = QFileInfo(f.exportTree.path("Bryllup/IMG_2.png")).lastModified().toMSecsSinceEpoch() / 1e3;
    QVERIFY(writeImage("IMG_2.png", Qt::yellow, {30, 40}));
    TempTree::setMtime(f.exportTree.path("Bryllup/IMG_2.png"), mtime + 5);
    QVERIFY(QFile::remove(f.exportTree.path("Bryllup/IMG_3.png")));
    QVERIFY(writeImage("IMG_4.png", Qt::magenta, {40, 30}));

    WAIT_VERIFY(preview->thumbnails().size() == 3 && preview->thumbnails().last().url.fileName() == "IMG_4.png");
    WAIT_VERIFY(sheet && !sheet->isLoading() && near(sheet->currentImage().pixelColor(2, 2), Qt::yellow));
    QCOMPARE(sheet->positionText(), QStringLiteral("2 av 3"));
    QCOMPARE(preview->thumbnails().first().image.cacheKey(), firstTile);
    sheet->showNext();
    WAIT_VERIFY(!sheet->isLoading() && near(sheet->currentImage().pixelColor(2, 2), Qt::magenta));
    sheet->reject();
}

void TestSyncOverview::emptiedFolderShowsWhatIsTrue_data()
{
    QTest::addColumn<int>("deleted"); // of the folder's three images
    QTest::addColumn<bool>("passed"); // automatic sync ran after the deletion
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("badges");
    QTest::addColumn<QStringList>("counters");
    QTest::addColumn<int>("inGallery");
    const QStringList emptied{"Bilder 0", "Lastet opp 3"};
    const QStringList emptiedCounters{"1 mapper", "0 bilder", "1 syncet"};
    QTest::newRow("every image deleted") << 3 << false << "Tom mappe" << emptied << emptiedCounters << 3;
    QTest::newRow("every image deleted, then a pass") << 3 << true << "Tom mappe" << emptied << emptiedCounters << 3;
    QTest::newRow("one image deleted, then a pass") << 1 << true << "Synkronisert"
                                                    << QStringList{"Bilder 2", "Lastet opp 2"}
                                                    << QStringList{"1 mapper", "2 bilder", "1 syncet"} << 2;
}

// Nothing is deleted from the gallery of a folder whose images were all deleted: no window shows work waiting for
// it, none offers an update that would do nothing, and the uploaded count is what the gallery holds.
void TestSyncOverview::emptiedFolderShowsWhatIsTrue()
{
    QFETCH(int, deleted);
    QFETCH(bool, passed);
    QFETCH(QString, status);
    QFETCH(QStringList, badges);
    QFETCH(QStringList, counters);
    QFETCH(int, inGallery);
    Fixture f(SyncDelays{.refresh = 50ms, .autoSync = 1h, .streamLatency = 50ms, .settle = 0ms}); // passes: the test's
    for (int i = 1; i <= 3; ++i)
        f.exportTree.addFile(QStringLiteral("Bryllup/IMG_%1.jpg").arg(i), 2000 + i);
    f.signIn();
    SyncOverviewView window(f.context());
    window.show();
    f.sync->setWatchFolder(f.exportTree.root());
    WAIT_VERIFY(f.sync->hasCompletedInitialReconcile() && !f.sync->isReconciling());
    testsupport::awaitTask(f.sync->runAutoSync());
    const SyncFolder before = f.sync->folders().first();
    QVERIFY(before.status.is(SyncStatus::Case::synced));

    for (int i = 1; i <= deleted; ++i)
        QVERIFY(QFile::remove(f.exportTree.path(QStringLiteral("Bryllup/IMG_%1.jpg").arg(i))));
    f.sync->mergeRefreshedFolders(SyncManager::scanFolderTree(f.exportTree.root(), {}), {before.path});
    if (passed) {
        testsupport::awaitTask(f.sync->runAutoSync());
        // Once settled, a folder with nothing to send costs later passes nothing: no request, no update.
        const qsizetype asked = f.service.requests().size();
        testsupport::LogCapture log;
        testsupport::awaitTask(f.sync->runAutoSync());
        QCOMPARE(f.service.requests().size(), asked);
        QCOMPARE(log.count(QStringLiteral("no.varnostima.mac.Sync"), QStringLiteral("Auto-updating")), 0);
    }
    QCOMPARE(f.service.gallery(before.status.galleryId())->images.size(), inGallery);

    window.folderList()->setSelectedFolderId(before.path);
    const FolderDetailView *details = window.inspector()->details();
    WAIT_VERIFY(details->header()->statusText() == status);
    QCOMPARE(window.folderList()->rowModel()->index(0).data(FolderRowModel::StatusTextRole).toString(), status);
    QCOMPARE(details->info()->badgeTexts(), badges);
    QVERIFY(!details->showsChanges());
    const QAbstractButton *update = details->actions()->button(FolderAction::Update);
    QVERIFY(!update || !update->isVisibleTo(&window));
    QVERIFY(window.quickActions()->shownTexts().isEmpty());
    QCOMPARE(window.statusBar()->counterTexts(), counters);
}

QTEST_MAIN(TestSyncOverview)
#include "tst_syncoverview.moc"
