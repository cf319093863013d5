#pragma once

#include <QList>
#include <QUrl>

// Opens web pages in the user's browser. Only http and https URLs are ever opened.
class UrlOpener
{
public:
    virtual ~UrlOpener() = default;
    // False when the URL is not a web address or the desktop could not open it.
    virtual bool openUrl(const QUrl &url) = 0;

    static bool isWebUrl(const QUrl &url);
};

// Hands web URLs to the desktop's default browser.
class DesktopUrlOpener final : public UrlOpener
{
public:
    bool openUrl(const QUrl &url) override;
};

// Remembers what would have been opened; for tests.
class RecordingUrlOpener final : public UrlOpener
{
public:
    bool openUrl(const QUrl &url) override
    {
        if (!isWebUrl(url))
            return false;
        opened.append(url);
        return true;
    }
    QList<QUrl> opened;
};
