// What the windows are given when a run fails, fault by fault against the stand-in service: the folder's failed
// status, the sign-in error. Each is one of the app's own Norwegian texts, chosen by what happened; the library's
// English words go to the log and never to a window.

#include "UploadTestFixture.h"

#include "service/AuthManager.h"
#include "service/Errors.h"
#include "service/SecureStorage.h"
#include "support/LogCapture.h"
#include "support/RawHttpRecorder.h"

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(testsupport::ScriptedAnswer)

using namespace uploadtest;
using testsupport::LogCapture;
using testsupport::RawHttpRecorder;
using testsupport::ScriptedAnswer;
using testsupport::TempTree;
using Kind = ScriptedAnswer::Kind;

namespace {

// Where the failure ends up in a window.
enum class Road {
    firstSync,     // the folder's status, from its first sync of a.jpg and b.jpg
    update,        // the folder's status, from an update that deletes a.jpg and uploads c.jpg
    move,          // "Flytting feilet: " and the reason
    deleteGallery, // "Sletting feilet: " and the reason
    signIn,        // the sign-in error under the button
};

// How the service misbehaves, beyond a scripted answer to one route.
enum class Setting {
    scripted,       // the route's scripted answer
    notHttpService, // the service's address answers with the answer's body as raw bytes, or bytes that are not HTTP
    notHttpStore,   // the store's address (for c.jpg) answers with bytes that are not HTTP
    noService,      // nothing listens at the service's address
    fileChanged,    // c.jpg changes after it was described, before it is sent
};

const QByteArray kGarbage = "SSH-2.0-OpenSSH_9.2\r\n\r\n";

ScriptedAnswer ofKind(Kind kind)
{
    ScriptedAnswer answer;
    answer.kind = kind;
    return answer;
}

} // namespace

Q_DECLARE_METATYPE(Road)
Q_DECLARE_METATYPE(Setting)

class TestFailureTexts : public QObject
{
    Q_OBJECT

    std::unique_ptr<Fixture> f;

    // A first sync of Album with a.jpg and b.jpg; returns the gallery id.
    QString syncedAlbum()
    {
        f->writeImage("Album/a.jpg");
        f->writeImage("Album/b.jpg");
        finish(f->manager.syncFolder(f->scan("Album")));
        return f->entry("Album").status.galleryId();
    }

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
        QTest::addColumn<Setting>("setting");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<ScriptedAnswer>("answer");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("logged"); // English, in a log line of the engine or the account

        const QString noContact = QStringLiteral("Ingen kontakt med Varnostima — sjekk internettforbindelsen");
        const QString invalid = QStringLiteral("Ugyldig svar fra server");
        const ScriptedAnswer closes = ofKind(Kind::CloseWithoutAnswer);
        const ScriptedAnswer hangs = ofKind(Kind::Hang);
        const ScriptedAnswer unreadable{200, R"({"presignedUrls":"none"})"};
        const auto row = [](const char *name, Road road, Setting setting, const char *method, const char *path,
                            const ScriptedAnswer &answer, const QString &shown, const char *logged) {
            QTest::newRow(name) << road << setting << QByteArray(method) << QByteArray(path) << answer << shown
                                << QString::fromUtf8(logged);
        };
        const auto scripted = Setting::scripted;

