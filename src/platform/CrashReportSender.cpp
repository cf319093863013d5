#include "CrashReportSender.h"

#include "CrashHandler.h"
#include "DesktopLogging.h"

#include <QCoroSignal>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QPointer>
#include <QSysInfo>
#include <QUuid>

#include <csignal>
#include <memory>

namespace {

constexpr int kTransferTimeoutMs = 30000;

struct SignalName {
    int number;
    const char *name;
    const char *description;
};

constexpr SignalName kSignalNames[] = {
    {SIGSEGV, "SIGSEGV", "Segmentation fault"}, {SIGBUS, "SIGBUS", "Bus error"},
    {SIGILL, "SIGILL", "Illegal instruction"},  {SIGFPE, "SIGFPE", "Floating-point exception"},
    {SIGABRT, "SIGABRT", "Aborted"},            {SIGTRAP, "SIGTRAP", "Trace/breakpoint trap"},
};

QJsonObject exceptionFor(int sig, int code, const QString &address, QJsonArray frames)
{
    QString name = QStringLiteral("Signal %1").arg(sig);
    QString description = name;
    for (const SignalName &known : kSignalNames) {
        if (known.number == sig) {
            name = QString::fromLatin1(known.name);
            description = QString::fromLatin1(known.description);
        }
    }
    QJsonObject meta{{QStringLiteral("signal"),
                      QJsonObject{{QStringLiteral("number"), sig}, {QStringLiteral("code"), code},
                                  {QStringLiteral("name"), name}}}};
    QString value = description;
    if (!address.isEmpty())
        value += QStringLiteral(" at %1").arg(address);
    return QJsonObject{
        {QStringLiteral("type"), name},
        {QStringLiteral("value"), value},
        {QStringLiteral("mechanism"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("signalhandler")},
                     {QStringLiteral("handled"), false},
                     {QStringLiteral("meta"), meta}}},
        {QStringLiteral("stacktrace"), QJsonObject{{QStringLiteral("frames"), frames}}},
    };
}

} // namespace

CrashReportSender::CrashReportSender(CrashReportDsn dsn, QString folder, bool sendDefaultPii, QObject *parent)
    : QObject(parent), m_dsn(std::move(dsn)), m_folder(std::move(folder)), m_sendDefaultPii(sendDefaultPii)
{
}

QByteArray CrashReportSender::envelope(const QByteArray &report, const QString &eventId, const QDateTime &sentAt) const
{
    const QList<QByteArray> lines = report.split('\n');
    if (lines.isEmpty() || lines.constFirst() != "varnostima-crash 1")
        return {};

    int sig = 0;
    int code = 0;
    qint64 time = 0;
    QString address;
    QString release;
    QJsonArray frames;
    QJsonArray images;
    for (const QByteArray &line : lines) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        const QByteArray key = line.left(space);
        const QByteArray value = line.mid(space + 1);
        if (key == "signal") {
            sig = value.toInt();
        } else if (key == "code") {
            code = value.toInt();
        } else if (key == "address") {
            address = QString::fromLatin1(value);
        } else if (key == "time") {
            time = value.toLongLong();
        } else if (key == "release") {
            release = QString::fromUtf8(value);
        } else if (key == "frame") {
            frames.append(QJsonObject{{QStringLiteral("instruction_addr"), QString::fromLatin1(value)}});
        } else if (key == "module") {
            const qsizetype split = value.indexOf(' ');
            if (split > 0) {
                images.append(QJsonObject{{QStringLiteral("type"), QStringLiteral("elf")},
                                          {QStringLiteral("image_addr"), QString::fromLatin1(value.left(split))},
                                          {QStringLiteral("code_file"), QFile::decodeName(value.mid(split + 1))}});
            }
        }
    }
    if (sig <= 0 || time <= 0)
        return {};

    // The collector wants the outermost caller first; backtrace() gives the innermost first.
    QJsonArray callerFirst;
    for (qsizetype i = frames.size() - 1; i >= 0; --i)
        callerFirst.append(frames.at(i));

    QJsonObject event{
        {QStringLiteral("event_id"), eventId},
        {QStringLiteral("timestamp"), double(time)},
        {QStringLiteral("platform"), QStringLiteral("native")},
        {QStringLiteral("level"), QStringLiteral("fatal")},
        {QStringLiteral("release"), QStringLiteral("varnostima@") + release},
        {QStringLiteral("exception"),
         QJsonObject{{QStringLiteral("values"), QJsonArray{exceptionFor(sig, code, address, callerFirst)}}}},
        {QStringLiteral("debug_meta"), QJsonObject{{QStringLiteral("images"), images}}},
        {QStringLiteral("contexts"),
         QJsonObject{{QStringLiteral("os"), QJsonObject{{QStringLiteral("name"), QStringLiteral("Linux")},
                                                        {QStringLiteral("kernel_version"),
                                                         QSysInfo::kernelVersion()}}}}},
    };
    if (m_sendDefaultPii) {
        event.insert(QStringLiteral("user"), QJsonObject{{QStringLiteral("ip_address"), QStringLiteral("{{auto}}")}});
        event.insert(QStringLiteral("server_name"), QSysInfo::machineHostName());
    }

    const QByteArray payload = QJsonDocument(event).toJson(QJsonDocument::Compact);
    const QJsonObject header{{QStringLiteral("event_id"), eventId},
                             {QStringLiteral("dsn"), m_dsn.text},
                             {QStringLiteral("sent_at"), sentAt.toUTC().toString(Qt::ISODateWithMs)}};
    const QJsonObject itemHeader{{QStringLiteral("type"), QStringLiteral("event")},
                                 {QStringLiteral("length"), payload.size()},
                                 {QStringLiteral("content_type"), QStringLiteral("application/json")}};
    return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n'
        + QJsonDocument(itemHeader).toJson(QJsonDocument::Compact) + '\n' + payload + '\n';
}

