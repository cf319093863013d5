#include "LaunchAtLoginManager.h"

#include "platform/LoginItemService.h"
#include "platform/PlatformError.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(lcLaunchAtLogin, "no.varnostima.mac.LaunchAtLogin")
}

LaunchAtLoginManager::LaunchAtLoginManager(LoginItemService &service, QObject *parent)
    : QObject(parent), m_service(service)
{
    m_isEnabled = m_service.isEnabled();
}

void LaunchAtLoginManager::setEnabled(bool enabled)
{
    const bool registered = m_service.isEnabled();
    try {
        if (enabled && !registered)
            m_service.registerItem();
        else if (!enabled && registered)
            m_service.unregisterItem();
    } catch (const PlatformError &error) {
        qCCritical(lcLaunchAtLogin, "Failed to update launch-at-login: %s", qUtf8Printable(error.localizedDescription()));
    }
    refresh();
}

void LaunchAtLoginManager::refresh()
{
    const bool enabled = m_service.isEnabled();
    if (enabled == m_isEnabled)
        return;
    m_isEnabled = enabled;
    Q_EMIT isEnabledChanged(enabled);
}
