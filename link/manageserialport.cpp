#include "manageserialport.h"

#include "framecollector.h"
#include "portwatcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QTimer>

namespace {

constexpr int BURST_STEP = 53;
constexpr int MAX_TIMEOUT_BASE_MS = 10000;
constexpr int LATE_ANSWER_QUIET_MS = 20;
constexpr int LATE_ANSWER_ROUNDS = 10;
constexpr int BURST_COUNT = 9;

// Marks the wire as taken for the lifetime of one transaction.
class WireGuard
{
public:
    explicit WireGuard(bool &flag) : busy(flag) { busy = true; }
    ~WireGuard() { busy = false; }
    WireGuard(const WireGuard &) = delete;
    WireGuard &operator=(const WireGuard &) = delete;

private:
    bool &busy;
};

} // namespace

ManageSerialPort::ManageSerialPort(QObject *parent) : QObject(parent)
{
    responseTimer = new QTimer(this);
    // The time-outs are a few tens of milliseconds: coarse timers would stretch them.
    responseTimer->setTimerType(Qt::PreciseTimer);
    connect(responseTimer, &QTimer::timeout, this, &ManageSerialPort::timeout_timer1);

    auto *watcher = new PortWatcher(this);
    connect(watcher, &PortWatcher::portAttached, this, &ManageSerialPort::onDeviceAttached);
    connect(watcher, &PortWatcher::portRemoved, this, &ManageSerialPort::onDeviceRemoved);
}

ManageSerialPort::~ManageSerialPort()
{
    if (port.isOpen())
        port.close();
}

