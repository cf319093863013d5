// Notifications end to end: NotificationManager over DesktopNotifications, talking to a fake notification server
// on this private session bus.

#include "app/NotificationManager.h"
#include "platform/DesktopNotifications.h"
#include "platform/PlatformError.h"
#include "platform/UrlOpener.h"

#include "support/AwaitTask.h"
#include "support/LogCapture.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kCategory = QStringLiteral("no.varnostima.mac.Notifications");
} // namespace

class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        QString icon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int timeout = 0;
    };
    QList<Call> calls;
    uint nextId = 41;
    QString failWith;

public Q_SLOTS:
    uint Notify(const QString &appName, uint, const QString &icon, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        if (!failWith.isEmpty()) {
            sendErrorReply(QDBusError::Failed, failWith);
            return 0;
        }
        calls.append({appName, icon, summary, body, actions, hints, timeout});
        return ++nextId;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint) {}
};

class TestNotifications : public QObject
{
    Q_OBJECT

private:
    QDBusConnection m_server = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("server"));
    FakeNotificationServer *m_fake = nullptr;

    void emitFrom(const QDBusConnection &connection, const QString &name, const QVariantList &arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
        signal.setArguments(arguments);
        QVERIFY(connection.send(signal));
    }

    // Posts one notification through the manager and returns the id the server gave it.
    uint post(NotificationManager &manager, const QUrl &preview = QUrl(QStringLiteral("https://example.test/preview/g1")))
    {
        const int before = int(m_fake->calls.size());
        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Bryllup"), 2, preview));
        return m_fake->calls.size() > before ? m_fake->nextId : 0;
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
        m_fake = nullptr;
    }

    void postsNotificationWithActionsAndHints_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QString>("body");
        QTest::newRow("one") << qint64(1) << QStringLiteral("1 bilde lastet opp til Varnostima");
        QTest::newRow("three") << qint64(3) << QStringLiteral("3 bilder lastet opp til Varnostima");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0 bilder lastet opp til Varnostima");
        QTest::newRow("negative") << qint64(-2) << QStringLiteral("-2 bilder lastet opp til Varnostima");
    }
    void postsNotificationWithActionsAndHints()
    {
        QFETCH(qint64, count);
        QFETCH(QString, body);
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        testsupport::LogCapture log;

        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Høst i Lofoten"), count,
                                                       QUrl(QStringLiteral("https://example.test/preview/g7"))));

        QCOMPARE(m_fake->calls.size(), 1);
        const auto &call = m_fake->calls.constFirst();
        QCOMPARE(call.appName, QStringLiteral("Varnostima"));
        QCOMPARE(call.icon, QStringLiteral("varnostima"));
        QCOMPARE(call.summary, QStringLiteral("Høst i Lofoten"));
        QCOMPARE(call.body, body);
        QCOMPARE(call.actions, (QStringList{QStringLiteral("default"), QString(),
                                            QStringLiteral("no.varnostima.action.openGallery"),
                                            QStringLiteral("Gå til galleri")}));
        QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(), QStringLiteral("varnostima"));
        QVERIFY(call.hints.contains(QStringLiteral("sound-name")));
        QCOMPARE(call.timeout, -1);
        QVERIFY(log.contains(kCategory, QStringLiteral("notifyNewUpload status=2")));
        QVERIFY(log.contains(kCategory, QStringLiteral("Notification queued: Høst i Lofoten")));
        QCOMPARE(center.pendingCount(), 1);
    }

    void answersOnlyOurOwnNotifications_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("foreignId");
        QTest::addColumn<bool>("impostor");
        QTest::addColumn<QString>("preview");
        QTest::addColumn<bool>("opens");
        const QString web = QStringLiteral("https://example.test/preview/g1");
        QTest::newRow("click") << QStringLiteral("default") << false << false << web << true;
        QTest::newRow("open gallery") << QStringLiteral("no.varnostima.action.openGallery") << false << false << web
                                      << true;
        QTest::newRow("unknown action") << QStringLiteral("archive") << false << false << web << false;
        QTest::newRow("another app's id") << QStringLiteral("default") << true << false << web << false;
        QTest::newRow("not from the service") << QStringLiteral("default") << false << true << web << false;
        QTest::newRow("not a web link") << QStringLiteral("default") << false << false
                                        << QStringLiteral("file:///etc/passwd") << false;
    }
    void answersOnlyOurOwnNotifications()
    {
        QFETCH(QString, action);
        QFETCH(bool, foreignId);
        QFETCH(bool, impostor);
        QFETCH(QString, preview);
        QFETCH(bool, opens);
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        QSignalSpy responses(&center, &NotificationCenter::responseReceived);

        const uint id = post(manager, QUrl(preview));
        QVERIFY(id != 0);
        const uint sentinelId = post(manager, QUrl(QStringLiteral("https://example.test/preview/sentinel")));

        QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("other"));
        emitFrom(impostor ? other : m_server, QStringLiteral("ActionInvoked"),
                 {foreignId ? id + 1000 : id, action});
        // A round trip makes the bus route the impostor's signal before the sentinel; signals from one sender
        // arrive in order, so once the sentinel is here the first signal has been judged.
        other.interface()->isServiceRegistered(DesktopNotifications::ServiceName);
        emitFrom(m_server, QStringLiteral("ActionInvoked"), {sentinelId, QStringLiteral("sentinel")});
        QTRY_VERIFY(!responses.isEmpty()
                    && responses.constLast().constFirst().value<NotificationResponse>().actionIdentifier
                        == QStringLiteral("sentinel"));
        QDBusConnection::disconnectFromBus(QStringLiteral("other"));

        const bool delivered = !foreignId && !impostor;
        QCOMPARE(responses.size(), delivered ? 2 : 1);
        const QList<QUrl> expected = opens ? QList<QUrl>{QUrl(preview)} : QList<QUrl>{};
        QCOMPARE(opener.opened, expected);
    }

    void closedNotificationIsForgotten()
    {
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        const uint id = post(manager);
        QCOMPARE(center.pendingCount(), 1);

        emitFrom(m_server, QStringLiteral("NotificationClosed"), {id, 2u});
        QTRY_COMPARE(center.pendingCount(), 0);
        emitFrom(m_server, QStringLiteral("ActionInvoked"), {id, QStringLiteral("default")});
        const uint later = post(manager);
        emitFrom(m_server, QStringLiteral("ActionInvoked"), {later, QStringLiteral("default")});
        QTRY_COMPARE(opener.opened.size(), 1);
    }

    void missingServiceIsDenied()
    {
        m_server.unregisterService(DesktopNotifications::ServiceName);
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        testsupport::LogCapture log;

        QCOMPARE(testsupport::awaitTask(center.authorizationStatus()), NotificationAuthorizationStatus::Denied);
        testsupport::awaitTask(manager.requestAuthorization());
        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Bryllup"), 1, QUrl(QStringLiteral("https://x.test/p/1"))));

        QVERIFY(log.contains(kCategory, QStringLiteral("Notification status before request: 1")));
        QVERIFY(log.contains(kCategory, QStringLiteral("Skipping authorization request — status already determined")));
        QVERIFY(log.contains(kCategory, QStringLiteral("Skipping notification — not authorized")));
        QVERIFY(m_fake->calls.isEmpty());

        // Posting anyway fails with the bus's reason.
        NotificationContent content;
        content.title = QStringLiteral("x");
        const auto failure = testsupport::awaitFailure(center.add(content));
        QVERIFY(failure);
    }

    void serviceFailureIsLogged()
    {
        m_fake->failWith = QStringLiteral("quota exceeded");
        DesktopNotifications center;
        RecordingUrlOpener opener;
        NotificationManager manager(center, opener);
        testsupport::LogCapture log;

        testsupport::awaitTask(manager.requestAuthorization());
        testsupport::awaitTask(manager.notifyNewUpload(QStringLiteral("Bryllup"), 1, QUrl(QStringLiteral("https://x.test/p/1"))));

        QVERIFY(log.contains(kCategory, QStringLiteral("Skipping authorization request — status already determined")));
        QVERIFY(log.contains(kCategory, QStringLiteral("Failed to deliver notification: quota exceeded")));
        QCOMPARE(center.pendingCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications_dbus.moc"
