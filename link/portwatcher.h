#ifndef VANTOREL_PORTWATCHER_H
#define VANTOREL_PORTWATCHER_H

#include <QDateTime>
#include <QObject>
#include <QStringList>

class QTimer;

// Plug and unplug notifications, which QtSerialPort lacks: the port enumeration is taken
// about every 500 ms and compared with the previous one.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    explicit PortWatcher(QObject *parent = nullptr, int intervalMs = 500);

    // The serial ports of the system, then each existing path named in
    // VANTOREL_EXTRA_PORTS (separated by ':'), in that order.
    static QStringList availablePortNames();

signals:
    void portAttached(const QString &portName);
    void portRemoved(const QString &portName);

private slots:
    void poll();

private:
    QTimer *timer;
    QDateTime systemStamp;
    QStringList systemPorts;
    QStringList known;
};

#endif
