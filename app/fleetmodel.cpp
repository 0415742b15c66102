#include "fleetmodel.h"

#include "codecs.h"
#include "devicetypes.h"
#include "livereadings.h"
#include "statusdisplay.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace {
const char *const HEADERS[FleetModel::ColumnCount] = {
    "Port", "Serial number", "Type", "Live values", "Battery", "Records", "Free memory",
    "Clock offset", "Last download", "State"};
const QString PULLED_OUT = QStringLiteral("pulled out during its download; no file was written");
} // namespace

FleetModel::FleetModel(QObject *parent) : QAbstractTableModel(parent), refresh(new QTimer(this))
{
    refresh->setSingleShot(true);
    refresh->setInterval(REFRESH_MS);
    connect(refresh, &QTimer::timeout, this, &FleetModel::tellChanges);
}

int FleetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows.size());
}

int FleetModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant FleetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < ColumnCount)
        return QString::fromLatin1(HEADERS[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QVariant FleetModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size())
        return {};
    const Row &row = rows[index.row()];
    // A device path shows its name (ttyUSB0); the whole path is in the tooltip and the copy.
    if (role == Qt::DisplayRole && index.column() == PortColumn)
        return QFileInfo(row.port).fileName();
    if (role == Qt::ToolTipRole && index.column() == PortColumn)
        return row.port;
    if (role == Qt::DisplayRole)
        return text(row, index.column());
    if (role == PercentRole && index.column() == StateColumn)
        return row.state == State::Downloading ? row.percent : -1;
    return {};
}

QString FleetModel::text(const Row &row, int column) const
{
    const LoggerStatus &s = row.reading.status;
    const bool live = row.identified && row.state != State::LeftAlone;
    switch (column) {
    case PortColumn: return row.port;
    case StateColumn: return stateText(row);
    case LastDownloadColumn:
        if (!row.downloadError.isEmpty())
            return QStringLiteral("failed: ") + row.downloadError;
        return row.downloadedAt.isValid()
                   ? row.downloadedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QLatin1Char(' ') + QFileInfo(row.downloadFile).fileName()
                   : QString();
    default: break;
    }
    if (!live)
        return QString();
    switch (column) {
    case SerialColumn: return formatDeviceAddress(s.address);
    case TypeColumn: {
        const QString name = screenNameOf(s.deviceType);
        return name.isEmpty() ? QStringLiteral("unknown (%1)").arg(s.deviceType) : name;
    }
    case ValuesColumn: return liveValuesLine(s.deviceType, row.reading.values);
    case BatteryColumn: return batteryName(s.batteryCode);
    case RecordsColumn: return statusTexts(s).storedRecords;
    case FreeMemoryColumn: return statusTexts(s).freeMemory;
    case ClockOffsetColumn: {
        if (!s.loggerTime.isValid())
            return QStringLiteral("-");
        const qint64 offset = clockOffsetSeconds(s, row.reading.readAt);
        return (offset > 0 ? QStringLiteral("+") : QString()) + QString::number(offset) + QStringLiteral(" s");
    }
    default: return QString();
    }
}

QString FleetModel::stateText(const Row &row) const
{
    switch (row.state) {
    case State::Probing: return QStringLiteral("probing");
    case State::Answering: return QStringLiteral("answering");
    case State::NotAnswering: return QStringLiteral("not answering");
    case State::Downloading: return QStringLiteral("downloading %1 %").arg(row.percent);
    case State::CannotOpen: return QStringLiteral("cannot be opened: ") + row.reason;
    case State::LeftAlone: return QStringLiteral("left to the main window");
    case State::PulledOut: return PULLED_OUT;
    }
    return QString();
}

int FleetModel::rowOf(const QString &port) const
{
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].port == port)
            return i;
    return -1;
}

FleetModel::Row &FleetModel::rowFor(const QString &port)
{
    const int found = rowOf(port);
    if (found >= 0)
        return rows[found];
    const auto at = std::lower_bound(rows.begin(), rows.end(), port, [](const Row &row, const QString &name) { return row.port < name; });
    const int index = int(at - rows.begin());
    beginInsertRows(QModelIndex(), index, index);
    Row row;
    row.port = port;
    rows.insert(index, row);
    endInsertRows();
    return rows[index];
}

void FleetModel::changed(int row)
{
    changedPorts.insert(rows[row].port);
    // The first change is told at once; those that follow within REFRESH_MS, together at its end.
    if (!refresh->isActive())
        tellChanges();
}

