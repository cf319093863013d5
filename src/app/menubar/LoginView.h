#pragma once

#include <QWidget>

class AuthManager;
class ProminentButton;
class QLabel;
class QLineEdit;
class Spinner;
class UrlOpener;

// What a signed-out user sees: the wordmark, a tagline and the button that opens the service's sign-in page. The
// sign-in finishes through the callback URL; while the account manager checks a token, a spinner stands in for the
// button. A failed sign-in's message shows under it until a new sign-in starts.
class LoginView : public QWidget
{
    Q_OBJECT
public:
    LoginView(AuthManager &auth, UrlOpener &opener, QWidget *parent = nullptr);

    // Opens the device-login page under the base URL as it is now. When no browser takes it, the view says so and
    // shows the page's address to copy.
    void openDeviceLogin();

    bool isShowingSpinner() const;
    // The error line's text; empty while none shows.
    QString shownError() const;
    // The address shown to copy because no browser took it; empty while none shows.
    QString shownLink() const;

Q_SIGNALS:
    // The page could not be opened and its address shows instead.
    void linkShown();

private:
    void refresh();
    void showLink(const QUrl &link);

    AuthManager &m_auth;
    UrlOpener &m_opener;
    QWidget *m_busy = nullptr;
    ProminentButton *m_button = nullptr;
    QLabel *m_error = nullptr;
    QWidget *m_fallback = nullptr;
    QLineEdit *m_link = nullptr;
};
