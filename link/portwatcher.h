#ifndef VANTOREL_PORTWATCHER_H
#define VANTOREL_PORTWATCHER_H

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QStringList>

#include <functional>

class QTimer;

// Which ports a command that talks to every logger at once opens. Never a built-in UART or
// console unless it is named: by default only USB serial adapters and VANTOREL_EXTRA_PORTS.
struct PortChoice {
    QString name;
    bool used = false;
    QString why;                   // why it is used, or why not
};

// A port as the system lists it.
struct PortDescription {
    QString name;                  // ttyUSB0, COM3
    QString systemLocation;        // /dev/ttyUSB0
    bool hasVendorId = false;      // a USB adapter; a built-in UART or console has none
};

// The choice alone, over what the system lists (`system`), the paths of VANTOREL_EXTRA_PORTS
// (`extra`) and of --port (`named`); `exists` tells whether such a path is there. A path
// names a listed port by its name or its location.
QList<PortChoice> choosePorts(const QList<PortDescription> &system, const QStringList &extra, const QStringList &named,
                              const std::function<bool(const QString &path)> &exists);

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
    QList<PortDescription> systemPorts;
    QStringList known;
    QHash<QString, QByteArray> identities;
};

#endif
