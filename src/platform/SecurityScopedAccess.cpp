#include "SecurityScopedAccess.h"

SecurityScope &systemSecurityScope()
{
    static SystemSecurityScope scope;
    return scope;
}

SecurityScopedAccess::SecurityScopedAccess(SecurityScope &scope, QString path)
    : m_scope(scope)
    , m_path(std::move(path))
    , m_accessing(m_scope.startAccessing(m_path))
{
}

SecurityScopedAccess::~SecurityScopedAccess()
{
    if (m_accessing)
        m_scope.stopAccessing(m_path);
}
