#ifndef VANTOREL_HTTPGUARD_H
#define VANTOREL_HTTPGUARD_H

// The door in front of the HTTP server: Qt's server reads a request for as long and as far as a
// client cares to send it, so each connection is held here until its request head has arrived
// within the limits, and only then handed on (as a pending connection) to be parsed and
// answered. The guard only counts bytes and finds where the request line and the head end.

#include <QList>
#include <QSslConfiguration>
#include <QTcpServer>

class QTcpSocket;

namespace Station {

struct GuardLimits {
    int maxConnections = 64;
    int maxHeadBytes = 8 * 1024;     // request line and headers
    int headTimeoutMs = 5000;        // from connecting (and the TLS handshake) to the end of the head
    int answerTimeoutMs = 5000;      // from the head to the answer having left
    int lingerMs = 1000;             // a refused client is given this long to read its answer
};

class HttpGuard : public QTcpServer
{
    Q_OBJECT

public:
    explicit HttpGuard(const GuardLimits &limits = {}, QObject *parent = nullptr);

    // Every later connection speaks TLS with this configuration.
    void setTls(const QSslConfiguration &configuration);
    // Connections open now, held or handed on.
    int openConnections() const { return int(open.size()); }

protected:
    void incomingConnection(qintptr handle) override;

private:
    enum class Verdict { Wait, Pass, TooLongLine, TooLongHead, Method, Body };

    QTcpSocket *makeSocket(qintptr handle);
    void makeRoom();
    void inspect(QTcpSocket *socket);
    Verdict judge(const QByteArray &head) const;
    void release(QTcpSocket *socket);
    void handOn(QTcpSocket *socket);
    void refuse(QTcpSocket *socket, Verdict verdict);
    void closeAfterAnswer(QTcpSocket *socket);

    GuardLimits limits;
    bool tls = false;
    QSslConfiguration tlsConfiguration;
    QList<QTcpSocket *> open;      // in the order they connected
    QList<QTcpSocket *> waiting;   // those whose head has not yet arrived, oldest first
};

} // namespace Station

#endif
