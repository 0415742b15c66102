#include "portwatcher.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <QTimer>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

struct SystemPorts {
    QStringList all;
    QStringList usb;               // those with a USB vendor id: adapters, not built-in UARTs
};

SystemPorts systemPorts()
{
    SystemPorts ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if (ports.all.contains(info.portName()))
            continue;
        ports.all.append(info.portName());
        if (info.hasVendorIdentifier())
            ports.usb.append(info.portName());
    }
    return ports;
}

// Listing the system's ports walks all of sysfs (about 10 ms, twice a second). A device
// node that comes or goes changes the modification time of /dev, so the listing is
// taken again only then. Elsewhere there is no such stamp and the listing is taken.
QDateTime deviceDirectoryStamp()
{
#ifdef Q_OS_UNIX
    return QFileInfo(QStringLiteral("/dev")).lastModified();
#else
    return QDateTime();
#endif
}

QStringList extraPorts()
{
    return qEnvironmentVariable("VANTOREL_EXTRA_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

void appendExisting(QStringList &names, const QStringList &paths)
{
    for (const QString &path : paths)
        if (!names.contains(path) && QFileInfo::exists(path))
            names.append(path);
}

// The device behind a path: a node made anew for a re-plugged adapter differs, even when
// it comes back under the same name before the next look. Empty where it cannot be told.
QByteArray deviceIdentity(const QString &name)
{
#ifdef Q_OS_UNIX
    const QByteArray path = QFile::encodeName(name.contains(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name);
    struct stat node, link;
    if (::stat(path.constData(), &node) != 0 || ::lstat(path.constData(), &link) != 0)
        return QByteArray();
    QByteArray identity = QByteArray::number(qulonglong(node.st_rdev)) + ':' + QByteArray::number(qulonglong(node.st_ino)) + ':'
                          + QByteArray::number(qulonglong(link.st_ino));
    // A link made anew may get the old one's inode; not the same change time. (A device
    // node's own times move with every write, a link's do not.)
    if (S_ISLNK(link.st_mode)) {
#ifdef Q_OS_LINUX
        identity += ':' + QByteArray::number(qlonglong(link.st_ctim.tv_sec)) + '.' + QByteArray::number(qlonglong(link.st_ctim.tv_nsec));
#else
        identity += ':' + QByteArray::number(qlonglong(link.st_ctime));
#endif
    }
    return identity;
#else
    Q_UNUSED(name);
    return QByteArray();
#endif
}

QList<PortChoice> choose(const SystemPorts &system, const QStringList &named)
{
    QList<PortChoice> choices;
    const QStringList extra = extraPorts();
    for (const QString &name : system.all) {
        if (!named.isEmpty())
            choices.append({name, named.contains(name), named.contains(name) ? QStringLiteral("named with --port")
                                                                              : QStringLiteral("not named with --port")});
        else if (system.usb.contains(name))
            choices.append({name, true, QStringLiteral("USB serial adapter")});
        else if (extra.contains(name))
            choices.append({name, true, QStringLiteral("named in VANTOREL_EXTRA_PORTS")});
        else
            choices.append({name, false, QStringLiteral("not a USB serial adapter (a built-in port or console: name it with --port)")});
    }
    QStringList paths = named.isEmpty() ? extra : named;
    for (const QString &path : paths) {
        if (system.all.contains(path) || std::any_of(choices.cbegin(), choices.cend(), [&](const PortChoice &c) { return c.name == path; }))
            continue;
        const bool exists = QFileInfo::exists(path);
        const QString source = named.isEmpty() ? QStringLiteral("named in VANTOREL_EXTRA_PORTS") : QStringLiteral("named with --port");
        choices.append({path, exists, exists ? source : source + QStringLiteral(", but absent")});
    }
    if (!named.isEmpty())
        for (const QString &path : extra)
            if (!named.contains(path) && !system.all.contains(path) && QFileInfo::exists(path))
                choices.append({path, false, QStringLiteral("not named with --port")});
    return choices;
}

QStringList usedNames(const QList<PortChoice> &choices)
{
    QStringList names;
    for (const PortChoice &choice : choices)
        if (choice.used)
            names.append(choice.name);
    return names;
}

} // namespace

PortWatcher::PortWatcher(QObject *parent, int intervalMs) : QObject(parent), timer(new QTimer(this))
{
    systemStamp = deviceDirectoryStamp();
    const SystemPorts system = ::systemPorts();
    systemPorts = system.all;
    usbPorts = system.usb;
    known = currentNames();
    for (const QString &name : std::as_const(known))
        identities.insert(name, deviceIdentity(name));
    connect(timer, &QTimer::timeout, this, &PortWatcher::poll);
    timer->start(intervalMs);
}

PortWatcher *PortWatcher::forStation(const QStringList &named, QObject *parent, int intervalMs)
{
    auto *watcher = new PortWatcher(parent, intervalMs);
    watcher->stationOnly = true;
    watcher->named = named;
    watcher->known = watcher->currentNames();
    watcher->identities.clear();
    for (const QString &name : std::as_const(watcher->known))
        watcher->identities.insert(name, deviceIdentity(name));
    return watcher;
}

QStringList PortWatcher::availablePortNames()
{
    QStringList names = ::systemPorts().all;
    appendExisting(names, extraPorts());
    return names;
}

QList<PortChoice> PortWatcher::stationChoices(const QStringList &named)
{
    return choose(::systemPorts(), named);
}

QStringList PortWatcher::stationPortNames(const QStringList &named)
{
    return usedNames(stationChoices(named));
}

QStringList PortWatcher::currentNames()
{
    if (stationOnly)
        return usedNames(choose({systemPorts, usbPorts}, named));
    QStringList names = systemPorts;
    appendExisting(names, extraPorts());
    return names;
}

void PortWatcher::poll()
{
    const QDateTime stamp = deviceDirectoryStamp();
    if (!stamp.isValid() || stamp != systemStamp) {
        systemStamp = stamp;
        const SystemPorts system = ::systemPorts();
        systemPorts = system.all;
        usbPorts = system.usb;
    }
    const QStringList now = currentNames();
    for (const QString &name : std::as_const(known))
        if (!now.contains(name)) {
            identities.remove(name);
            emit portRemoved(name);
        }
    for (const QString &name : now) {
        const QByteArray identity = deviceIdentity(name);
        if (!known.contains(name)) {
            identities.insert(name, identity);
            emit portAttached(name);
        } else if (identity != identities.value(name)) {
            identities.insert(name, identity);
            emit portRemoved(name);
            emit portAttached(name);
        }
    }
    known = now;
}
