#include "fleetwindow.h"

#include "campaignwindow.h"
#include "fleetmodel.h"
#include "monitor.h"
#include "outputfile.h"
#include "portwatcher.h"
#include "settings.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// The state column of a downloading row: a progress bar with its text.
class ProgressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int percent = index.data(FleetModel::PercentRole).toInt();
        if (index.data(FleetModel::PercentRole).isNull() || percent < 0)
            return QStyledItemDelegate::paint(painter, option, index);
        QStyleOptionProgressBar bar;
        bar.rect = option.rect.adjusted(1, 1, -1, -1);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = percent;
        bar.text = index.data().toString();
        bar.textVisible = true;
        bar.state = option.state | QStyle::State_Horizontal;
        QApplication::style()->drawControl(QStyle::CE_ProgressBar, &bar, painter);
    }
};

QPushButton *button(const QString &text, const QString &name, QWidget *parent)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

} // namespace

FleetWindow::FleetWindow(const QString &leftPort, QWidget *parent)
    : QWidget(parent), fleet(new FleetModel(this)), table(new QTableView(this)), message(new QLabel(this))
{
    setWindowTitle(QStringLiteral("All loggers"));
    setObjectName(QStringLiteral("fleetWindow"));
    table->setObjectName(QStringLiteral("fleetTable"));
    table->setModel(fleet);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setItemDelegateForColumn(FleetModel::StateColumn, new ProgressDelegate(table));
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->hide();
    message->setObjectName(QStringLiteral("fleetMessage"));
    message->setWordWrap(true);
    message->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QHBoxLayout;
    QPushButton *all = button(QStringLiteral("Download all"), QStringLiteral("downloadAll"), this);
    QPushButton *selected = button(QStringLiteral("Download selected"), QStringLiteral("downloadSelected"), this);
    QPushButton *open = button(QStringLiteral("Open campaign"), QStringLiteral("openCampaign"), this);
    QPushButton *copy = button(QStringLiteral("Copy"), QStringLiteral("copyTable"), this);
    QPushButton *ports = button(QStringLiteral("Ports..."), QStringLiteral("ports"), this);
    for (QPushButton *b : {all, selected, open, copy})
        buttons->addWidget(b);
    buttons->addStretch();
    buttons->addWidget(ports);
    connect(ports, &QPushButton::clicked, this, &FleetWindow::editPorts);
    connect(fleet, &FleetModel::downloadsFinished, this, &FleetWindow::tell);
    connect(all, &QPushButton::clicked, this, [this] { askFolderAndDownload(false); });
    connect(selected, &QPushButton::clicked, this, [this] { askFolderAndDownload(true); });
    connect(open, &QPushButton::clicked, this, &FleetWindow::openCampaign);
    connect(copy, &QPushButton::clicked, this, &FleetWindow::copyTable);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(table);
    layout->addWidget(message);
    resize(1270, 300);

    left = leftPort;
    startStation(configuredPorts());
}

void FleetWindow::startStation(const QStringList &ports)
{
    Station::WorkerOptions options;
    options.intervalMs = INTERVAL_MS;
    options.ports = ports;
    monitor = std::make_unique<Station::Monitor>(options);
    Station::Monitor *m = monitor.get();
    connect(m, &Station::Monitor::portProbing, fleet, &FleetModel::probing);
    connect(m, &Station::Monitor::portError, fleet, [this](const QString &port, const QString &, const QString &systemReason) {
        fleet->unusable(port, systemReason);
    });
    connect(m, &Station::Monitor::portEmpty, fleet, &FleetModel::empty);
    connect(m, &Station::Monitor::portRemoved, fleet, &FleetModel::removed);
    connect(m, &Station::Monitor::polled, fleet, &FleetModel::polled);
    connect(m, &Station::Monitor::downloadProgress, fleet, &FleetModel::progress);
    connect(m, &Station::Monitor::downloaded, fleet, &FleetModel::downloaded);
    monitor->leavePort(left);
    fleet->leftToMainWindow(left);
    monitor->start();
}

FleetWindow::~FleetWindow()
{
    stopStation();
    delete campaign;
}

void FleetWindow::leavePort(const QString &port)
{
    left = port;
    monitor->leavePort(port);
    fleet->leftToMainWindow(port);
}

QStringList FleetWindow::configuredPorts()
{
    QStringList ports;
    const QStringList named = Settings().value(SettingsKey::fleetPorts).toStringList();
    for (const QString &port : named)
        if (!port.trimmed().isEmpty())
            ports << port.trimmed();
    return ports;
}

