// NotificationManager over DesktopNotifications, talking to a fake notification server on a private session bus.

#include "app/NotificationManager.h"
#include "platform/DesktopNotifications.h"
#include "platform/UrlOpener.h"

#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kCategory = QStringLiteral("no.varnostima.mac.Notifications");
const QUrl kPreview(QStringLiteral("https://example.test/preview/g1"));
} // namespace

class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    QVariantList lastCall;
    int calls = 0;
    uint nextId = 41;
    QString failWith;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        if (!failWith.isEmpty()) {
            sendErrorReply(QDBusError::Failed, failWith);
            return 0;
        }
        ++calls;
        lastCall = {appName, replacesId, icon, summary, body, actions, hints, timeout};
        return ++nextId;
    }
};

class TestNotifications : public QObject
{
    Q_OBJECT

    QDBusConnection m_server = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    FakeNotificationServer *m_fake = nullptr;

    void emitFrom(const QDBusConnection &connection, const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
        signal.setArguments(arguments);
        QVERIFY(connection.send(signal));
    }

    uint post(NotificationManager &manager, const QUrl &preview)
    {
        const int before = m_fake->calls;
        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Bryllup"), 2, preview));
        return m_fake->calls > before ? m_fake->nextId : 0;
    }

private Q_SLOTS:
    void init()
    {
        m_fake = new FakeNotificationServer;
        QVERIFY(m_server.registerObject(kPath, m_fake, QDBusConnection::ExportAllSlots));
        QVERIFY(m_server.registerService(DesktopNotifications::ServiceName));
    }

    void cleanup()
    {
        m_server.unregisterService(DesktopNotifications::ServiceName);
        m_server.unregisterObject(kPath);
        delete m_fake;
    }

