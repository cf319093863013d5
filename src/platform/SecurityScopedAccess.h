#pragma once

#include <QString>

// Access to a file or folder the user granted through a bookmark. Every successful start is matched by exactly
// one stop. On Linux ordinary permissions apply and both calls do nothing; tests install a counting scope.
class SecurityScope
{
public:
    virtual ~SecurityScope() = default;
    virtual bool startAccessing(const QString &path) = 0;
    virtual void stopAccessing(const QString &path) = 0;
};

// The scope of this platform: grants every start, has nothing to release.
class SystemSecurityScope final : public SecurityScope
{
public:
    bool startAccessing(const QString &) override { return true; }
    void stopAccessing(const QString &) override {}
};

SecurityScope &systemSecurityScope();

// Holds access for its lifetime: stops on destruction, and only when the start succeeded.
class SecurityScopedAccess
{
public:
    SecurityScopedAccess(SecurityScope &scope, QString path);
    ~SecurityScopedAccess();
    SecurityScopedAccess(const SecurityScopedAccess &) = delete;
    SecurityScopedAccess &operator=(const SecurityScopedAccess &) = delete;

    bool isAccessing() const { return m_accessing; }

private:
    SecurityScope &m_scope;
    QString m_path;
    bool m_accessing;
};