bool FleetWindow::usePorts(const QStringList &ports)
{
    if (fleet->downloading())
        return tell(QStringLiteral("The ports can be changed once the downloads are over.")), false;
    Settings settings;
    if (ports.isEmpty())
        settings.remove(SettingsKey::fleetPorts);
    else
        settings.setValue(SettingsKey::fleetPorts, ports);
    settings.sync();
    // The old workers end before new ones open a port: one owner per port.
    monitor.reset();
    fleet->clear();
    startStation(ports);
    tell(settings.status() == QSettings::NoError
             ? QString()
             : QStringLiteral("These ports are watched until the window closes: %1 cannot be written.").arg(settings.fileName()));
    return true;
}

void FleetWindow::editPorts()
{
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Ports"));
    auto *help = new QLabel(QStringLiteral("The only ports this window opens, one a line, as vantorel-cli serve --port names them. "
                                           "Empty: every USB serial adapter and the paths of VANTOREL_EXTRA_PORTS."), &dialog);
    help->setWordWrap(true);
    auto *edit = new QPlainTextEdit(configuredPorts().join(QLatin1Char('\n')), &dialog);
    QStringList present;
    const QList<PortChoice> choices = PortWatcher::stationChoices(configuredPorts());
    for (const PortChoice &choice : choices)
        present << choice.name + QStringLiteral(": ") + (choice.used ? QStringLiteral("used, ") : QStringLiteral("not used, ")) + choice.why;
    auto *now = new QLabel(QStringLiteral("Now:\n") + present.join(QLatin1Char('\n')), &dialog);
    now->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(help);
    layout->addWidget(edit);
    layout->addWidget(now);
    layout->addWidget(box);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QStringList ports;
    for (const QString &line : edit->toPlainText().split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty())
            ports << line.trimmed();
    usePorts(ports);
}

void FleetWindow::askFolderAndDownload(bool selectedOnly)
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Download into"),
                                                             Settings().value(SettingsKey::exportDirectory).toString());
    if (!folder.isEmpty())
        downloadInto(folder, selectedOnly);
}

bool FleetWindow::downloadInto(const QString &folder, bool selectedOnly)
{
    QList<int> rows;
    if (selectedOnly) {
        for (const QModelIndex &index : table->selectionModel()->selectedRows())
            rows << index.row();
        if (rows.isEmpty())
            return tell(QStringLiteral("No logger is selected.")), false;
    }
    const QStringList ports = fleet->downloadablePorts(rows);
    if (ports.isEmpty())
        return tell(QStringLiteral("No logger answers there to be downloaded.")), false;
    // The folder is tried before any logger is read: a file made and given up at once.
    OutputFile probe(QDir(folder).filePath(QStringLiteral(".vantorel-fleet-check")));
    if (!probe.open(QIODevice::WriteOnly))
        return tell(QStringLiteral("Nothing was downloaded: the folder cannot be written (%1).").arg(probe.errorMessage())), false;
    probe.cancel();

    Station::DownloadTarget target{folder, Archive::Location::fromSettings(), false};
    QStringList asked;
    for (const QString &port : ports)
        if (monitor->download(port, target))
            asked << port;
    fleet->downloadsStarted(asked);
    tell(QStringLiteral("Downloading %1 logger(s) into %2...").arg(asked.size()).arg(QDir::toNativeSeparators(folder)));
    return !asked.isEmpty();
}

void FleetWindow::openCampaign()
{
    const QModelIndexList selected = table->selectionModel()->selectedRows();
    const QString path = selected.isEmpty() ? QString() : fleet->lastDownloadFile(selected.first().row());
    if (path.isEmpty())
        return tell(QStringLiteral("The selected logger has not been downloaded here yet."));
    if (!campaign) {
        campaign = new CampaignWindow;
        campaign->setObjectName(QStringLiteral("campaignWindow"));
    }
    QString error;
    if (!campaign->openFile(path, &error))
        return tell(error);
    campaign->show();
    campaign->raise();
    campaign->activateWindow();
}

void FleetWindow::copyTable()
{
    QApplication::clipboard()->setText(fleet->tabSeparated());
}

void FleetWindow::tell(const QString &text)
{
    message->setText(text);
}

void FleetWindow::stopStation()
{
    if (monitor)
        monitor->stop(STOP_MS);
}

void FleetWindow::closeEvent(QCloseEvent *event)
{
    // Every worker ends; a download under way leaves no file.
    stopStation();
    event->accept();
}