    void postsWithActionsAndHints_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("body");
        QTest::newRow("one") << qint64(1) << QStringLiteral("1 bilde lastet opp til Varnostima");
        QTest::newRow("three") << qint64(3) << QStringLiteral("3 bilder lastet opp til Varnostima");
        QTest::newRow("zero is plural") << qint64(0) << QStringLiteral("0 bilder lastet opp til Varnostima");
    }
    void postsWithActionsAndHints()
    {
        QFETCH(qint64, count);
        QFETCH(QString, body);
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        testsupport::LogCapture log;

        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Høst i Lofoten"), count, kPreview));

        QCOMPARE(m_fake->calls, 1);
        const QVariantList &call = m_fake->lastCall;
        QCOMPARE(call.at(0).toString(), QStringLiteral("Varnostima"));
        QCOMPARE(call.at(1).toUInt(), 0u); // a new notification every time, never a replacement
        QCOMPARE(call.at(3).toString(), QStringLiteral("Høst i Lofoten"));
        QCOMPARE(call.at(4).toString(), body);
        QCOMPARE(call.at(5).toStringList(),
                 (QStringList{QStringLiteral("default"), QString(), QStringLiteral("no.varnostima.action.openGallery"),
                              QStringLiteral("Gå til galleri")}));
        const QVariantMap hints = call.at(6).toMap();
        QCOMPARE(hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("varnostima"));
        QVERIFY(hints.contains(QStringLiteral("sound-name")));
        QVERIFY(log.contains(kCategory, QStringLiteral("notifyNewUpload status=2")));
        QVERIFY(log.contains(kCategory, QStringLiteral("Notification queued: Høst i Lofoten")));
    }

    // Daemons show the icon only when they can find it: it goes as the file, from where it is installed.
    void sendsTheAppIconAsAFile_data()
    {
        QTest::addColumn<QString>("installedIn"); // "data home", "data dirs" or nowhere
        QTest::newRow("for the user") << QStringLiteral("data home");
        QTest::newRow("for all users") << QStringLiteral("data dirs");
        QTest::newRow("not installed: the build's own") << QString();
    }
    void sendsTheAppIconAsAFile()
    {
        QFETCH(QString, installedIn);
        QTemporaryDir home, dirs;
        QString installed;
        if (!installedIn.isEmpty()) {
            const QDir root(installedIn == QLatin1String("data home") ? home.path() : dirs.path());
            installed = root.filePath(QStringLiteral("icons/hicolor/scalable/apps/varnostima.svg"));
            QVERIFY(QDir().mkpath(QFileInfo(installed).path()));
            QFile icon(installed);
            QVERIFY(icon.open(QIODevice::WriteOnly) && icon.write("<svg/>") > 0);
        }
        const QByteArray oldHome = qgetenv("XDG_DATA_HOME"), oldDirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", home.path().toUtf8());
        qputenv("XDG_DATA_DIRS", dirs.path().toUtf8());
        DesktopNotifications center;
        qputenv("XDG_DATA_HOME", oldHome);
        qputenv("XDG_DATA_DIRS", oldDirs);
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);

        QVERIFY(post(manager, kPreview) != 0);
        const QFileInfo icon(m_fake->lastCall.at(2).toString());
        QVERIFY2(icon.isAbsolute() && icon.isFile(), qPrintable(icon.filePath()));
        QCOMPARE(icon.fileName(), QStringLiteral("varnostima.svg"));
        if (!installed.isEmpty())
            QCOMPARE(icon.filePath(), installed);
    }

    void answersOnlyOurOwnNotifications_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("foreignId");
        QTest::addColumn<bool>("impostor");
        QTest::addColumn<bool>("closedFirst");
        QTest::addColumn<QString>("preview");
        QTest::addColumn<bool>("opens");
        const QString web = kPreview.toString();
        QTest::newRow("click") << QStringLiteral("default") << false << false << false << web << true;
        QTest::newRow("open gallery") << QStringLiteral("no.varnostima.action.openGallery") << false << false
                                      << false << web << true;
        QTest::newRow("unknown action") << QStringLiteral("archive") << false << false << false << web << false;
        QTest::newRow("another app's id") << QStringLiteral("default") << true << false << false << web << false;
        QTest::newRow("not from the service") << QStringLiteral("default") << false << true << false << web << false;
        QTest::newRow("already closed") << QStringLiteral("default") << false << false << true << web << false;
        QTest::newRow("not a web link") << QStringLiteral("default") << false << false << false
                                        << QStringLiteral("file:///etc/passwd") << false;
    }
    void answersOnlyOurOwnNotifications()
    {
        QFETCH(QString, action);
        QFETCH(bool, foreignId);
        QFETCH(bool, impostor);
        QFETCH(bool, closedFirst);
        QFETCH(QString, preview);
        QFETCH(bool, opens);
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        QSignalSpy responses(&center, &NotificationCenter::responseReceived);
        const uint id = post(manager, QUrl(preview));
        const uint sentinelId = post(manager, QUrl(QStringLiteral("https://example.test/preview/sentinel")));
        QVERIFY(id != 0 && sentinelId != 0);

        if (closedFirst)
            emitFrom(m_server, QStringLiteral("NotificationClosed"), {id, 2u});
        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other"));
        emitFrom(impostor ? other : m_server, QStringLiteral("ActionInvoked"), {foreignId ? id + 1000 : id, action});
        // A round trip routes the impostor's signal first; one sender's signals keep their order, so once the
        // sentinel is here the signal under test has been judged.
        other.interface()->isServiceRegistered(DesktopNotifications::ServiceName);
        emitFrom(m_server, QStringLiteral("ActionInvoked"), {sentinelId, QStringLiteral("sentinel")});
        QTRY_VERIFY(!responses.isEmpty()
                    && responses.constLast().constFirst().value<NotificationResponse>().actionIdentifier
                        == QStringLiteral("sentinel"));
        QDBusConnection::disconnectFromBus(QStringLiteral("other"));

        QCOMPARE(responses.size(), foreignId || impostor || closedFirst ? 1 : 2);
        QCOMPARE(opener.opened, opens ? QList<QUrl>{QUrl(preview)} : QList<QUrl>{});
    }

    void refusalsAreLogged_data()
    {
        QTest::addColumn<bool>("serviceRuns");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("no notification service")
            << false << QStringList{"Notification status before request: 5", "Skipping notification — not authorized"};
        QTest::newRow("service refuses")
            << true << QStringList{"Notification status before request: 2", "Failed to deliver notification: quota"};
    }
    void refusalsAreLogged()
    {
        QFETCH(bool, serviceRuns);
        QFETCH(QStringList, lines);
        if (!serviceRuns)
            m_server.unregisterService(DesktopNotifications::ServiceName);
        m_fake->failWith = QStringLiteral("quota");
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        testsupport::LogCapture log;

        testsupport::awaitTask(manager.requestAuthorization());
        QVERIFY(post(manager, kPreview) == 0);

        // There is nothing to ask on this desktop: the decision is always made already.
        lines << QStringLiteral("Skipping authorization request — status already determined");
        for (const QString &line : std::as_const(lines))
            QVERIFY2(log.contains(kCategory, line), qPrintable(line));
        QCOMPARE(center.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications_dbus.moc"
