// The app on a real X11 desktop: a window manager, an XEmbed tray host and a notification daemon from the
// distribution, run by this test on the display and private session bus that CTest gives it. The app binary runs
// as scripts/run starts a trial, against the stand-in service, for a user whose home and folders are the test's
// own. Every wait polls with a generous bound.

#include "support/FileBytes.h"
#include "support/StandInService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr int kWaitMs = 60'000;
const QString kGallery = QStringLiteral("Første galleri");
const QByteArray kToken = "desktop-token";
const QByteArray kBrowserToken = "browser-token";

struct Output {
    int exitCode = -1;
    QString text;
};

Output run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30'000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput())};
}

QStringList windows(const QStringList &searchArguments)
{
    return run(QStringLiteral("xdotool"), QStringList{QStringLiteral("search")} + searchArguments)
        .text.split(u'\n', Qt::SkipEmptyParts);
}

struct TrayIcon {
    QString window; // decimal, as xdotool writes it
    QPoint centre;
};

// The app's icon as an XEmbed client inside the tray host's window tree, with its place on the screen.
std::optional<TrayIcon> dockedIcon()
{
    // 0x800006 "Varnostima": ("varnostima" "Varnostima")  22x26+0+0  +1257+1
    static const QRegularExpression line(QStringLiteral(
        "(0x[0-9a-f]+) .*\\(\"varnostima\" \"Varnostima\"\\)\\s+(\\d+)x(\\d+)[+-]\\d+[+-]\\d+\\s+\\+(-?\\d+)\\+(-?\\d+)"));
    for (const QString &host : windows({QStringLiteral("--class"), QStringLiteral("trayer")})) {
        const QString tree = run(QStringLiteral("xwininfo"), {QStringLiteral("-tree"), QStringLiteral("-id"), host}).text;
        const QRegularExpressionMatch match = line.match(tree);
        if (match.hasMatch()) {
            return TrayIcon{QString::number(match.captured(1).toULongLong(nullptr, 16)), QPoint(match.captured(4).toInt() + match.captured(2).toInt() / 2,
                                                      match.captured(5).toInt() + match.captured(3).toInt() / 2)};
        }
    }
    return std::nullopt;
}

// A visible window of the app at least as wide as the panel, other than the icon: its place on the screen.
std::optional<QRect> panelGeometry(const QString &iconWindow)
{
    for (const QString &window : windows({QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                                          QStringLiteral("varnostima")})) {
        const QString geometry = run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), window}).text;
        static const QRegularExpression place(
            QStringLiteral("Position: (-?\\d+),(-?\\d+).*Geometry: (\\d+)x(\\d+)"),
            QRegularExpression::DotMatchesEverythingOption);
        const QRegularExpressionMatch match = place.match(geometry);
        if (window != iconWindow && match.hasMatch() && match.captured(3).toInt() >= 300)
            return QRect(match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt(),
                         match.captured(4).toInt());
    }
    return std::nullopt;
}

bool panelVisible(const QString &iconWindow)
{
    return panelGeometry(iconWindow).has_value();
}

// The filled brand-green face of the sign-in button inside the given part of the screen; nothing else the panel
// shows is that green.
std::optional<QPoint> signInButton(const QRect &area)
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    QRect face;
    int pixels = 0;
    for (int y = std::max(area.top(), 0); y <= std::min(area.bottom(), shot.height() - 1); ++y) {
        for (int x = std::max(area.left(), 0); x <= std::min(area.right(), shot.width() - 1); ++x) {
            const QColor colour = shot.pixelColor(x, y);
            if (colour.green() > 150 && colour.green() - colour.red() > 90 && colour.green() - colour.blue() > 20) {
                face |= QRect(x, y, 1, 1);
                ++pixels;
            }
        }
    }
    if (pixels < 400)
        return std::nullopt;
    return face.center();
}

bool click(const QPoint &at)
{
    return run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                           QStringLiteral("click"), QStringLiteral("1")})
               .exitCode
        == 0;
}

// Clicks the tray icon until its panel shows, as a person would click again: on a loaded machine the window manager
// may take the first click before the icon is ready, or deny the new panel focus so that it hides at once.
std::optional<QRect> openPanel(const QString &iconWindow, const QPoint &iconCentre)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!click(iconCentre))
            return std::nullopt;
        std::optional<QRect> panel;
        if (QTest::qWaitFor([&] { return (panel = panelGeometry(iconWindow)).has_value(); }, kWaitMs / 5))
            return panel;
    }
    return std::nullopt;
}

