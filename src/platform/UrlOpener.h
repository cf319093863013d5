#pragma once

#include <QList>
#include <QUrl>

#include <functional>

// Opens web pages in the user's browser. Only http and https URLs are ever opened.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    // False when the URL is not a web address or the desktop could not open it.
    virtual bool openUrl(const QUrl &url) = 0;
    // Opens like openUrl and calls onFailed when the page could not be opened, which a desktop may only know a
    // while later (no browser behind its opener). onFailed runs at most once, on the calling thread.
    virtual void openUrl(const QUrl &url, std::function<void()> onFailed);

    static bool isWebUrl(const QUrl &url);
};

// Hands web URLs to the desktop's default browser, which runs in the user's environment (UserDesktop.h).
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool openUrl(const QUrl &url) override;
    // Through xdg-open where there is one, whose exit status says whether a browser took the page.
    void openUrl(const QUrl &url, std::function<void()> onFailed) override;
};

// Remembers what would have been opened; for tests.
class RecordingUrlOpener final : public UrlOpener
{
public:
    using UrlOpener::openUrl;
    bool openUrl(const QUrl &url) override
    {
        if (!isWebUrl(url) || noBrowser)
            return false;
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
    bool noBrowser = false; // every opening fails, as on a desktop without a browser
};
