#pragma once

#include <QCoroTask>
#include <QLockFile>
#include <QObject>
#include <QStringList>

#include <memory>

class QLocalServer;
class QLocalSocket;
class QTimer;

// One running copy per user. The first process holds a lock and listens on a user-only local socket; a later
// process hands its messages (the URLs it was started with) to the first one and then ends.
class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Primary,   // this process runs the application
        Secondary, // the messages reached the running process; this one should exit
        Failed,    // another process holds the lock but does not answer
    };
    Q_ENUM(Role)

    explicit SingleInstance(QString socketPath = defaultSocketPath(), QObject *parent = nullptr);
    ~SingleInstance() override;

    // "varnostima.socket" in $XDG_RUNTIME_DIR.
    static QString defaultSocketPath();

    // Call once, before the application creates its windows. The primary's own messages are not emitted.
    QCoro::Task<Role> start(QStringList messages);

    QString socketPath() const { return m_socketPath; }
    bool isListening() const;

    // Hand-overs served at once; connections beyond are closed at once, so idle clients cannot use up the
    // process's file descriptors.
    static constexpr int kMaxConnections = 16;
    int openConnections() const { return m_openConnections; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

Q_SIGNALS:
    // A later process handed this over.
    void messageReceived(const QString &message);
    // A later process has started and ended its hand-over (after its messages, if any).
    void handOverReceived();

private:
    QCoro::Task<bool> handOver(QStringList messages);
    void listen();
    void listenAgainIfClosed();
    void acceptConnections();
    struct HandOver {
        QStringList messages;
        qint64 bytes = 0;
        bool done = false;
    };
    void readFrom(QLocalSocket *socket, HandOver &received);

    QString m_socketPath;
    QLockFile m_lock;
    std::unique_ptr<QLocalServer> m_server;
    QTimer *m_listenRetry = nullptr; // runs only while listening fails
    int m_openConnections = 0;
};
