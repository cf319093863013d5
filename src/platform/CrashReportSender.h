#pragma once

#include "CrashReportDsn.h"

#include <QCoroTask>
#include <QDateTime>
#include <QNetworkAccessManager>
#include <QObject>

// Sends the reports CrashHandler left in a folder to the collector's envelope endpoint.
class CrashReportSender : public QObject
{
    Q_OBJECT
public:
    // sendDefaultPii: let the collector record the sender's IP address and this machine's host name.
    CrashReportSender(CrashReportDsn dsn, QString folder, bool sendDefaultPii, QObject *parent = nullptr);

    // Sends every finished report, oldest first, and deletes each one the collector accepted (or refused for good,
    // or that cannot be read). Stops at the first transport failure or server error and keeps the rest for the
    // next start. Returns how many were accepted. Never throws.
    QCoro::Task<int> sendPending();

    // The envelope of one report; empty when the report cannot be read.
    QByteArray envelope(const QByteArray &report, const QString &eventId, const QDateTime &sentAt) const;

private:
    enum class Outcome { Accepted, Refused, RetryLater };
    QCoro::Task<Outcome> post(QByteArray body);

    CrashReportDsn m_dsn;
    QString m_folder;
    bool m_sendDefaultPii;
    QNetworkAccessManager m_network;
};
