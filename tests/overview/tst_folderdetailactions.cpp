// The inspector's actions: what each folder state offers, what each button calls, and whose busy state it is.

#include "FolderZoo.h"
#include "overview/detail/FolderDetailActions.h"

#include <QAbstractButton>
#include <QCoroSignal>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace {

using A = FolderAction;
using P = FolderActionPlan::Primary;

SyncFolder folderIn(const SyncStatus &status, const QString &path = "/eksport/Bryllup")
{
    return zoo::at(path, status);
}

// A one-shot gate an asynchronous callback waits on, so a test decides when the action ends.
class Gate : public QObject
{
    Q_OBJECT
public:
    QCoro::Task<void> wait()
    {
        ++started;
        auto opening = qCoro(this, &Gate::opened);
        co_await std::move(opening);
    }
    int started = 0;
Q_SIGNALS:
    void opened();
};

} // namespace

Q_DECLARE_METATYPE(FolderActionPlan::Primary)
Q_DECLARE_METATYPE(QList<FolderAction>)

class TestFolderDetailActions : public QObject
{
    Q_OBJECT

    QStringList calls;
    Gate gate;

    void answer(const FolderDetailActions &view, const QString &button)
    {
        QMessageBox *box = view.deleteConfirmation();
        QVERIFY(box);
        for (QAbstractButton *candidate : box->buttons()) {
            if (candidate->text() == button)
                candidate->click();
        }
    }

    FolderDetailCallbacks recording()
    {
        FolderDetailCallbacks c;
        c.onCopyLink = [this](const QString &id) { calls << "copy " + id; };
        c.onOpenDashboard = [this](const QString &id) { calls << "dashboard " + id; };
        c.onOpenFinder = [this] { calls << "finder"; };
        c.onIgnore = [this] { calls << "ignore"; };
        c.onUnignore = [this] { calls << "unignore"; };
        c.onClearMoved = [this] { calls << "clearMoved"; };
        c.onDismissRemoved = [this] { calls << "dismiss"; };
        c.onSync = [this] { calls << "sync"; return gate.wait(); };
        c.onUpdate = [this] { calls << "update"; return gate.wait(); };
        c.onMove = [this] { calls << "move"; return gate.wait(); };
        c.onDeleteFromServer = [this] { calls << "delete"; return gate.wait(); };
        return c;
    }

private Q_SLOTS:
    void init()
    {
        calls.clear();
        gate.started = 0;
    }

    void planPerStatus_data()
    {
        QTest::addColumn<SyncFolder>("folder");
        QTest::addColumn<P>("primary");
        QTest::addColumn<QList<A>>("secondary");
        QTest::addColumn<QStringList>("expectedCalls"); // pressing the primary, then every small button in order

        const SyncFolder clean = folderIn(SyncStatus::synced("g1", "s", 2));
        SyncFolder pending = clean;
        pending.cachedLocalFileMeta->insert("c.jpg", {});
        SyncFolder baselineOnly = clean;
        baselineOnly.uploadedFiles = QList<UploadedFileMeta>{{"a.jpg", 0, std::nullopt}, {"b.jpg", 20, 2.0}};
        SyncFolder moved = pending;
        moved.movedFrom = "Gammelt/Bryllup";
        SyncFolder failedPlaceholder = folderIn(SyncStatus::failed("Sletting feilet: nei"), "__removed__/g7");

        QTest::newRow("synced, clean") << clean << P::None << QList<A>{A::OpenFinder, A::OpenDashboard, A::CopyLink, A::Ignore}
                                       << QStringList{"finder", "dashboard g1", "copy g1", "ignore"};
        QTest::newRow("synced, new image") << pending << P::Update << QList<A>{A::OpenFinder, A::OpenDashboard, A::CopyLink}
                                           << QStringList{"update", "finder", "dashboard g1", "copy g1"};
        QTest::newRow("synced, only a missing baseline")
            << baselineOnly << P::Update << QList<A>{A::OpenFinder, A::OpenDashboard, A::CopyLink}
            << QStringList{"update", "finder", "dashboard g1", "copy g1"};
        QTest::newRow("synced, moved with new images")
            << moved << P::Move << QList<A>{A::OpenFinder, A::OpenDashboard, A::CopyLink, A::ClearMoved}
            << QStringList{"move", "finder", "dashboard g1", "copy g1", "clearMoved"};
        QTest::newRow("syncing") << folderIn(SyncStatus::syncing(0.4)) << P::None << QList<A>{A::OpenFinder}
                                 << QStringList{"finder"};
        QTest::newRow("failed") << folderIn(SyncStatus::failed("Opplasting feilet")) << P::Failure
                                << QList<A>{A::OpenFinder} << QStringList{"sync", "finder"};
        QTest::newRow("removed locally") << folderIn(SyncStatus::removedLocally("g7", "s7"), "__removed__/g7")
                                         << P::Removed << QList<A>{A::OpenFinder, A::DismissRemoved}
                                         << QStringList{"delete", "finder", "dismiss"};
        QTest::newRow("removed, deletion failed") << failedPlaceholder << P::RemovedFailure
                                                  << QList<A>{A::OpenFinder, A::DismissRemoved}
                                                  << QStringList{"delete", "finder", "dismiss"};
        QTest::newRow("not synced") << folderIn(SyncStatus::notSynced()) << P::Waiting
                                    << QList<A>{A::OpenFinder, A::Ignore} << QStringList{"finder", "ignore"};
        QTest::newRow("ignored") << folderIn(SyncStatus::ignored()) << P::Unignore << QList<A>{A::OpenFinder}
                                 << QStringList{"unignore", "finder"};
    }
    void planPerStatus()
    {
        QFETCH(SyncFolder, folder);
        QFETCH(P, primary);
        QFETCH(QList<A>, secondary);
        QFETCH(QStringList, expectedCalls);

        const FolderActionPlan plan = FolderActionPlan::of(folder);
        QCOMPARE(plan.primary, primary);
        QCOMPARE(plan.secondary, secondary);

        FolderDetailActions view(recording());
        view.setFolder(folder);
        if (const auto action = plan.primaryAction()) {
            QVERIFY(view.button(*action));
            view.trigger(*action);
            if (*action == A::DeleteFromServer)
                answer(view, QStringLiteral("Slett"));
            if (*action != A::Unignore) { // asynchronous: busy until the callback's task ends
                QVERIFY(view.isWorking());
                QVERIFY(!view.button(*action)->isEnabled());
                view.trigger(*action); // a second press while busy does nothing
                Q_EMIT gate.opened();
                QTRY_VERIFY_WITH_TIMEOUT(!view.isWorking(), 20000);
                QVERIFY(view.button(*action)->isEnabled());
            }
        }
        for (const A action : secondary)
            view.trigger(action);
        QCOMPARE(calls, expectedCalls);
        // This desktop's file manager has no name of its own.
        QCOMPARE(view.button(A::OpenFinder)->text(), QStringLiteral("Filbehandler"));
        QCOMPARE(view.button(A::OpenFinder)->toolTip(), QStringLiteral("Vis i filbehandler"));

        // The explanation or failure text above the button.
        const auto texts = [&view] {
            QStringList all;
            for (const QLabel *label : view.findChildren<QLabel *>())
                all << label->text();
            return all;
        }();
        if (primary == P::Failure || primary == P::RemovedFailure)
            QVERIFY(texts.contains(folder.status.failureMessage()));
        if (primary == P::Removed)
            QVERIFY(texts.contains("Mappen er fjernet lokalt, men galleriet finnes på serveren."));
        if (primary == P::Waiting)
            QVERIFY(texts.contains("Synkroniseres snart…"));
    }