QString ManageSerialPort::deviceNameFor(const QString &portName, bool windowsNames)
{
    if (windowsNames && portName.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return QStringLiteral("\\\\.\\") + portName;
    return portName;
}

int ManageSerialPort::readTimeoutFor(quint8 blocks, int base)
{
    return int((0.75 + blocks / 4) * qMax(0, base));
}

bool ManageSerialPort::openPort(const QString &name)
{
    if (!wireIsFree("openPort"))
        return false;
    // One handle only: opening another port lets the previous one go.
    if (port.isOpen())
        port.close();
#ifdef Q_OS_WIN
    const bool windowsNames = true;
#else
    const bool windowsNames = false;
#endif
    port.setPortName(deviceNameFor(name, windowsNames));
    port.setBaudRate(115200);
    port.setDataBits(QSerialPort::Data8);
    port.setParity(QSerialPort::NoParity);
    port.setStopBits(QSerialPort::OneStop);
    port.setFlowControl(QSerialPort::NoFlowControl);
    if (!port.open(QIODevice::ReadWrite)) {
        qDebug() << "Error opening port !";
        openError = port.errorString();
        return false;
    }
    openError.clear();
    openedName = name;
    responseTimeoutMs = 40;
    discardInput();
    return true;
}

void ManageSerialPort::closePort()
{
    if (!wireIsFree("closePort"))
        return;
    if (port.isOpen())
        port.close();
}

bool ManageSerialPort::isOpen() const
{
    return port.isOpen();
}

void ManageSerialPort::setTimeoutBase(int ms)
{
    // A negative base would give time-outs the response timer cannot run; a huge one
    // would overflow them (and a pause of twice the base follows some writes).
    timeoutBaseMs = qBound(0, ms, MAX_TIMEOUT_BASE_MS);
}

bool ManageSerialPort::wireIsFree(const char *operation) const
{
    if (!busy)
        return true;
    qDebug() << "/!\\" << operation << "refused: another transaction is waiting for its answer";
    return false;
}

void ManageSerialPort::discardInput()
{
    if (!port.isOpen())
        return;
    port.readAll();
    port.clear(QSerialPort::Input);
}

bool ManageSerialPort::writeToPort(const QByteArray &bytes)
{
    if (!port.isOpen()) {
        qDebug() << "/!\\ sendFrame : Port not open !";
        return false;
    }
    if (port.write(bytes) < 0) {
        qDebug() << "/!\\ Error sending value";
        return false;
    }
    // QSerialPort would otherwise hold the bytes until the event loop runs.
    port.flush();
    return true;
}

bool ManageSerialPort::sendRequestFrame()
{
    QByteArray bytes(3, char(PREAMBLE_BYTE));
    bytes.append(reinterpret_cast<const char *>(txFrame.data.data()), txFrame.length);
    return writeToPort(bytes);
}

void ManageSerialPort::processPendingEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ManageSerialPort::waitMs(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(qMax(0, ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

void ManageSerialPort::waitForInput()
{
    QEventLoop loop;
    connect(&port, &QSerialPort::readyRead, &loop, &QEventLoop::quit);
    connect(responseTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Checked after connecting: nothing can slip in before exec() since no event runs here.
    if (timedOut || port.bytesAvailable() > 0)
        return;
    loop.exec(QEventLoop::AllEvents);
}

void ManageSerialPort::pollPort()
{
    if (!port.isOpen() || port.bytesAvailable() > 0)
        return;
    // Bytes the driver holds reach the buffer only through the event loop; fetch them now
    // so that the last pass before the time-out sees them (the only pass with a base of 0).
    if (!port.waitForReadyRead(0) && port.error() == QSerialPort::TimeoutError)
        port.clearError();
}

bool ManageSerialPort::receiveFrame()
{
    FrameCollector collector;
    qint64 lastAvailable = 0;
    bool readError = false;

    timedOut = false;
    responseTimer->start(qMax(0, responseTimeoutMs));
    waitForInput();
    for (;;) {
        pollPort();
        lastAvailable = port.bytesAvailable();
        if (lastAvailable > 0) {
            const QByteArray chunk = port.read(lastAvailable);
            if (chunk.isEmpty()) {
                qDebug() << "/!\\ error in number of bytes read";
                readError = true;
                break;
            }
            collector.scan(chunk);
        }
        processPendingEvents();
        // A port closed meanwhile (its adapter pulled out) will bring nothing more.
        if (collector.isComplete() || timedOut || !port.isOpen())
            break;
        waitForInput();
    }
    // A repeating timer left running at 0 ms would keep a core busy.
    responseTimer->stop();

    const QByteArray &frame = collector.bytes();
    if ((timedOut || readError) && !frame.isEmpty()) {
        const QByteArray rest = port.isOpen() ? port.readAll() : QByteArray();
        const QString text = QStringLiteral("Timeout, display receivedFrameChars (l=")
                             + QString::number(frame.size()) + QStringLiteral(") : ")
                             + hexBytes(reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()))
                             + QStringLiteral("\r\n")
                             + hexBytes(reinterpret_cast<const quint8 *>(rest.constData()), int(rest.size()));
        qDebug() << text << lastAvailable;
    }
    if (!collector.isComplete() && timedOut)
        dropLateAnswer();

    resetBuffer(rxFrame);
    if (!collector.isComplete())
        return false;
    if (collector.isOverlong()) {
        qDebug() << "/!\\ answer longer than" << FrameBuffer::capacity << "bytes refused";
        return false;
    }
    setBuffer(rxFrame, reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
    return true;
}

void ManageSerialPort::dropLateAnswer()
{
    // An answer that missed its time-out may still be on its way. Taken for the next
    // request's answer, it would put one register's bytes in another's place, and
    // nothing in an answer tells which request it belongs to. Wait for the line to go
    // quiet and drop what comes meanwhile.
    const int quietMs = qMax(responseTimeoutMs, LATE_ANSWER_QUIET_MS);
    for (int round = 0; round < LATE_ANSWER_ROUNDS && port.isOpen(); ++round) {
        port.readAll();
        timedOut = false;
        responseTimer->start(quietMs);
        waitForInput();
        pollPort();
        if (timedOut && port.bytesAvailable() == 0)
            break;
    }
    responseTimer->stop();
    discardInput();
    timedOut = true;
}

bool ManageSerialPort::doSendReadRequest(quint32 deviceAddress, quint32 registerAddress, quint8 blocks)
{
    buildReadRequest(txFrame, deviceAddress, registerAddress, blocks);
    return sendBuiltRequest();
}

bool ManageSerialPort::sendBuiltRequest()
{
    if (!sendRequestFrame()) {
        qDebug() << "/!\\ Emission problem";
        return false;
    }
    return true;
}

bool ManageSerialPort::doSendWriteRequest(quint32 deviceAddress, quint32 registerAddress, quint8 value)
{
    buildWriteRequest(txFrame, deviceAddress, registerAddress, value);
    return sendBuiltRequest();
}

bool ManageSerialPort::readBlocks(quint32 deviceAddress, quint32 registerAddress, quint8 blocks)
{
    if (!wireIsFree("readBlocks"))
        return false;
    WireGuard guard(busy);
    return doReadBlocks(deviceAddress, registerAddress, blocks);
}

bool ManageSerialPort::doReadBlocks(quint32 deviceAddress, quint32 registerAddress, quint8 blocks)
{
    discardInput();
    resetBuffer(rxFrame);
    responseTimeoutMs = readTimeoutFor(blocks, timeoutBaseMs);
    if (!doSendReadRequest(deviceAddress, registerAddress, blocks)) {
        qDebug() << "sending error";
        return false;
    }
    if (!receiveFrame())
        return false;
    return checkAnswer(rxFrame, blocks) == ANSWER_OK;
}

bool ManageSerialPort::readBlocksRetry(quint32 deviceAddress, quint32 registerAddress, quint8 blocks,
                                       quint32 attempts)
{
    if (!wireIsFree("readBlocksRetry"))
        return false;
    WireGuard guard(busy);
    if (attempts == 0) {
        emit noErrorCom();
        return true;
    }
    for (quint32 i = 0; i < attempts; ++i) {
        if (doReadBlocks(deviceAddress, registerAddress, blocks)) {
            emit noErrorCom();
            return true;
        }
    }
    emit errorCom();
    return false;
}

bool ManageSerialPort::writeByte(quint32 deviceAddress, quint32 registerAddress, quint8 value)
{
    if (!wireIsFree("writeByte"))
        return false;
    WireGuard guard(busy);
    discardInput();
    resetBuffer(rxFrame);
    responseTimeoutMs = 2 * timeoutBaseMs;
    if (!doSendWriteRequest(deviceAddress, registerAddress, value)) {
        qDebug() << "sending error";
        return false;
    }
    if (!receiveFrame())
        return false;
    const int code = checkAnswer(rxFrame, 1);
    // A frame too short to hold byte 10 has nothing there to vouch for it.
    if (rxFrame.length > 10 && rxFrame.data[10] != 0)
        return true;
    return code == ANSWER_OK || code == ANSWER_BAD_LENGTH;
}

bool ManageSerialPort::writeByteNoReply(quint32 deviceAddress, quint32 registerAddress, quint8 value)
{
    if (!wireIsFree("writeByteNoReply"))
        return false;
    WireGuard guard(busy);
    const bool sent = doSendWriteRequest(deviceAddress, registerAddress, value);
    waitMs(2 * timeoutBaseMs);
    return sent;
}

bool ManageSerialPort::wakeUpDevice()
{
    if (!wireIsFree("wakeUpDevice"))
        return false;
    WireGuard guard(busy);
    if (!doReadBlocks(0, 2, 1)) {
        QByteArray burst;
        for (int i = 0; i < BURST_COUNT; ++i) {
            burst.append(BURST_STEP, char(PREAMBLE_BYTE));
            writeToPort(burst);
        }
    }
    return doReadBlocks(0, 2, 1);
}

void ManageSerialPort::timeout_timer1()
{
    timedOut = true;
}

void ManageSerialPort::onDeviceAttached(const QString &portName)
{
    if (portName == watchedName)
        emit comopen();
}

void ManageSerialPort::onDeviceRemoved(const QString &portName)
{
    // The handle of a pulled-out adapter is dead; holding it would make a reopen fail.
    if (port.isOpen() && portName == openedName)
        port.close();
    if (portName == watchedName)
        emit comclose();
}
