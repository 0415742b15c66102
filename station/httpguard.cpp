#include "httpguard.h"

#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

namespace Station {

namespace {

// Holds the connections that watch a socket while its head is awaited; deleting it ends them.
const char HOLD[] = "vantorel-guard-hold";

// The guard's refusals: fixed answers, the connection closed after them.
QByteArray refusal(const QByteArray &status, const QByteArray &text, const QByteArray &extraHeader = {})
{
    return "HTTP/1.1 " + status + "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: "
           + QByteArray::number(text.size()) + "\r\nConnection: close\r\n" + extraHeader + "\r\n" + text;
}

// Where the empty line that ends the head ends, or -1; bare line feeds count as line ends too.
qsizetype headEnd(const QByteArray &bytes)
{
    const qsizetype lf = bytes.indexOf("\n\n");
    const qsizetype crlf = bytes.indexOf("\n\r\n");
    if (lf >= 0 && (crlf < 0 || lf < crlf))
        return lf + 2;
    return crlf < 0 ? -1 : crlf + 3;
}

// A request with a body: a length other than 0, or a transfer coding.
bool announcesBody(const QByteArray &head)
{
    const QList<QByteArray> lines = head.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).toLower();
        if (line.startsWith("transfer-encoding:"))
            return true;
        if (line.startsWith("content-length:") && line.mid(15).trimmed() != "0")
            return true;
    }
    return false;
}

void drop(QTcpSocket *socket)
{
    socket->abort();
    socket->deleteLater();
}

// A timer owned by `owner` that drops the socket when it fires.
void dropAfter(QTcpSocket *socket, QObject *owner, int ms)
{
    auto *timer = new QTimer(owner);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, socket, [socket] { drop(socket); });
    timer->start(ms);
}

} // namespace

HttpGuard::HttpGuard(const GuardLimits &limits, QObject *parent) : QTcpServer(parent), limits(limits) {}

void HttpGuard::setTls(const QSslConfiguration &configuration)
{
    tls = true;
    tlsConfiguration = configuration;
}

void HttpGuard::incomingConnection(qintptr handle)
{
    QTcpSocket *socket = makeSocket(handle);
    if (!socket)
        return;
    if (open.size() >= limits.maxConnections)
        makeRoom();
    if (open.size() >= limits.maxConnections) {
        drop(socket);
        return;
    }
    open.append(socket);
    waiting.append(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] {
        open.removeOne(socket);
        waiting.removeOne(socket);
    });
    // Never more than one byte past the limit is read: the rest waits in the system's buffers.
    socket->setReadBufferSize(limits.maxHeadBytes + 1);
    auto *hold = new QObject(socket);
    hold->setObjectName(QLatin1String(HOLD));
    dropAfter(socket, hold, limits.headTimeoutMs);
    connect(socket, &QIODevice::readyRead, hold, [this, socket] { inspect(socket); });
    connect(socket, &QAbstractSocket::disconnected, hold, [socket] { socket->deleteLater(); });
    connect(socket, &QAbstractSocket::errorOccurred, hold, [socket] { drop(socket); });
    if (auto *ssl = qobject_cast<QSslSocket *>(socket))
        ssl->startServerEncryption();
}

QTcpSocket *HttpGuard::makeSocket(qintptr handle)
{
    QTcpSocket *socket = nullptr;
    if (tls) {
        auto *ssl = new QSslSocket(this);
        ssl->setSslConfiguration(tlsConfiguration);
        socket = ssl;
    } else {
        socket = new QTcpSocket(this);
    }
    if (!socket->setSocketDescriptor(handle)) {
        delete socket;
        return nullptr;
    }
    return socket;
}

// A slow client must not keep a scrape out: the connection that has waited longest for its
// head gives way. When every connection is being answered, the new one is refused.
void HttpGuard::makeRoom()
{
    if (waiting.isEmpty())
        return;
    QTcpSocket *oldest = waiting.takeFirst();
    open.removeOne(oldest);
    drop(oldest);
}

void HttpGuard::inspect(QTcpSocket *socket)
{
    if (socket->bytesAvailable() == 0)
        return;
    const Verdict verdict = judge(socket->peek(limits.maxHeadBytes + 1));
    if (verdict == Verdict::Pass)
        handOn(socket);
    else if (verdict != Verdict::Wait)
        refuse(socket, verdict);
}

HttpGuard::Verdict HttpGuard::judge(const QByteArray &bytes) const
{
    const qsizetype lineEnd = bytes.indexOf('\n');
    if (lineEnd < 0)
        return bytes.size() > limits.maxHeadBytes ? Verdict::TooLongLine : Verdict::Wait;
    if (lineEnd >= limits.maxHeadBytes)
        return Verdict::TooLongLine;
    const qsizetype end = headEnd(bytes);
    if (end < 0)
        return bytes.size() > limits.maxHeadBytes ? Verdict::TooLongHead : Verdict::Wait;
    if (end > limits.maxHeadBytes)
        return Verdict::TooLongHead;
    const QByteArray head = bytes.left(end);
    const QByteArray method = head.left(head.indexOf(' '));
    if (method != "GET" && method != "HEAD")
        return Verdict::Method;
    return announcesBody(head) ? Verdict::Body : Verdict::Pass;
}

// Ends the guard's watch of a socket; called from within that watch, so the holder goes later.
void HttpGuard::release(QTcpSocket *socket)
{
    waiting.removeOne(socket);
    QObject *hold = socket->findChild<QObject *>(QLatin1String(HOLD), Qt::FindDirectChildrenOnly);
    QObject::disconnect(socket, nullptr, hold, nullptr);
    delete hold->findChild<QTimer *>();
    hold->deleteLater();
}

// Qt's server takes it as a pending connection. Its head is already read into the socket, so
// no further readyRead would come: it is given one now, and the answer sent at once. Qt knows
// no half-closed socket: a client that closed its sending side after its request is taken as
// gone at the next read, and an answer still buffered then would be lost.
void HttpGuard::handOn(QTcpSocket *socket)
{
    release(socket);
    closeAfterAnswer(socket);
    addPendingConnection(socket);
    emit socket->readyRead();
    socket->flush();
}

// One request per connection: the socket closes once its answer has left. Whatever came
// after the head meets a full read buffer, and the connection ends when its time is up.
void HttpGuard::closeAfterAnswer(QTcpSocket *socket)
{
    dropAfter(socket, socket, limits.answerTimeoutMs);
    connect(socket, &QIODevice::bytesWritten, socket, [socket] {
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
}

// The answer is written, and whatever the client still sends is read and thrown away for a
// moment, so that closing does not reset the connection before the client has read it.
void HttpGuard::refuse(QTcpSocket *socket, Verdict verdict)
{
    release(socket);
    switch (verdict) {
    case Verdict::TooLongLine:
        socket->write(refusal("414 URI Too Long", "request line too long\n"));
        break;
    case Verdict::TooLongHead:
        socket->write(refusal("431 Request Header Fields Too Large", "request head too large\n"));
        break;
    case Verdict::Method:
        socket->write(refusal("405 Method Not Allowed", "only GET and HEAD are served\n", "Allow: GET, HEAD\r\n"));
        break;
    default:
        socket->write(refusal("413 Content Too Large", "a request carries no body here\n"));
        break;
    }
    socket->flush();
    const auto discard = [socket] { socket->read(socket->bytesAvailable()); };
    discard();
    connect(socket, &QIODevice::readyRead, socket, discard);
    connect(socket, &QAbstractSocket::disconnected, socket, [socket] { socket->deleteLater(); });
    dropAfter(socket, socket, limits.lingerMs);
}

} // namespace Station
