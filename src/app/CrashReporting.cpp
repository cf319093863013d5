#include "CrashReporting.h"

#include "platform/CrashHandler.h"
#include "service/AppSupport.h"

#include <QLoggingCategory>

namespace {
Q_LOGGING_CATEGORY(lcCrashReporting, "no.varnostima.mac.CrashReporting")

QCoro::Task<void> sendPendingReports(CrashReportSender *sender)
{
    try {
        const int sent = co_await sender->sendPending();
        if (sent > 0)
            qCInfo(lcCrashReporting, "Sent %d crash report(s) from earlier runs", sent);
    } catch (const std::exception &error) {
        qCWarning(lcCrashReporting, "Sending crash reports failed: %s", error.what());
    } catch (...) {
        qCWarning(lcCrashReporting, "Sending crash reports failed");
    }
}
} // namespace

namespace CrashReporting {

QString reportFolder()
{
    return appSupportDirectory() + QStringLiteral("/Crash Reports");
}

std::unique_ptr<CrashReportSender> start(const QString &dsn, bool sendDefaultPii, const QString &folder)
{
    if (dsn.trimmed().isEmpty()) {
        qCInfo(lcCrashReporting, "Crash reporting is off: no DSN in this build");
        return nullptr;
    }
    const auto parsed = CrashReportDsn::parse(dsn);
    if (!parsed) {
        qCCritical(lcCrashReporting, "Crash reporting is off: the DSN is not a valid https address");
        return nullptr;
    }
    if (!CrashHandler::install(folder, QStringLiteral(VARNOSTIMA_VERSION)))
        return nullptr;
    auto sender = std::make_unique<CrashReportSender>(*parsed, folder, sendDefaultPii);
    sendPendingReports(sender.get());
    return sender;
}

} // namespace CrashReporting
