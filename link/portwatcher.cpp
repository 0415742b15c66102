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

QList<PortDescription> systemPorts()
{
    QList<PortDescription> ports;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos)
        if (std::none_of(ports.cbegin(), ports.cend(), [&](const PortDescription &p) { return p.name == info.portName(); }))
            ports.append({info.portName(), info.systemLocation(), info.hasVendorIdentifier()});
    return ports;
}

QStringList namesOf(const QList<PortDescription> &ports)
{
    QStringList names;
    for (const PortDescription &port : ports)
        names.append(port.name);
    return names;
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

QStringList usedNames(const QList<PortChoice> &choices)
{
    QStringList names;
    for (const PortChoice &choice : choices)
        if (choice.used)
            names.append(choice.name);
    return names;
}

bool fileExists(const QString &path)
{
    return QFileInfo::exists(path);
}

} // namespace

QList<PortChoice> choosePorts(const QList<PortDescription> &system, const QStringList &extra, const QStringList &named,
                              const std::function<bool(const QString &path)> &exists)
{
    const auto names = [](const QStringList &paths, const PortDescription &port) {
        return paths.contains(port.name) || (!port.systemLocation.isEmpty() && paths.contains(port.systemLocation));
    };
    QList<PortChoice> choices;
    QStringList listed;            // the paths that name a listed port
    for (const PortDescription &port : system) {
        for (const QString &path : extra + named)
            if (path == port.name || path == port.systemLocation)
                listed.append(path);
        if (!named.isEmpty())
            choices.append({port.name, names(named, port), names(named, port) ? QStringLiteral("named with --port")
                                                                               : QStringLiteral("not named with --port")});
        else if (port.hasVendorId)
            choices.append({port.name, true, QStringLiteral("USB serial adapter")});
        else if (names(extra, port))
            choices.append({port.name, true, QStringLiteral("named in VANTOREL_EXTRA_PORTS")});
        else
            choices.append({port.name, false, QStringLiteral("not a USB serial adapter (a built-in port or console: name it with --port)")});
    }
    const QString source = named.isEmpty() ? QStringLiteral("named in VANTOREL_EXTRA_PORTS") : QStringLiteral("named with --port");
    for (const QString &path : named.isEmpty() ? extra : named) {
        if (listed.contains(path))
            continue;
        listed.append(path);
        const bool there = exists(path);
        choices.append({path, there, there ? source : source + QStringLiteral(", but absent")});
    }
    for (const QString &path : extra)
        if (!listed.contains(path) && exists(path)) {
            listed.append(path);
            choices.append({path, false, QStringLiteral("not named with --port")});
        }
    return choices;
}

PortWatcher::PortWatcher(QObject *parent, int intervalMs) : QObject(parent), timer(new QTimer(this))
{
    systemStamp = deviceDirectoryStamp();
    systemPorts = ::systemPorts();
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
    QStringList names = namesOf(::systemPorts());
    appendExisting(names, extraPorts());
    return names;
}

QList<PortChoice> PortWatcher::stationChoices(const QStringList &named)
{
    return choosePorts(::systemPorts(), extraPorts(), named, fileExists);
}

QStringList PortWatcher::stationPortNames(const QStringList &named)
{
    return usedNames(stationChoices(named));
}

QStringList PortWatcher::currentNames()
{
    if (stationOnly)
        return usedNames(choosePorts(systemPorts, extraPorts(), named, fileExists));
    QStringList names = namesOf(systemPorts);
    appendExisting(names, extraPorts());
    return names;
}

void PortWatcher::poll()
{
    const QDateTime stamp = deviceDirectoryStamp();
    if (!stamp.isValid() || stamp != systemStamp) {
        systemStamp = stamp;
        systemPorts = ::systemPorts();
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
