// The application binary end to end, headless: a data folder that holds a token, the stand-in's base URL and an
// export folder; the app signs in by itself, scans, uploads the new folder, lists it in its panel, and on SIGTERM
// leaves a complete state file behind.

#include "support/FileBytes.h"
#include "support/StandInService.h"
#include "support/TempTree.h"
#include "sync/SyncStateStore.h"
#include "sync/UploadHistoryStore.h"

#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTest>
#include <QTimer>

using testsupport::writeFile;

namespace {

const QByteArray kToken = "e2e-token";
constexpr int kLongWaitMs = 90'000; // only a bound for a hung run; nothing here measures speed

} // namespace

class TestAppEndToEnd : public QObject
{
    Q_OBJECT

    QByteArray m_log;

    // Runs the event loop until the app's log holds the text, or it exits, or the bound is reached.
    bool waitForLog(QProcess &app, const QByteArray &text)
    {
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        const auto connection = connect(&app, &QProcess::readyReadStandardError, &loop, [&] {
            m_log += app.readAllStandardError();
            if (m_log.contains(text))
                loop.quit();
        });
        connect(&app, &QProcess::finished, &loop, &QEventLoop::quit);
        m_log += app.readAllStandardError();
        if (!m_log.contains(text) && app.state() == QProcess::Running) {
            deadline.start(kLongWaitMs);
            loop.exec();
        }
        disconnect(connection);
        return m_log.contains(text);
    }

private Q_SLOTS:
    void signsInUploadsListsAndSavesOnSigterm()
    {
        testsupport::StandInService service;
        service.addAccount(kToken);

        testsupport::TempTree home;
        const QString support = home.addDir(QStringLiteral("data/Varnostima"));
        const QString runtime = home.addDir(QStringLiteral("runtime"));
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        home.addDir(QStringLiteral("config"));
        const QString gallery = home.addDir(QStringLiteral("Eksport/Bryllup_Hansen"));
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(Qt::darkGreen);
        QVERIFY(image.save(gallery + QStringLiteral("/IMG_1.jpg")));
        image.fill(Qt::darkRed);
        QVERIFY(image.save(gallery + QStringLiteral("/IMG_2.jpg")));

        QVERIFY(writeFile(support + QStringLiteral("/.api-token"), kToken));
        QVERIFY(writeFile(support + QStringLiteral("/.base-url"), service.baseUrl().toString().toUtf8()));
        QVERIFY(writeFile(support + QStringLiteral("/watch-folder.bookmark"),
                          home.path(QStringLiteral("Eksport")).toUtf8()));

        QProcess app;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), home.path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("no.varnostima.*.debug=true"));
        // Keep away from the desktop's own session bus: no notification reaches a real person.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        app.setProcessEnvironment(environment);
        app.start(QStringLiteral(VARNOSTIMA_APP_BINARY), {});
        QVERIFY(app.waitForStarted());

        QVERIFY2(waitForLog(app, "Session restored"), m_log.constData());
        // No tray can exist offscreen: the panel is reachable as a window.
        QVERIFY2(waitForLog(app, "Opening the panel as a window"), m_log.constData());
        QVERIFY2(waitForLog(app, "Panel lists recent uploads: Bryllup Hansen"), m_log.constData());

        const QList<testsupport::StandInGallery> galleries = service.galleries();
        QCOMPARE(galleries.size(), 1);
        QCOMPARE(galleries.first().title, QStringLiteral("Bryllup Hansen"));
        QCOMPARE(galleries.first().images.size(), 2);

        app.terminate(); // SIGTERM, as the session manager sends at logout
        QVERIFY(app.waitForFinished(kLongWaitMs));
        m_log += app.readAllStandardError();
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
        QVERIFY2(m_log.contains("Received signal 15; quitting"), m_log.constData());

        QFile stateFile(support + QStringLiteral("/sync-state.json"));
        QVERIFY(stateFile.open(QIODevice::ReadOnly));
        const SyncState state = decodeSyncState(stateFile.readAll());
        QCOMPARE(state.watchFolder, std::optional(home.path(QStringLiteral("Eksport"))));
        QVERIFY(state.folderUploads);
        QCOMPARE(state.folderUploads->size(), 1);
        QCOMPARE(state.folderUploads->first().first, gallery);
        QCOMPARE(state.folderUploads->first().second.size(), 2);

        const UploadHistoryStore history(QUrl::fromLocalFile(support + QStringLiteral("/recent-uploads.json")));
        QCOMPARE(history.recentUploads().size(), 1);
        QCOMPARE(history.recentUploads().first().galleryId, galleries.first().id);
    }
};

QTEST_GUILESS_MAIN(TestAppEndToEnd)
#include "tst_app_e2e.moc"
