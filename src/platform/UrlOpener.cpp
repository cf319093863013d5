#include "UrlOpener.h"

#include "DesktopLogging.h"
#include "UserDesktop.h"

#include <QProcess>
#include <QStandardPaths>

bool UrlOpener::isWebUrl(const QUrl &url)
{
    if (!url.isValid() || url.isRelative() || url.host().isEmpty())
        return false;
    const QString scheme = url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

bool DesktopUrlOpener::openUrl(const QUrl &url)
{
    // Anything else (file:, custom schemes) could start arbitrary handlers.
    if (!isWebUrl(url)) {
        qCWarning(lcUrlOpener, "Refusing to open non-web URL with scheme %s", qUtf8Printable(url.scheme()));
        return false;
    }
    return openInUserDesktop(url);
}

void UrlOpener::openUrl(const QUrl &url, std::function<void()> onFailed)
{
    if (!openUrl(url) && onFailed)
        onFailed();
}

void DesktopUrlOpener::openUrl(const QUrl &url, std::function<void()> onFailed)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty() || !isWebUrl(url)) {
        UrlOpener::openUrl(url, std::move(onFailed));
        return;
    }
    // xdg-open starts fine on a desktop without a browser and only its exit status tells. It may also wait for a
    // browser it started until that closes, so nothing waits for it here.
    auto *process = new QProcess;
    process->setProcessEnvironment(userDesktopEnvironment());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    auto fail = [process, onFailed = std::move(onFailed), url](const QString &why) {
        qCWarning(lcUrlOpener, "Could not open %s: %s", qUtf8Printable(url.toString()), qUtf8Printable(why));
        process->deleteLater();
        if (onFailed)
            onFailed();
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [process, fail](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            fail(process->errorString());
    });
    QObject::connect(process, &QProcess::finished, process, [process, fail](int exitCode, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && exitCode == 0)
            process->deleteLater();
        else
            fail(QStringLiteral("xdg-open ended with status %1").arg(exitCode));
    });
    process->start(opener, {url.toString(QUrl::FullyEncoded)});
}
