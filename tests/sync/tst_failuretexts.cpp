// What the windows are given when a run fails, fault by fault against the stand-in service: the folder's failed
// status, the sign-in error. Each is one of the app's own Norwegian texts, chosen by what happened; the library's
// English words go to the log and never to a window.

#include "UploadTestFixture.h"

#include "service/AuthManager.h"
#include "service/SecureStorage.h"
#include "support/LogCapture.h"
#include "support/RawHttpRecorder.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)

using namespace uploadtest;
using testsupport::ScriptedAnswer;
using Kind = ScriptedAnswer::Kind;

namespace {

// Where the failure ends up in a window.
enum class Road {
    firstSync, // the status of Tur after its first sync of a.jpg
    update,    // the status of Album after an update that deletes a.jpg and uploads c.jpg
    move,      // "Flytting feilet: " and the reason
    remove,    // "Sletting feilet: " and the reason
    signIn,    // the sign-in error under the button
};

// Faults beyond a scripted answer, named where the method goes.
const QByteArray kNotHttp = "not HTTP";         // the service's address answers "SSH-2.0-…"
const QByteArray kStoreNotHttp = "store not HTTP"; // the slot of c.jpg answers "SSH-2.0-…"
const QByteArray kNobody = "nobody listens";
const QByteArray kChanged = "file changed";     // c.jpg changes between its description and its upload

ScriptedAnswer ofKind(Kind kind)
{
    ScriptedAnswer answer;
    answer.kind = kind;
    return answer;
}

} // namespace

Q_DECLARE_METATYPE(Road)

class TestFailureTexts : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;

    QString failureOf(const QString &relative) const
    {
        const SyncFolder entry = f->entry(relative);
        return entry.status.is(SyncStatus::Case::failed) ? entry.status.failureMessage() : QStringLiteral("<not failed>");
    }

