#pragma once

#include "app/AppContext.h"

#include <QAbstractButton>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

// What the about window tells about this build. Missing values show as "?".
struct AboutInfo {
    std::optional<QString> shortVersion;
    std::optional<QString> build;
    QString copyright;
    QUrl homePage;
    QString feedbackMail;

    // The values this program was built with.
    static AboutInfo fromBuild();
};

// One link of the about window: a title and an arrow in the brand colour. Runs its action when it has one, else
// opens its address.
class AboutLink : public QAbstractButton
{
    Q_OBJECT
public:
    using Opener = std::function<bool(const QUrl &)>;

    AboutLink(const QString &title, std::optional<QString> url, std::function<void()> action, Opener opener,
              QWidget *parent = nullptr);

    std::optional<QString> url() const { return m_url; }
    void open();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<QString> m_url;
    std::function<void()> m_action;
    Opener m_opener;
};

// "Om Varnostima": the wordmark, the version, three links and the copyright line in a fixed 360 × 440 window,
// centred on the screen when it opens.
class AboutWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize kSize{360, 440};

    explicit AboutWindow(const AppContext &context, QWidget *parent = nullptr);
    // opener: opens web and mail addresses; empty means the desktop's handlers.
    AboutWindow(const AppContext &context, const AboutInfo &info, AboutLink::Opener opener,
                QWidget *parent = nullptr);

    static QString versionText(const std::optional<QString> &shortVersion, const std::optional<QString> &build);
    // "Åpne " and the home page's domain with its first letter in upper case.
    static QString homePageTitle(const QUrl &homePage);
    // Opens http, https and mailto addresses with the desktop's handlers; anything else is refused.
    static bool openWithDesktop(const QUrl &url);

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
