#pragma once

#include <QIODevice>

// A request body that can be read through once. Qt's HTTP stack quietly resends a request whose connection closed
// before an answer arrived, rewinding the body to do so; a body that refuses to rewind turns that resend into an
// error. For a request that changes something on the service, a second copy behind the caller's back could act
// twice (two galleries for one folder), while an error lets the caller look before it tries again.
class SingleSendBody : public QIODevice
{
public:
    explicit SingleSendBody(QByteArray data, QObject *parent = nullptr);

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_data.size(); }
    bool seek(qint64 position) override;
    bool reset() override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    const QByteArray m_data;
    qint64 m_position = 0;
    bool m_started = false; // a byte has left: no way back to the start
};