private Q_SLOTS:
    void init() { f = std::make_unique<Fixture>(); }
    void cleanup() { f.reset(); }

    void shownTextFollowsWhatHappened_data()
    {
        QTest::addColumn<Road>("road");
        QTest::addColumn<QByteArray>("method"); // or one of the faults above
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged"); // English, in a log line of the engine or the account
        const QString noContact = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
        const QString invalid = QStringLiteral("Ugyldig svar fra server");
        const QString oneFailed = QStringLiteral("Opplasting feilet for 1 bilde(r)");
        const ScriptedAnswer closes = ofKind(Kind::CloseWithoutAnswer);
        const auto row = [](const char *name, Road road, const char *method, const char *path, const ScriptedAnswer &a,
                            const QString &shown, const char *logged) {
            QTest::newRow(name) << road << QByteArray(method) << QByteArray(path) << a << shown << QString(logged);
        };
        row("first sync: the confirmation's answer is lost", Road::firstSync, "POST", "/api/gallery/*", closes,
            noContact, "Sync failed for Tur: The connection closed before the answer arrived.");
        row("first sync: the presigned request times out", Road::firstSync, "POST", "/api/upload/presigned",
            ofKind(Kind::Hang), noContact, "Sync failed for Tur: The request timed out.");
        row("first sync: the presigned answer does not read", Road::firstSync, "POST", "/api/upload/presigned",
            {200, R"({"presignedUrls":"none"})"}, invalid, "Sync failed for Tur: Expected an array at $.presignedUrls");
        row("first sync: nobody listens", Road::firstSync, kNobody, "", {}, noContact,
            "Could not check for existing gallery: Connection refused");
        // Qt's client reads bytes that are not HTTP as a connection that closed before any answer.
        row("first sync: the answer is not HTTP", Road::firstSync, kNotHttp, "", {}, noContact,
            "Could not check for existing gallery: Connection closed");
        row("update: the deletion's answer is lost", Road::update, "DELETE", "/api/gallery/*", closes, noContact,
            "Delete phase failed for Album: The connection closed before the answer arrived.");
        // One image's failure is counted; its reason goes to the log.
        row("update: the store's answer is not HTTP", Road::update, kStoreNotHttp, "", {}, oneFailed,
            "Upload failed for c.jpg: ");
        row("update: the file changed after it was described", Road::update, kChanged, "", {}, oneFailed,
            "Upload failed for c.jpg: The file ");
        row("move: the answer is lost", Road::move, "PATCH", "/api/gallery/*", closes, "Flytting feilet: " + noContact,
            "Failed to move Sommer fest: The connection closed before the answer arrived.");
        row("delete: the answer does not read", Road::remove, "DELETE", "/api/gallery/*", {200, "[]"},
            "Sletting feilet: " + invalid, "Failed to delete Vinter from server: Expected a JSON object");
        row("sign-in: the answer is lost", Road::signIn, "GET", "/api/auth/me", closes, noContact,
            "OAuth callback login failed: Connection closed");
        row("sign-in: the answer does not read", Road::signIn, "GET", "/api/auth/me", {200, R"({"user":{}})"}, invalid,
            "OAuth callback login failed: Missing required key at $.user.id");
        row("sign-in: nobody listens", Road::signIn, kNobody, "", {}, noContact,
            "OAuth callback login failed: Connection refused");
    }
    void shownTextFollowsWhatHappened()
    {
        QFETCH(Road, road);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, shown);
        QFETCH(QString, logged);

        // Each road's starting state, made while the service still behaves.
        SyncFolder folder;
        if (road == Road::firstSync) {
            f->writeImage("Tur/a.jpg");
            folder = f->scan("Tur");
        } else if (road == Road::update) {
            f->writeImage("Album/a.jpg");
            f->writeImage("Album/b.jpg");
            finish(f->manager.syncFolder(f->scan("Album")));
            testsupport::TempTree::remove(f->exportTree.path("Album/a.jpg"));
            f->writeImage("Album/c.jpg");
            folder = f->entry("Album");
        } else if (road != Road::signIn) {
            const QString galleryId = f->service.seedGallery(QStringLiteral("Sommer fest"));
            folder.name = folder.displayName = folder.relativePath = QStringLiteral("Vinter");
            folder.path = "__removed__/" + galleryId;
            folder.status = SyncStatus::removedLocally(galleryId, QStringLiteral("vinter"));
            if (road == Road::move) {
                folder.displayName = QStringLiteral("Sommer fest");
                folder.parentComponents = {QStringLiteral("Ny")};
                folder.path = QStringLiteral("/eksport/Ny/Sommer_fest");
                folder.status = SyncStatus::synced(galleryId, QStringLiteral("sommer-fest"), 0);
                folder.movedFrom = QStringLiteral("Sommer_fest");
            }
            f->manager.setFolders({folder});
            f->manager.setKnownGalleryIds({galleryId});
        }
        QTemporaryDir support;
        const SecureStorage storage(support.path());
        AuthManager auth(f->api, storage, AuthManager::StartupRestore::Manual);

        testsupport::RawHttpRecorder garbage(QByteArray("SSH-2.0-OpenSSH_9.2\r\n\r\n"));
        QUrl serviceURL = f->service.baseUrl();
        if (method == kNotHttp) {
            serviceURL = garbage.baseUrl();
        } else if (method == kStoreNotHttp) {
            f->service.overrideSlotUrlOnNextPresign(garbage.baseUrl().toString() + QStringLiteral("/store/c"));
        } else if (method == kNobody) {
            QTcpServer closed; // a port that was free a moment ago, and is again
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            serviceURL = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
        } else if (method == kChanged) {
            f->manager.setUploadStepHook([this](SyncManager::UploadStep step, const QStringList &) {
                if (step == SyncManager::UploadStep::sending)
                    f->writeImage("Album/c.jpg", 10);
            });
        } else {
            if (answer.kind == Kind::Hang)
                f->api.setTimeouts({300ms, 300ms, 2s});
            f->service.script(method, path, answer, -1);
        }
        f->api.setCredentials(serviceURL, QString::fromLatin1(Fixture::token));
        storage.write(QStringLiteral("base-url"), serviceURL.toString());

        testsupport::LogCapture log;
        QString actual;
        if (road == Road::firstSync) {
            finish(f->manager.syncFolder(folder));
            actual = failureOf(QStringLiteral("Tur"));
        } else if (road == Road::update) {
            finish(f->manager.updateFolder(folder));
            actual = failureOf(QStringLiteral("Album"));
        } else if (road == Road::signIn) {
            finish(auth.handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=upload-token"))));
            actual = auth.loginError();
        } else {
            finish(road == Road::move ? f->manager.moveGalleryOnServer(folder) : f->manager.deleteGalleryOnServer(folder));
            actual = f->manager.folders().value(0).status.failureMessage();
        }

        QCOMPARE(actual, shown);
        QVERIFY2(log.contains(QString(), logged), qPrintable(logged));
        // The window's words stay out of the log.
        const QString reason = shown.section(QStringLiteral(": "), -1);
        for (const auto &line : log.lines())
            QVERIFY2(!line.message.contains(reason), qPrintable(line.message));
    }
};

QTEST_GUILESS_MAIN(TestFailureTexts)
#include "tst_failuretexts.moc"