    // "Slett fra server" deletes only after the user has said yes to a question naming the gallery and its images.
    void deleteAsksFirst_data()
    {
        QTest::addColumn<qint64>("images");
        QTest::addColumn<QString>("answer"); // the button clicked, or "escape"
        QTest::addColumn<bool>("deletes");
        QTest::newRow("yes") << qint64(12) << QStringLiteral("Slett") << true;
        QTest::newRow("cancelled") << qint64(12) << QStringLiteral("Avbryt") << false;
        QTest::newRow("escape") << qint64(1) << QStringLiteral("escape") << false;
        QTest::newRow("return takes the default") << qint64(1) << QStringLiteral("return") << false;
    }
    void deleteAsksFirst()
    {
        QFETCH(qint64, images);
        QFETCH(QString, answer);
        QFETCH(bool, deletes);
        SyncFolder removed = zoo::placeholder(QStringLiteral("g7"), QStringLiteral("Bryllup 2024"));
        removed.imageCount = images;
        FolderDetailActions view(recording());
        view.setFolder(removed);
        view.show();
        view.trigger(A::DeleteFromServer);

        QMessageBox *box = view.deleteConfirmation();
        QVERIFY(box && box->isVisible());
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QVERIFY(calls.isEmpty() && !view.isWorking()); // nothing runs while the question is open
        QVERIFY(box->text().contains(QStringLiteral("Bryllup 2024")));
        QVERIFY(box->informativeText().contains(images == 1 ? QStringLiteral("1 bilde.") : QStringLiteral("12 bilder.")));
        QCOMPARE(box->defaultButton()->text(), QStringLiteral("Avbryt"));
        view.trigger(A::DeleteFromServer); // a second press asks no second question
        QCOMPARE(view.deleteConfirmation(), box);

        if (answer == QLatin1String("escape"))
            QTest::keyClick(box, Qt::Key_Escape);
        else if (answer == QLatin1String("return"))
            QTest::keyClick(box, Qt::Key_Return);
        else
            this->answer(view, answer);
        QTRY_VERIFY(!view.deleteConfirmation());
        QCOMPARE(calls, deletes ? QStringList{"delete"} : QStringList{});
        QCOMPARE(view.isWorking(), deletes);
        Q_EMIT gate.opened();
        QTRY_VERIFY_WITH_TIMEOUT(!view.isWorking(), 20000);
    }

    // The busy state belongs to the folder whose action runs.
    void busyStateStaysWithItsFolder()
    {
        const SyncFolder first = folderIn(SyncStatus::failed("x"), "/eksport/A");
        const SyncFolder second = folderIn(SyncStatus::failed("y"), "/eksport/B");
        FolderDetailActions view(recording());
        view.setFolder(first);
        view.trigger(A::Sync);
        QVERIFY(view.isWorking());

        view.setFolder(second);
        QVERIFY(!view.isWorking());
        QVERIFY(view.button(A::Sync)->isEnabled());

        view.setFolder(first);
        QVERIFY(view.isWorking());
        Q_EMIT gate.opened();
        QTRY_VERIFY_WITH_TIMEOUT(!view.isWorking(), 20000);
        QCOMPARE(gate.started, 1);
    }
};

QTEST_MAIN(TestFolderDetailActions)
#include "tst_folderdetailactions.moc"
