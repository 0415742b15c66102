#ifndef VANTOREL_PORTWATCHER_H
#define VANTOREL_PORTWATCHER_H

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>

class QTimer;

// Which ports a command that talks to every logger at once opens. Never a built-in UART or
// console unless it is named: by default only USB serial adapters and VANTOREL_EXTRA_PORTS.
struct PortChoice {
    QString name;
    bool used = false;
    QString why;                   // why it is used, or why not
};

// Plug and unplug notifications, which QtSerialPort lacks: the port enumeration is taken
// about every 500 ms and compared with the previous one. A path whose device changed between
// two looks (pulled out and put back, or another adapter behind it) is reported removed,
// then attached.
class PortWatcher : public QObject
{
    Q_OBJECT

public:
    // Every port of the system and of VANTOREL_EXTRA_PORTS (what the window offers).
    explicit PortWatcher(QObject *parent = nullptr, int intervalMs = 500);
    // Only the ports a station uses: those of `named`, else the USB adapters and extra ports.
    static PortWatcher *forStation(const QStringList &named, QObject *parent, int intervalMs = 500);

    // The serial ports of the system, then each existing path named in
    // VANTOREL_EXTRA_PORTS (separated by ':'), in that order.
    static QStringList availablePortNames();
    // Every port of availablePortNames() and every named one, each with whether a station uses it.
    static QList<PortChoice> stationChoices(const QStringList &named);
    // The used ones of stationChoices() that are present.
    static QStringList stationPortNames(const QStringList &named);

signals:
    void portAttached(const QString &portName);
    void portRemoved(const QString &portName);

private slots:
    void poll();

private:
    QStringList currentNames();

    QTimer *timer;
    bool stationOnly = false;
    QStringList named;
    QDateTime systemStamp;
    QStringList systemPorts;
    QStringList usbPorts;
    QStringList known;
    QHash<QString, QByteArray> identities;
};

#endif
