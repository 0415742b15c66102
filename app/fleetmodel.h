#ifndef VANTOREL_FLEETMODEL_H
#define VANTOREL_FLEETMODEL_H

// The fleet window's table: one row per port where a logger was found (or that could not
// be opened), filled from what the station's workers report, and the downloads asked of
// them. It never talks to a port itself.

#include "loggerdownload.h"
#include "metrics.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QSet>

class QTimer;

class FleetModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        PortColumn, SerialColumn, TypeColumn, ValuesColumn, BatteryColumn, RecordsColumn,
        FreeMemoryColumn, ClockOffsetColumn, LastDownloadColumn, StateColumn, ColumnCount
    };
    // Qt::UserRole of the state column: the download's percent, or -1 when none runs.
    static constexpr int PercentRole = Qt::UserRole;
    // Views hear of changed rows at most this often: a download changes its row at every
    // percent, and every change has the table measure all its cells again.
    static constexpr int REFRESH_MS = 250;

    explicit FleetModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // What the station reports.
    void probing(const QString &port);
    void unusable(const QString &port, const QString &reason);
    void empty(const QString &port);
    void polled(const Station::PortReading &reading);
    void removed(const QString &port);
    void progress(const QString &port, int percent);
    void downloaded(const Station::DownloadReport &report);
    // The port stays with the main window: a row that says so, nothing else.
    void leftToMainWindow(const QString &port);
    // Every row goes: the station starts again on other ports.
    void clear();

    // The ports of `rows` (all when empty) whose logger answers and is not downloading.
    QStringList downloadablePorts(const QList<int> &rows = {}) const;
    // The downloads asked of these ports begin: their rows show the progress, and once the
    // last report is in, downloadsFinished gives the summary.
    void downloadsStarted(const QStringList &ports);
    bool downloading() const { return !pending.isEmpty(); }

    QString port(int row) const;
    QString lastDownloadFile(int row) const;
    // Header and rows as tab-separated text, one line each.
    QString tabSeparated() const;

signals:
    void downloadsFinished(const QString &summary);

private:
    enum class State { Probing, Answering, NotAnswering, Downloading, CannotOpen, LeftAlone, PulledOut };
    struct Row {
        QString port;
        State state = State::Probing;
        QString reason;              // CannotOpen: the system's
        int percent = 0;             // Downloading
        bool identified = false;     // a logger answered once: reading.status holds it
        Station::PortReading reading;
        QDateTime downloadedAt;
        QString downloadFile;
        QString downloadError;       // the last download failed: why
    };

    int rowOf(const QString &port) const;
    Row &rowFor(const QString &port);        // made when missing, in port order
    void changed(int row);
    void tellChanges();
    void remove(int row);
    QString text(const Row &row, int column) const;
    QString stateText(const Row &row) const;
    void finish(const Station::DownloadReport &report);
    QString summary() const;

    QList<Row> rows;
    QSet<QString> changedPorts;               // not yet told to the views
    QTimer *refresh;
    QSet<QString> pending;
    QList<Station::DownloadReport> reports;   // of the downloads under way or just over
};

#endif