        row("first sync: the confirmation's answer is lost", Road::firstSync, scripted, "POST", "/api/gallery/*",
            closes, noContact, "Sync failed for Tur: The connection closed before the answer arrived.");
        row("first sync: the presigned request times out", Road::firstSync, scripted, "POST", "/api/upload/presigned",
            hangs, noContact, "Sync failed for Tur: The request timed out.");
        row("first sync: the presigned answer does not read", Road::firstSync, scripted, "POST",
            "/api/upload/presigned", unreadable, invalid, "Sync failed for Tur: Expected an array at $.presignedUrls");
        row("first sync: the service refuses", Road::firstSync, scripted, "POST", "/api/upload/presigned",
            ScriptedAnswer{500, R"({"error":"boom"})"}, QStringLiteral("Serverfeil (500)"),
            "Sync failed for Tur: the service answered HTTP 500");
        row("first sync: nothing listens", Road::firstSync, Setting::noService, "", "", {}, noContact,
            "Could not check for existing gallery: ");
        // Qt's client reads bytes that are not HTTP as a connection that closed before any answer.
        row("first sync: the answer is not HTTP", Road::firstSync, Setting::notHttpService, "", "", {}, noContact,
            "Could not check for existing gallery: Connection closed");
        row("update: the deletion's answer is lost", Road::update, scripted, "DELETE", "/api/gallery/*", closes,
            noContact, "Delete phase failed for Album: ");
        row("update: the image list does not read", Road::update, scripted, "GET", "/api/gallery/*",
            ScriptedAnswer{200, R"({"images":{}})"}, invalid, "Delete phase failed for Album: Expected an array at $.images");
        // One image's failure is counted, and its reason logged.
        row("update: the store's answer is not HTTP", Road::update, Setting::notHttpStore, "", "", {},
            QStringLiteral("Opplasting feilet for 1 bilde(r)"), "Upload failed for c.jpg: ");
        row("update: the file changed after it was described", Road::update, Setting::fileChanged, "", "", {},
            QStringLiteral("Opplasting feilet for 1 bilde(r)"), "Upload failed for c.jpg: The file ");
        row("move: the answer is lost", Road::move, scripted, "PATCH", "/api/gallery/*", closes,
            "Flytting feilet: " + noContact, "Failed to move Sommer fest: The connection closed before the answer");
        row("move: the service is not reached in time", Road::move, scripted, "GET", "/api/folder", hangs,
            "Flytting feilet: " + noContact, "Failed to move Sommer fest: The request timed out.");
        row("delete: the answer does not read", Road::deleteGallery, scripted, "DELETE", "/api/gallery/*",
            ScriptedAnswer{200, "[]"}, "Sletting feilet: " + invalid, "Failed to delete Vinter from server: ");
        row("sign-in: the answer is lost", Road::signIn, scripted, "GET", "/api/auth/me", closes, noContact,
            "OAuth callback login failed: ");
        row("sign-in: the answer does not read", Road::signIn, scripted, "GET", "/api/auth/me",
            ScriptedAnswer{200, R"({"user":{"email":"x@example.no"}})"}, invalid, "OAuth callback login failed: Missing required key at $.user.id");
        row("sign-in: the answer is not HTTP", Road::signIn, Setting::notHttpService, "", "", {}, noContact,
            "OAuth callback login failed: Connection closed");
        row("sign-in: the answer's body is cut into broken chunks", Road::signIn, Setting::notHttpService, "", "",
            ScriptedAnswer{0, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n{}\r\n0\r\n\r\n"}, invalid,
            "OAuth callback login failed: The data is empty");
        row("sign-in: nothing listens", Road::signIn, Setting::noService, "", "", {}, noContact,
            "OAuth callback login failed: ");
    }
    void shownTextFollowsWhatHappened()
    {
        QFETCH(Road, road);
        QFETCH(Setting, setting);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(ScriptedAnswer, answer);
        QFETCH(QString, shown);
        QFETCH(QString, logged);

        // The state each road starts from, made while the service still behaves.
        QString galleryId;
        SyncFolder folder;
        if (road == Road::firstSync) {
            f->writeImage("Tur/a.jpg");
            f->writeImage("Tur/b.jpg");
            folder = f->scan("Tur");
        } else if (road == Road::update) {
            galleryId = syncedAlbum();
            TempTree::remove(f->exportTree.path("Album/a.jpg"));
            f->writeImage("Album/c.jpg");
            folder = f->entry("Album");
        } else if (road == Road::move || road == Road::deleteGallery) {
            galleryId = f->service.seedGallery(QStringLiteral("Sommer fest"));
            folder.name = road == Road::move ? QStringLiteral("Sommer_fest") : QStringLiteral("Vinter");
            folder.displayName = road == Road::move ? QStringLiteral("Sommer fest") : QStringLiteral("Vinter");
            if (road == Road::move) {
                folder.parentComponents = {QStringLiteral("Ny")};
                folder.relativePath = QStringLiteral("Ny/Sommer_fest");
                folder.path = QStringLiteral("/eksport/Ny/Sommer_fest");
                folder.status = SyncStatus::synced(galleryId, QStringLiteral("sommer-fest"), 0);
                folder.movedFrom = QStringLiteral("Gammelt/Sommer_fest");
            } else {
                folder.path = "__removed__/" + galleryId;
                folder.relativePath = folder.name;
                folder.status = SyncStatus::removedLocally(galleryId, QStringLiteral("vinter"));
            }
            f->manager.setFolders({folder});
            f->manager.setKnownGalleryIds({galleryId});
        }
        QTemporaryDir support;
        const SecureStorage storage(support.path());
        AuthManager auth(f->api, storage, AuthManager::StartupRestore::Manual);

        // The fault.
        RawHttpRecorder garbage(answer.body.isEmpty() ? kGarbage : answer.body);
        QUrl serviceURL = f->service.baseUrl();
        switch (setting) {
        case Setting::scripted:
            if (answer.kind == Kind::Hang)
                f->api.setTimeouts({300ms, 300ms, 2s});
            f->service.script(method, path, answer, -1);
            break;
        case Setting::notHttpService:
            serviceURL = garbage.baseUrl();
            break;
        case Setting::notHttpStore:
            f->service.overrideSlotUrlOnNextPresign(garbage.baseUrl().toString() + QStringLiteral("/store/c"));
            break;
        case Setting::noService: {
            QTcpServer closed; // a port that was free a moment ago, and is again
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            serviceURL = QUrl(QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort()));
            break;
        }
        case Setting::fileChanged:
            f->manager.setUploadStepHook([this](SyncManager::UploadStep step, const QStringList &) {
                if (step == SyncManager::UploadStep::sending)
                    f->writeImage("Album/c.jpg", 10);
            });
            break;
        }
        f->api.setCredentials(serviceURL, QString::fromLatin1(Fixture::token));
        storage.write(QStringLiteral("base-url"), serviceURL.toString());

        LogCapture log;
        QString actual;
        switch (road) {
        case Road::firstSync:
            finish(f->manager.syncFolder(folder));
            actual = failureOf(QStringLiteral("Tur"));
            break;
        case Road::update:
            finish(f->manager.updateFolder(folder));
            actual = failureOf(QStringLiteral("Album"));
            break;
        case Road::move:
            finish(f->manager.moveGalleryOnServer(folder));
            actual = f->manager.folders().value(0).status.failureMessage();
            break;
        case Road::deleteGallery:
            finish(f->manager.deleteGalleryOnServer(folder));
            actual = f->manager.folders().value(0).status.failureMessage();
            break;
        case Road::signIn:
            finish(auth.handleCallbackURL(QUrl(QStringLiteral("varnostima://auth?token=upload-token"))));
            actual = auth.loginError();
            break;
        }

        QCOMPARE(actual, shown);
        QVERIFY2(log.contains(QString(), logged), qPrintable(logged));
        // The window's words stay out of the log, which keeps the library's own.
        const QString reason = shown.section(QStringLiteral(": "), -1);
        for (const auto &line : log.lines())
            QVERIFY2(!line.message.contains(reason), qPrintable(line.message));
    }
};

QTEST_GUILESS_MAIN(TestFailureTexts)
#include "tst_failuretexts.moc"