QJsonArray notificationHistory()
{
    const QJsonObject history =
        QJsonDocument::fromJson(run(QStringLiteral("dunstctl"), {QStringLiteral("history")}).text.toUtf8()).object();
    return history.value(QStringLiteral("data")).toArray().at(0).toArray();
}

// The icon file the daemon found for the notification with this summary from the app; empty when it found none.
std::optional<QString> historyHolds(const QString &summary)
{
    for (const QJsonValue &entry : notificationHistory()) {
        const QJsonObject fields = entry.toObject();
        const auto field = [&fields](const char *name) {
            return fields.value(QLatin1String(name)).toObject().value(QStringLiteral("data")).toString();
        };
        if (field("summary") == summary && field("appname") == QLatin1String("Varnostima"))
            return field("icon_path");
    }
    return std::nullopt;
}

} // namespace

class TestRealDesktop : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    testsupport::StandInService m_service;
    std::vector<std::unique_ptr<QProcess>> m_desktop; // window manager, tray host, notification daemon
    QProcess m_app;
    std::optional<TrayIcon> m_icon;

    void startDesktopProgram(const QString &program, const QStringList &arguments)
    {
        auto process = std::make_unique<QProcess>();
        process->setStandardOutputFile(m_dir.filePath(program + QStringLiteral(".log")));
        process->setStandardErrorFile(m_dir.filePath(program + QStringLiteral(".log")), QIODevice::Append);
        process->start(program, arguments);
        QVERIFY2(process->waitForStarted(), qPrintable(program + QStringLiteral(" is missing: scripts/deps.sh installs it")));
        m_desktop.push_back(std::move(process));
    }

    // As scripts/run starts the trial: data and runtime folders of the app's own, and the user's values from before
    // for what the app opens in the user's desktop.
    QProcessEnvironment trialEnvironment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VARNOSTIMA_USER_ENV"), QStringLiteral("XDG_DATA_HOME XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("VARNOSTIMA_USER_XDG_RUNTIME_DIR"), qEnvironmentVariable("XDG_RUNTIME_DIR"));
        environment.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_dir.filePath(QStringLiteral("run")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        return environment;
    }

    void startApp()
    {
        m_app.setProcessEnvironment(trialEnvironment());
        m_app.setStandardOutputFile(m_dir.filePath(QStringLiteral("app.log")), QIODevice::Append);
        m_app.setStandardErrorFile(m_dir.filePath(QStringLiteral("app.log")), QIODevice::Append);
        m_app.start(QStringLiteral(VARNOSTIMA_APP_BINARY), {});
        QVERIFY(m_app.waitForStarted());
    }

    void stopApp()
    {
        if (m_app.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_app.processId()), SIGTERM);
            if (!m_app.waitForFinished(kWaitMs))
                m_app.kill();
        }
    }

    QString appLog() const
    {
        QFile log(m_dir.filePath(QStringLiteral("app.log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(4000)) : QString();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        // A user of the test's own, with the desktop's defaults: every program started from here on is theirs.
        const QString userRuntime = m_dir.filePath(QStringLiteral("user-run"));
        QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("home"))) && QDir().mkpath(userRuntime));
        QFile::setPermissions(userRuntime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("HOME", m_dir.filePath(QStringLiteral("home")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", userRuntime.toUtf8());
        for (const char *name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "BROWSER"})
            qunsetenv(name);
        QVERIFY2(QDBusConnection::sessionBus().isConnected(), "needs a private session bus (dbus-run-session)");

        QVERIFY(writeFile(m_dir.filePath(QStringLiteral("dunstrc")),
                          "[global]\n    origin = bottom-right\n    offset = 16x16\n    font = DejaVu Sans 10\n"
                          "[urgency_normal]\n    timeout = 0\n"));
        startDesktopProgram(QStringLiteral("openbox"), {});
        startDesktopProgram(QStringLiteral("trayer"),
                            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                             QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                             QStringLiteral("--height"), QStringLiteral("28"), QStringLiteral("--SetDockType"),
                             QStringLiteral("true"), QStringLiteral("--transparent"), QStringLiteral("true"),
                             QStringLiteral("--alpha"), QStringLiteral("0"), QStringLiteral("--tint"),
                             QStringLiteral("0xe4e4e4")});
        startDesktopProgram(QStringLiteral("dunst"), {QStringLiteral("-config"), m_dir.filePath(QStringLiteral("dunstrc"))});
        QTRY_VERIFY_WITH_TIMEOUT(!windows({QStringLiteral("--class"), QStringLiteral("trayer")}).isEmpty(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     QStringLiteral("org.freedesktop.Notifications")),
                                 kWaitMs);

        // A signed-in user whose export folder holds one folder the service has never seen.
        const QString data = m_dir.filePath(QStringLiteral("data/Varnostima"));
        const QString folder = m_dir.filePath(QStringLiteral("Eksport/") + kGallery);
        QVERIFY(QDir().mkpath(data) && QDir().mkpath(folder) && QDir().mkpath(m_dir.filePath(QStringLiteral("run"))));
        QFile::setPermissions(m_dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        for (const QString &name : {QStringLiteral("IMG_0001.jpg"), QStringLiteral("IMG_0002.jpg")}) {
            QImage image(320, 200, QImage::Format_RGB32);
            image.fill(name.endsWith(QLatin1String("1.jpg")) ? QColor(40, 90, 160) : QColor(200, 120, 60));
            QVERIFY(image.save(folder + u'/' + name, "JPEG"));
        }
        m_service.addAccount(kToken);
        QVERIFY(writeFile(data + QStringLiteral("/.api-token"), kToken));
        QVERIFY(writeFile(data + QStringLiteral("/.base-url"), m_service.baseUrl().toString().toUtf8()));
        QVERIFY(writeFile(data + QStringLiteral("/watch-folder.bookmark"),
                          m_dir.filePath(QStringLiteral("Eksport")).toUtf8()));

        startApp();
    }

    void iconIsDockedInTheTrayHost()
    {
        QTRY_VERIFY2_WITH_TIMEOUT((m_icon = dockedIcon()).has_value(), qPrintable(appLog()), kWaitMs);
    }

    void firstSyncOfANewFolderNotifies()
    {
        QTRY_VERIFY2_WITH_TIMEOUT(run(QStringLiteral("dunstctl"), {QStringLiteral("count"), QStringLiteral("displayed")})
                                          .text.trimmed()
                                          .toInt()
                                      > 0,
                                  qPrintable(appLog()), kWaitMs);
        const QList<testsupport::StandInGallery> galleries = m_service.galleries();
        QCOMPARE(galleries.size(), 1);
        QCOMPARE(galleries.first().title, kGallery);
        QCOMPARE(galleries.first().images.size(), 2);
    }

    void clickOnTheIconShowsThePanel()
    {
        QVERIFY(m_icon);
        QVERIFY(!panelVisible(m_icon->window));
        QVERIFY2(openPanel(m_icon->window, m_icon->centre).has_value(), qPrintable(appLog()));

        // The picture of the whole desktop, with the panel open and the notification still shown.
        QTest::qWait(500); // lets the panel's first paint reach the screen; nothing is asserted on it
        QDir().mkpath(QStringLiteral(VARNOSTIMA_SCREENSHOT_DIR));
        const QString shot = QStringLiteral(VARNOSTIMA_SCREENSHOT_DIR "/real-desktop.png");
        QVERIFY(QGuiApplication::primaryScreen()->grabWindow(0).save(shot));
        qInfo("Screenshot: %s", qPrintable(shot));
    }

    void theDaemonReceivedTheNotification()
    {
        QCOMPARE(run(QStringLiteral("dunstctl"), {QStringLiteral("close-all")}).exitCode, 0);
        std::optional<QString> icon;
        QTRY_VERIFY_WITH_TIMEOUT((icon = historyHolds(kGallery)).has_value(), kWaitMs);
        // The daemon found the app's icon: it was sent as a file, not a name it cannot look up.
        QVERIFY2(!icon->isEmpty() && QFileInfo(*icon).isFile(), qPrintable(*icon));
    }

    // A new user's sign-in: their browser is registered in their own data folder only, and the trial's app is
    // started with a data folder of its own. The browser the sign-in button opens loads the stand-in's page and
    // follows its link, through xdg-open, back to the app.
    void signsInThroughTheUsersDefaultBrowser()
    {
        const QString home = m_dir.filePath(QStringLiteral("home"));
        const QString applications = home + QStringLiteral("/.local/share/applications");
        const QString browser = home + QStringLiteral("/bin/browser");
        const QString browserLog = m_dir.filePath(QStringLiteral("browser.log"));
        QVERIFY(QDir().mkpath(applications) && QDir().mkpath(home + QStringLiteral("/bin")));
        QVERIFY(writeFile(browser,
                          QStringLiteral("#!/bin/bash\n"
                                         "echo \"opened $1\" >> '%1'\n"
                                         "address=\"${1#http://}\"; server=\"${address%%/*}\"\n"
                                         "exec 3<>\"/dev/tcp/${server%:*}/${server#*:}\" || exit 1\n"
                                         "printf 'GET /%s HTTP/1.0\\r\\nHost: %s\\r\\n\\r\\n' \"${address#*/}\" \"$server\" >&3\n"
                                         "link=\"$(grep -o 'href=\"varnostima://[^\"]*' <&3)\"\n"
                                         "xdg-open \"${link#href=\\\"}\"\n"
                                         "echo \"callback ended $?\" >> '%1'\n")
                              .arg(browserLog)
                              .toUtf8()));
        QVERIFY(QFile::setPermissions(browser, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(writeFile(applications + QStringLiteral("/browser.desktop"),
                          QStringLiteral("[Desktop Entry]\nType=Application\nName=Nettleser\nExec=%1 %u\n"
                                         "MimeType=x-scheme-handler/http;x-scheme-handler/https;\n")
                              .arg(browser)
                              .toUtf8()));
        QCOMPARE(run(QStringLiteral("xdg-mime"), {QStringLiteral("default"), QStringLiteral("browser.desktop"),
                                                  QStringLiteral("x-scheme-handler/http"),
                                                  QStringLiteral("x-scheme-handler/https")})
                     .exitCode,
                 0);
        // As scripts/run registers the trial: the link's handler hands over to the app in the trial's runtime folder.
        QCOMPARE(run(QStringLiteral(VARNOSTIMA_SOURCE_DIR "/scripts/register-desktop"),
                     {QStringLiteral(VARNOSTIMA_APP_BINARY), m_dir.filePath(QStringLiteral("run"))})
                     .exitCode,
                 0);

        // Signed out, and the page signs in with another account.
        stopApp();
        const QString token = m_dir.filePath(QStringLiteral("data/Varnostima/.api-token"));
        QVERIFY(QFile::remove(token));
        m_service.addAccount(kBrowserToken, QStringLiteral("user-2"));
        m_service.setDeviceLoginToken(kBrowserToken);
        startApp();

        QTRY_VERIFY2_WITH_TIMEOUT((m_icon = dockedIcon()).has_value(), qPrintable(appLog()), kWaitMs);
        const std::optional<QRect> panel = openPanel(m_icon->window, m_icon->centre);
        QVERIFY2(panel.has_value(), qPrintable(appLog()));
        std::optional<QPoint> button;
        QTRY_VERIFY2_WITH_TIMEOUT((button = signInButton(*panel)).has_value(), qPrintable(appLog()), kWaitMs);
        QVERIFY(click(*button));

        QTRY_VERIFY2_WITH_TIMEOUT(readFile(token) == kBrowserToken,
                                  qPrintable(QString::fromUtf8(readFile(browserLog)) + appLog()), kWaitMs);
        // The token can land before the browser's xdg-open has returned and said how it ended.
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(browserLog)).split(u'\n', Qt::SkipEmptyParts),
                                  (QStringList{QStringLiteral("opened ") + m_service.baseUrl().toString()
                                                   + QStringLiteral("/auth/device-login"),
                                               QStringLiteral("callback ended 0")}),
                                  kWaitMs);
        // The link reached the running app: no second copy started on the user's own data folder.
        QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.local/share/Varnostima")));
    }

    void cleanupTestCase()
    {
        stopApp();
        for (auto &process : m_desktop) {
            process->terminate();
            if (!process->waitForFinished(10'000))
                process->kill();
        }
    }
};

QTEST_MAIN(TestRealDesktop)
#include "tst_realdesktop.moc"
