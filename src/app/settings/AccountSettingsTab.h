#pragma once

#include <QWidget>

class AuthManager;
class FormSection;

// "Konto": whether the user is signed in, and signing out. Signing in happens in the menu-bar panel.
class AccountSettingsTab : public QWidget
{
    Q_OBJECT
public:
    explicit AccountSettingsTab(AuthManager &auth, QWidget *parent = nullptr);

    bool showsSignedIn() const;

private:
    void refresh();

    AuthManager &m_auth;
    FormSection *m_signedIn = nullptr;
    FormSection *m_signedOut = nullptr;
};
