#ifndef VANTOREL_MANAGESERIALPORT_H
#define VANTOREL_MANAGESERIALPORT_H

#include "frame.h"

#include <QObject>
#include <QSerialPort>
#include <QString>

class QTimer;
class PortWatcher;

// The one object through which the program talks to a logger: the serial port, the
// request/answer transactions with their time-outs and retries, and plug/unplug of the
// port its owner watches. It reads no settings: the owner gives it the time-out base. Transactions wait for their answer inside the event loop, so the GUI
// keeps running; a transaction asked for while another one waits is refused.
class ManageSerialPort : public QObject
{
    Q_OBJECT

public:
    explicit ManageSerialPort(QObject *parent = nullptr);
    ~ManageSerialPort() override;

    // False with errorString() set to the system's reason when the port cannot be opened.
    bool openPort(const QString &name);
    void closePort();
    bool isOpen() const;
    QString portName() const { return openedName; }
    QString errorString() const { return openError; }

    // Base of the answer time-outs in ms, bounded to 0..10000; applies from the next transaction.
    void setTimeoutBase(int ms);
    // The port whose plug and unplug emit comopen() and comclose().
    void setWatchedPort(const QString &name) { watchedName = name; }

    // Answer of the last transaction (0xFF bytes after a failed one).
    const quint8 *replyData() const { return rxFrame.data.data() + 10; }
    const quint8 *replyFrame() const { return rxFrame.data.data(); }
    // The address of the logger that sent the last answer.
    quint32 replyAddress() const { return answerDeviceAddress(rxFrame); }
    int replyLength() const { return rxFrame.length; }

    bool readBlocks(quint32 deviceAddress, quint32 registerAddress, quint8 blocks);
    bool readBlocksRetry(quint32 deviceAddress, quint32 registerAddress, quint8 blocks, quint32 attempts);
    bool writeByte(quint32 deviceAddress, quint32 registerAddress, quint8 value);
    bool writeByteNoReply(quint32 deviceAddress, quint32 registerAddress, quint8 value);
    bool wakeUpDevice();

    // True while a transaction waits for its answer (the event loop runs meanwhile).
    bool isWaiting() const { return busy; }

    int timeoutBase() const { return timeoutBaseMs; }
    int responseTimeout() const { return responseTimeoutMs; }

    // Device name under which a port is opened: Windows wants "\\.\" before COM names.
    static QString deviceNameFor(const QString &portName, bool windowsNames);
    // Read time-out for a number of blocks, from the time-out base.
    static int readTimeoutFor(quint8 blocks, int base);

signals:
    void errorCom();
    void noErrorCom();
    void comclose();
    void comopen();

private slots:
    void onDeviceRemoved(const QString &portName);
    void onDeviceAttached(const QString &portName);
    void timeout_timer1();

private:
    bool sendRequestFrame();
    bool receiveFrame();
    void processPendingEvents();
    void waitMs(int ms);
    void discardInput();
    void dropLateAnswer();
    bool sendBuiltRequest();
    // Refuses a transaction while another one waits for its answer.
    bool wireIsFree(const char *operation) const;
    // Sleeps in the event loop until input arrives or the response timer fires.
    void waitForInput();
    void pollPort();
    bool writeToPort(const QByteArray &bytes);
    // The transactions themselves, for use once the wire is taken.
    bool doSendReadRequest(quint32 deviceAddress, quint32 registerAddress, quint8 blocks);
    bool doSendWriteRequest(quint32 deviceAddress, quint32 registerAddress, quint8 value);
    bool doReadBlocks(quint32 deviceAddress, quint32 registerAddress, quint8 blocks);

    QSerialPort port;
    QTimer *responseTimer = nullptr;
    bool timedOut = false;
    int timeoutBaseMs = 30;
    int responseTimeoutMs = 40;
    FrameBuffer txFrame;
    FrameBuffer rxFrame;
    bool busy = false;
    QString openedName;
    QString watchedName;
    QString openError;
};

#endif