QCoro::Task<CrashReportSender::Outcome> CrashReportSender::post(QByteArray body)
{
    QNetworkRequest request(m_dsn.envelopeUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-sentry-envelope"));
    request.setRawHeader("X-Sentry-Auth",
                         QByteArrayLiteral("Sentry sentry_version=7, sentry_client=varnostima-crash/1, sentry_key=")
                             + QUrl::toPercentEncoding(m_dsn.publicKey));
    request.setTransferTimeout(kTransferTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);

    const std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)> reply(m_network.post(request, body),
                                                                          [](QNetworkReply *r) { r->deleteLater(); });
    if (!reply->isFinished())
        co_await qCoro(reply.get(), &QNetworkReply::finished);

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!statusAttribute.isValid()) {
        qCWarning(lcCrashReporter, "Could not send crash report: %s", qUtf8Printable(reply->errorString()));
        co_return Outcome::RetryLater;
    }
    const int status = statusAttribute.toInt();
    if (status >= 200 && status < 300)
        co_return Outcome::Accepted;
    if (status == 408 || status == 429 || status >= 500) {
        qCWarning(lcCrashReporter, "Crash report collector answered %d; trying again at next start", status);
        co_return Outcome::RetryLater;
    }
    qCWarning(lcCrashReporter, "Crash report collector refused a report with status %d", status);
    co_return Outcome::Refused;
}

QCoro::Task<int> CrashReportSender::sendPending()
{
    QPointer<CrashReportSender> self(this);
    const QStringList names =
        QDir(m_folder).entryList({QStringLiteral("crash-*") + QLatin1String(CrashHandler::kReportSuffix)},
                                 QDir::Files | QDir::NoSymLinks, QDir::Time | QDir::Reversed);
    int accepted = 0;
    for (const QString &name : names) {
        const QString path = m_folder + QLatin1Char('/') + name;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            qCWarning(lcCrashReporter, "Cannot read crash report %s", qUtf8Printable(name));
            continue;
        }
        const QByteArray report = file.read(1024 * 1024);
        file.close();

        const QString eventId = QUuid::createUuid().toString(QUuid::Id128);
        const QByteArray body = envelope(report, eventId, QDateTime::currentDateTimeUtc());
        if (body.isEmpty()) {
            qCWarning(lcCrashReporter, "Discarding unreadable crash report %s", qUtf8Printable(name));
            QFile::remove(path);
            continue;
        }

        Outcome outcome = Outcome::RetryLater;
        try {
            outcome = co_await post(body);
        } catch (const std::exception &error) {
            qCWarning(lcCrashReporter, "Could not send crash report: %s", error.what());
        }
        if (!self)
            co_return accepted;
        if (outcome == Outcome::RetryLater)
            break;
        if (outcome == Outcome::Accepted) {
            ++accepted;
            qCInfo(lcCrashReporter, "Sent crash report %s as event %s", qUtf8Printable(name), qUtf8Printable(eventId));
        }
        if (!QFile::remove(path))
            qCWarning(lcCrashReporter, "Cannot delete crash report %s", qUtf8Printable(name));
    }
    co_return accepted;
}