void FleetModel::tellChanges()
{
    int first = int(rows.size()), last = -1;
    for (const QString &port : std::as_const(changedPorts)) {
        const int row = rowOf(port);
        if (row >= 0) {
            first = qMin(first, row);
            last = qMax(last, row);
        }
    }
    changedPorts.clear();
    if (last < 0)
        return;
    refresh->start();
    emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void FleetModel::remove(int row)
{
    beginRemoveRows(QModelIndex(), row, row);
    rows.removeAt(row);
    endRemoveRows();
}

void FleetModel::probing(const QString &port)
{
    Row &row = rowFor(port);
    // A port that cannot be opened keeps its reason, told once, until a logger answers there.
    if (row.state == State::CannotOpen)
        return;
    row.state = State::Probing;
    row.identified = false;
    changed(rowOf(port));
}

void FleetModel::unusable(const QString &port, const QString &reason)
{
    Row &row = rowFor(port);
    row.state = State::CannotOpen;
    row.reason = reason;
    changed(rowOf(port));
}

void FleetModel::empty(const QString &port)
{
    // A port where nothing answers is no logger's row; one that cannot be opened keeps its reason.
    const int row = rowOf(port);
    if (row >= 0 && rows[row].state == State::Probing)
        remove(row);
}

void FleetModel::polled(const Station::PortReading &reading)
{
    Row &row = rowFor(reading.port);
    if (row.state == State::Downloading || row.state == State::LeftAlone)
        return;
    if (reading.up) {
        row.reading = reading;
        row.identified = true;
    }
    row.state = reading.up ? State::Answering : State::NotAnswering;
    changed(rowOf(reading.port));
}

void FleetModel::removed(const QString &port)
{
    const int row = rowOf(port);
    // The main window's port keeps its row while it is left to it, plugged or not.
    if (row < 0 || rows[row].state == State::LeftAlone)
        return;
    // A logger pulled out during its download keeps its row, to say so, whether its worker
    // told the failure first or not.
    const bool failedDownload = !rows[row].downloadError.isEmpty();
    if (!pending.contains(port) && !failedDownload)
        return remove(row);
    rows[row].state = State::PulledOut;
    changed(row);
    if (!pending.contains(port))
        return;
    // Its worker may still be winding down: the download counts as failed now, whatever it reports later.
    Station::DownloadReport report;
    report.port = port;
    report.status = rows[row].reading.status;
    report.outcome = Station::DownloadOutcome::LineFailed;
    report.error = PULLED_OUT;
    finish(report);
}

void FleetModel::progress(const QString &port, int percent)
{
    const int row = rowOf(port);
    if (row < 0 || rows[row].state != State::Downloading)
        return;
    rows[row].percent = percent;
    changed(row);
}

void FleetModel::leftToMainWindow(const QString &port)
{
    for (int i = rows.size() - 1; i >= 0; --i)
        if (rows[i].state == State::LeftAlone && rows[i].port != port)
            remove(i);
    if (port.isEmpty())
        return;
    Row &row = rowFor(port);
    row.state = State::LeftAlone;
    changed(rowOf(port));
}

void FleetModel::clear()
{
    beginResetModel();
    rows.clear();
    changedPorts.clear();
    endResetModel();
}

QStringList FleetModel::downloadablePorts(const QList<int> &selected) const
{
    QStringList ports;
    for (int i = 0; i < rows.size(); ++i)
        if ((selected.isEmpty() || selected.contains(i)) && rows[i].state == State::Answering)
            ports << rows[i].port;
    return ports;
}

void FleetModel::downloadsStarted(const QStringList &ports)
{
    if (pending.isEmpty())
        reports.clear();
    for (const QString &port : ports) {
        const int row = rowOf(port);
        if (row < 0)
            continue;
        pending.insert(port);
        rows[row].state = State::Downloading;
        rows[row].percent = 0;
        changed(row);
    }
}

void FleetModel::downloaded(const Station::DownloadReport &report)
{
    if (!pending.contains(report.port))
        return;
    const int index = rowOf(report.port);
    if (index >= 0) {
        Row &row = rows[index];
        const bool silent = report.outcome == Station::DownloadOutcome::NoLogger || report.outcome == Station::DownloadOutcome::LineFailed;
        row.state = silent ? State::NotAnswering : State::Answering;
        if (report.outcome == Station::DownloadOutcome::Read) {
            row.downloadedAt = QDateTime::currentDateTime();
            row.downloadFile = QFileInfo(report.file).absoluteFilePath();
            row.downloadError.clear();
        } else {
            row.downloadError = report.error;
        }
        changed(index);
    }
    finish(report);
}

void FleetModel::finish(const Station::DownloadReport &report)
{
    pending.remove(report.port);
    reports.append(report);
    if (pending.isEmpty())
        emit downloadsFinished(summary());
}

QString FleetModel::summary() const
{
    int files = 0;
    quint64 records = 0, newRecords = 0;
    QStringList failures;
    for (const Station::DownloadReport &report : reports) {
        if (report.outcome == Station::DownloadOutcome::Read) {
            ++files;
            records += report.records;
            newRecords += report.newRecords;
            if (!report.archiveError.isEmpty())
                failures << report.port + QStringLiteral(": archive: ") + report.archiveError;
        } else {
            failures << report.port + QStringLiteral(": ") + report.error;
        }
    }
    QString text = QStringLiteral("%1 file(s), %2 records, %3 new; %4 failure(s)")
                       .arg(files).arg(records).arg(newRecords).arg(failures.size());
    return failures.isEmpty() ? text : text + QStringLiteral(":\n") + failures.join(QLatin1Char('\n'));
}

QString FleetModel::port(int row) const
{
    return row >= 0 && row < rows.size() ? rows[row].port : QString();
}

QString FleetModel::lastDownloadFile(int row) const
{
    return row >= 0 && row < rows.size() ? rows[row].downloadFile : QString();
}

QString FleetModel::tabSeparated() const
{
    QStringList lines;
    QStringList cells;
    for (int column = 0; column < ColumnCount; ++column)
        cells << QString::fromLatin1(HEADERS[column]);
    lines << cells.join(QLatin1Char('\t'));
    for (const Row &row : rows) {
        cells.clear();
        for (int column = 0; column < ColumnCount; ++column)
            cells << text(row, column);
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
