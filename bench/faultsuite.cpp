#include "faultsuite.h"

#include "clock.h"
#include "downloaddriver.h"
#include "mainwindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <random>

namespace {

constexpr int ADAPTER_SETTLE_MS = 1500;  // the port watcher looks every 500 ms
constexpr int REPLUG_AFTER_MS = 1200;
constexpr int START_SEQUENCE_REQUESTS = 12;  // the fewest a start sends: its writes
constexpr quint32 MEMORY_BASE = 0x02000000;

QByteArray headerFor(int type)
{
    static const char *const names[11][2] = {
        {"Unknown data type", "?"},
        {"Vantorel Temp", "\xB0" "C"},
        {"Vantorel Impulse", "Pulses"},
        {"Vantorel Temp\tHumidity", "\xB0" "C\t%RH"},
        {"Inline Wattmeter", "Watts"},
        {"Vantorel Temp", "\xB0" "C"},
        {"type K1\ttype K2", "\xB0" "C\t\xB0" "C"},
        {"Wattmeter\tV", "Watts\tVolts"},
        {"Vantorel Lamp", "Seconds"},
        {"Inline Wattmeter", "Watts"},
        {"type S\ttype K", "\xB0" "C\t\xB0" "C"},
    };
    const int t = type >= 1 && type <= 10 ? type : 0;
    return QByteArray("Vantorel\t\r\n\t00012345\r\n\t") + names[t][0] + "\r\nDate\t" + names[t][1] + "\r\n";
}

struct PeriodChoice {
    const char *item;
    quint8 code;
    int seconds;
};

// None of them is the logger's own period (1 min), so that the write must take.
const PeriodChoice periodChoices[] = {
    {"5min", 13, 300}, {"1h", 9, 3600}, {"2s", 1, 2}, {"10min", 8, 600}, {"3min", 11, 180}, {"15s", 4, 15},
};

quint8 bcd(int value)
{
    return quint8((value / 10) << 4 | value % 10);
}

QString firstDifference(const QByteArray &got, const QByteArray &want)
{
    const QList<QByteArray> a = got.split('\n'), b = want.split('\n');
    for (int i = 0; i < std::max(a.size(), b.size()); ++i)
        if (a.value(i) != b.value(i))
            return QStringLiteral("line %1: got \"%2\", want \"%3\" (%4 lines, want %5)")
                .arg(i + 1)
                .arg(QString::fromLatin1(a.value(i).trimmed()), QString::fromLatin1(b.value(i).trimmed()))
                .arg(a.size() - 1)
                .arg(b.size() - 1);
    return QString();
}

// A patient user at the screen: types the file name, answers "Error COM" with OK (once
// the adapter is back, when it was pulled out), gives up only after `patience` boxes in
// a row that brought no progress, and gives up on everything past the deadline.
class SimulatedUser
{
public:
    SimulatedUser(sim::PtyLogger &logger, const QString &savePath, int patience, bool waitsForAdapter,
                  int timeoutMs)
        : logger(logger), savePath(savePath), patience(patience), waitsForAdapter(waitsForAdapter),
          timeoutMs(timeoutMs)
    {
        clock.start();
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
        timer.start(10);
    }

    std::function<qint64()> progress;
    std::function<void()> onProgressDialog;
    int errorBoxes = 0;
    int cancels = 0;
    bool expired = false;
    QString outcome;
    QStringList unexpected;

private:
    void tick()
    {
        if (logger.isPlugged()) {
            if (!plugged.isValid())
                plugged.start();
        } else {
            plugged.invalidate();
        }
        if (!expired && clock.elapsed() > timeoutMs)
            expired = true;

        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w == handled)
            return;
        if (auto *progressDialog = qobject_cast<QProgressDialog *>(w)) {
            if (!progressShown) {
                progressShown = true;
                if (onProgressDialog)
                    onProgressDialog();
            }
            if (expired) {
                handled = w;
                QTimer::singleShot(0, progressDialog, &QProgressDialog::cancel);
            }
        } else if (auto *fileDialog = qobject_cast<QFileDialog *>(w)) {
            auto *name = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name || name->text().isEmpty())
                return;  // not laid out yet
            handled = w;
            name->setText(savePath);
            QTimer::singleShot(0, fileDialog, expired ? &QDialog::reject : &QDialog::accept);
        } else if (auto *box = qobject_cast<QMessageBox *>(w)) {
            if (box->windowTitle() == QLatin1String("Error COM")) {
                if (waitsForAdapter && !expired && (!plugged.isValid() || plugged.elapsed() < ADAPTER_SETTLE_MS))
                    return;
                ++errorBoxes;
                const qint64 now = progress ? progress() : 0;
                if (now != lastProgress)
                    inARow = 0;
                lastProgress = now;
                const bool giveUp = ++inARow > patience || expired;
                cancels += giveUp;
                answer(box, giveUp ? QMessageBox::Cancel : QMessageBox::Ok);
            } else if (box->windowTitle() == QLatin1String("Read Data")) {
                outcome = box->text();
                answer(box, QMessageBox::Ok);
            } else {
                unexpected << box->windowTitle() + QStringLiteral("|") + box->text();
                answer(box, box->button(QMessageBox::Cancel) ? QMessageBox::Cancel : QMessageBox::Ok);
            }
        }
    }

    void answer(QMessageBox *box, QMessageBox::StandardButton which)
    {
        handled = box;
        if (QAbstractButton *button = box->button(which))
            QTimer::singleShot(0, button, &QAbstractButton::click);
    }

    sim::PtyLogger &logger;
    const QString savePath;
    const int patience;
    const bool waitsForAdapter;
    const int timeoutMs;
    QTimer timer;
    QElapsedTimer clock, plugged;
    QPointer<QWidget> handled;
    bool progressShown = false;
    qint64 lastProgress = -1;
    int inARow = 0;
};

void setFaults(sim::PtyLogger &logger, const sim::FaultConfig &faults)
{
    logger.withLogger([&](sim::SimulatedLogger &l) { l.faults() = faults; });
}

// The link goes away after `within` more requests at most, and comes back.
void armUnplug(sim::PtyLogger &logger, int within, std::mt19937 &pick)
{
    logger.withLogger([&](sim::SimulatedLogger &l) {
        l.faults().unplugAfterRequests = int(l.requests().size()) + 1 + int(pick() % quint32(std::max(1, within)));
        l.faults().replugAfterMs = REPLUG_AFTER_MS;
    });
}

DownloadOutcome runDownload(const FaultKind &kind, const FaultRun &run, int index)
{
    DownloadOutcome out;
    out.seed = run.seed + quint32(index);
    out.type = run.downloadTypes.isEmpty() ? 3 : run.downloadTypes[index % run.downloadTypes.size()];
    sim::LoggerConfig config = frozenLogger(out.type, run.usedBytes);
    config.memorySizeCode = run.memorySizeCode;
    config.seed = out.seed;
    LoggerWindow w(config, sim::FaultConfig(), QByteArray(), kind.line);
    w.refreshTimer()->start(0);  // the first look at the logger need not wait a second
    // A line too slow for the program may keep it from ever showing the logger; the user
    // presses the button all the same, and must then be told.
    out.neverShown = !w.waitForRefresh(kind.line.answerLatencyUs > 0 ? 15000 : 60000);
    const QByteArray expected = expectedExport(*w.logger, headerFor(out.type));
    const QString path = w.dir.filePath(QStringLiteral("faults.tsv"));

    const quint32 top = run.memorySizeCode == 4 ? 0x3FFFF : 0x1FFFF;
    const quint32 end = run.usedBytes > top ? top + 1 : run.usedBytes;
    const int blocks = int((end + 63) / 64);
    out.blocks = blocks;
    std::mt19937 pick(out.seed);
    SimulatedUser user(*w.logger, path, run.patience, kind.unplugWithin > 0, run.operationTimeoutMs);
    // The program asks for block n + 1 only once block n came through.
    int scanned = 0;
    qint64 highest = -1;
    user.progress = [&] {
        return w.logger->read<qint64>([&](sim::SimulatedLogger &l) {
            for (; scanned < l.requests().size(); ++scanned) {
                const sim::LoggedRequest &r = l.requests()[scanned];
                if (r.function == 8 && (r.registerAddress >> 24) == (MEMORY_BASE >> 24))
                    highest = std::max<qint64>(highest, r.registerAddress);
            }
            return highest;
        });
    };
    if (kind.unplugWithin > 0)
        user.onProgressDialog = [&] { armUnplug(*w.logger, std::min(kind.unplugWithin, blocks), pick); };

    setFaults(*w.logger, kind.faults);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w.window->findChild<QPushButton *>(QStringLiteral("readButton")), Qt::LeftButton);
    out.finished = waitFor([&] { return !user.outcome.isEmpty() && w.central()->isEnabled() && w.refreshTimer()->isActive(); },
                           run.operationTimeoutMs + 60000);
    out.ms = clock.elapsed();
    setFaults(*w.logger, sim::FaultConfig());
    out.blockReads = blockReads(*w.logger);

    out.outcome = user.outcome;
    out.errorBoxes = user.errorBoxes;
    out.gaveUp = user.cancels > 0;
    out.unexpected += user.unexpected;
    if (user.expired)
        out.unexpected << QStringLiteral("still running after %1 s").arg(run.operationTimeoutMs / 1000);
    out.completed = user.outcome.contains(QLatin1String("Download Complete"));
    out.reportedFailure = !user.outcome.isEmpty() && !out.completed;
    out.fileExists = QFile::exists(path);
    const QByteArray file = readFile(path);
    out.identical = out.fileExists && file == expected;
    if (out.fileExists && !out.identical)
        out.difference = firstDifference(file, expected);
    return out;
}

// Fixes the PC's clock for one start, and gives the real one back.
struct FixedClock {
    explicit FixedClock(const QDateTime &now) { Clock::setSource([now] { return now; }); }
    ~FixedClock() { Clock::setSource({}); }
};

StartOutcome runStart(const FaultKind &kind, const FaultRun &run, int index)
{
    StartOutcome out;
    out.seed = run.seed + 500 + quint32(index);
    out.type = run.startTypes.isEmpty() ? 2 : run.startTypes[index % run.startTypes.size()];
    const PeriodChoice &choice = periodChoices[size_t(index) % std::size(periodChoices)];
    out.periodCode = choice.code;
    sim::LoggerConfig config = frozenLogger(out.type, 800);
    config.memorySizeCode = run.memorySizeCode;
    config.periodCode = 7;
    config.seed = out.seed;
    LoggerWindow w(config, sim::FaultConfig(), QByteArray(), kind.line);
    w.refreshTimer()->start(0);  // the first look at the logger need not wait a second
    // A line too slow for the program may keep it from ever showing the logger; the user
    // presses the button all the same, and must then be told.
    out.neverShown = !w.waitForRefresh(kind.line.answerLatencyUs > 0 ? 15000 : 60000);
    // A different moment each time, so that the remainder in the period varies.
    const QDateTime now = QDateTime(QDate(2025, 3, 14), QTime(14, 7, 43), Qt::LocalTime).addSecs(qint64(index) * 7919);
    FixedClock fixed(now);

    std::mt19937 pick(out.seed);
    SimulatedUser user(*w.logger, QString(), run.patience, kind.unplugWithin > 0, run.operationTimeoutMs);
    setFaults(*w.logger, kind.faults);
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w.window->findChild<QPushButton *>(QStringLiteral("startButton")), Qt::LeftButton);
    QWidget *dialog = nullptr;
    waitFor([&] {
        dialog = w.dialog("start");
        return (dialog && dialog->isVisible()) || (user.cancels > 0 && w.central()->isEnabled()) || user.expired;
    }, run.operationTimeoutMs + 60000);
    if (dialog && dialog->isVisible()) {
        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("period_combo"));
        combo->setCurrentIndex(combo->findText(QString::fromLatin1(choice.item)));
        if (kind.unplugWithin > 0)
            armUnplug(*w.logger, std::min(kind.unplugWithin, START_SEQUENCE_REQUESTS), pick);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("Start")), Qt::LeftButton);
        out.finished = waitFor([&] { return !dialog->isVisible(); }, run.operationTimeoutMs + 60000);
        out.completed = out.finished && user.cancels == 0;
    } else {
        out.finished = user.cancels > 0;
    }
    out.ms = clock.elapsed();
    setFaults(*w.logger, sim::FaultConfig());
    out.reportedFailure = user.cancels > 0;
    out.errorBoxes = user.errorBoxes;
    out.unexpected += user.unexpected;
    if (user.expired)
        out.unexpected << QStringLiteral("still running after %1 s").arg(run.operationTimeoutMs / 1000);

    const quint16 remainder = quint16(now.toSecsSinceEpoch() % choice.seconds);
    const QDateTime aligned = now.addSecs(-qint64(remainder));
    const quint8 clockBytes[6] = {bcd(aligned.date().year() % 100), bcd(aligned.date().month()), bcd(aligned.date().day()),
                                  bcd(aligned.time().hour()),       bcd(aligned.time().minute()), bcd(aligned.time().second())};
    const bool counted = out.type == 2 || out.type == 8;
    QStringList wrong;
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        const auto &cfg = l.configRegisters();
        if (cfg[0x1A] != choice.code)
            wrong << QStringLiteral("period code %1, asked %2").arg(cfg[0x1A]).arg(choice.code);
        if (l.usedBytes() != 0)
            wrong << QStringLiteral("used bytes %1").arg(l.usedBytes());
        const auto &live = l.liveRegisters();
        const quint32 counter = quint32(live[0x48]) | quint32(live[0x49]) << 8 | quint32(live[0x4A]) << 16
                                | quint32(live[0x4B]) << 24;
        if (counted && counter != 0)
            wrong << QStringLiteral("counter %1").arg(counter);
        QString got, want;
        for (int i = 0; i < 6; ++i) {
            got += QString::asprintf("%02x", cfg[size_t(0x30 + i)]);
            want += QString::asprintf("%02x", clockBytes[i]);
        }
        if (got != want)
            wrong << QStringLiteral("start %1, want %2").arg(got, want);
        if (l.secondsInPeriod() != remainder)
            wrong << QStringLiteral("seconds in period %1, want %2").arg(l.secondsInPeriod()).arg(remainder);
        if (!l.isRecording())
            wrong << QStringLiteral("not recording");
    });
    out.asleepAtEnd = w.logger->read<bool>([](sim::SimulatedLogger &l) { return l.isSleeping(); });
    out.mismatch = wrong.join(QStringLiteral("; "));
    out.exact = wrong.isEmpty();
    return out;
}

QString describe(const DownloadOutcome &d)
{
    QString outcome = d.outcome;
    outcome.replace(QRegularExpression(QStringLiteral("<br ?/?>")), QStringLiteral(": "));
    outcome.remove(QRegularExpression(QStringLiteral("<[^>]*>")));
    return QStringLiteral("download seed %1 type %2: %3, %4 reads for %5 blocks, %6 boxes, %7 ms%8%9")
        .arg(d.seed)
        .arg(d.type)
        .arg(outcome.isEmpty() ? QStringLiteral("no outcome") : outcome)
        .arg(d.blockReads)
        .arg(d.blocks)
        .arg(d.errorBoxes)
        .arg(d.ms)
        .arg(d.fileExists ? (d.identical ? QStringLiteral(", file identical") : QStringLiteral(", file differs"))
                          : QStringLiteral(", no file"))
        .arg(d.difference.isEmpty() ? QString() : QStringLiteral(" at ") + d.difference)
        + (d.neverShown ? QStringLiteral(" (the window never showed the logger)") : QString());
}

QString describe(const StartOutcome &s)
{
    return QStringLiteral("start seed %1 type %2 period code %3: %4%5, %6 boxes, %7 ms%8")
        .arg(s.seed)
        .arg(s.type)
        .arg(s.periodCode)
        .arg(s.completed ? QStringLiteral("closed on success")
                         : s.reportedFailure ? QStringLiteral("user gave up") : QStringLiteral("no end"))
        .arg(s.asleepAtEnd ? QStringLiteral(" (logger asleep)") : QString())
        .arg(s.errorBoxes)
        .arg(s.ms)
        .arg(s.exact ? QStringLiteral(", logger as asked") : QStringLiteral(", logger: ") + s.mismatch)
        + (s.neverShown ? QStringLiteral(" (the window never showed the logger)") : QString());
}

} // namespace

QList<FaultKind> lineFaults()
{
    QList<FaultKind> kinds;
    FaultKind k;
    k = FaultKind();
    k.name = QStringLiteral("corrupted bytes");
    k.rate = QStringLiteral("1 % of answer bytes");
    k.faults.corruptByteRate = 0.01;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("dropped answers");
    k.rate = QStringLiteral("2 % of answers");
    k.faults.dropAnswerRate = 0.02;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("noise before answers");
    k.rate = QStringLiteral("10 % of answers, 8 bytes");
    k.faults.noiseRate = 0.10;
    k.faults.noiseBytes = 8;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("answers in chunks");
    k.rate = QStringLiteral("8 bytes, 2 ms apart");
    k.faults.splitChunk = 8;
    k.faults.chunkGapUs = 2000;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("falls asleep");
    k.rate = QStringLiteral("0.5 % of requests");
    k.faults.sleepRate = 0.005;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("unplugged, back");
    k.rate = QStringLiteral("once, back after 1.2 s");
    k.unplugWithin = 1 << 20;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("wrong block count");
    k.rate = QStringLiteral("2 % of reads");
    k.faults.wrongBlockRate = 0.02;
    kinds << k;
    k = FaultKind();
    k.name = QStringLiteral("all of them");
    k.rate = QStringLiteral("the rates above");
    k.faults.corruptByteRate = 0.01;
    k.faults.dropAnswerRate = 0.02;
    k.faults.noiseRate = 0.10;
    k.faults.splitChunk = 8;
    k.faults.chunkGapUs = 2000;
    k.faults.sleepRate = 0.005;
    k.faults.wrongBlockRate = 0.02;
    kinds << k;
    return kinds;
}

FaultKind lateAnswers(int latencyMs)
{
    FaultKind k;
    k.name = QStringLiteral("late answers");
    k.rate = QStringLiteral("every answer %1 ms late").arg(latencyMs);
    k.line.answerLatencyUs = latencyMs * 1000;
    return k;
}

int FaultRow::downloadsCompleted() const
{
    return int(std::count_if(downloads.begin(), downloads.end(), [](const DownloadOutcome &d) { return d.completed; }));
}

int FaultRow::downloadsIdentical() const
{
    return int(std::count_if(downloads.begin(), downloads.end(), [](const DownloadOutcome &d) { return d.identical; }));
}

int FaultRow::downloadsReported() const
{
    return int(std::count_if(downloads.begin(), downloads.end(),
                             [](const DownloadOutcome &d) { return d.reportedFailure; }));
}

int FaultRow::startsCompleted() const
{
    return int(std::count_if(starts.begin(), starts.end(), [](const StartOutcome &s) { return s.completed; }));
}

int FaultRow::startsExact() const
{
    return int(std::count_if(starts.begin(), starts.end(), [](const StartOutcome &s) { return s.exact; }));
}

int FaultRow::startsReported() const
{
    return int(std::count_if(starts.begin(), starts.end(), [](const StartOutcome &s) { return s.reportedFailure; }));
}

int FaultRow::errorBoxes() const
{
    int n = 0;
    for (const DownloadOutcome &d : downloads)
        n += d.errorBoxes;
    for (const StartOutcome &s : starts)
        n += s.errorBoxes;
    return n;
}

QStringList FaultRow::violations() const
{
    QStringList v;
    const QString where = kind.name + QStringLiteral(" (") + kind.rate + QStringLiteral("), ");
    for (const DownloadOutcome &d : downloads) {
        QStringList why;
        if (!d.finished)
            why << QStringLiteral("never ended");
        if (d.completed && !d.identical)
            why << QStringLiteral("reported complete, file not the clean one");
        if (!d.completed && d.fileExists)
            why << QStringLiteral("not complete, yet a file was written");
        if (d.finished && !d.completed && !d.reportedFailure)
            why << QStringLiteral("ended without telling the user");
        for (const QString &u : d.unexpected)
            why << QStringLiteral("unexpected: ") + u;
        if (!why.isEmpty())
            v << where + describe(d) + QStringLiteral(": ") + why.join(QStringLiteral("; "));
    }
    for (const StartOutcome &s : starts) {
        QStringList why;
        if (!s.finished)
            why << QStringLiteral("never ended");
        if (s.completed && !s.exact)
            why << QStringLiteral("closed as done, logger not as asked");
        for (const QString &u : s.unexpected)
            why << QStringLiteral("unexpected: ") + u;
        if (!why.isEmpty())
            v << where + describe(s) + QStringLiteral(": ") + why.join(QStringLiteral("; "));
    }
    return v;
}

QStringList FaultRow::details() const
{
    QStringList out;
    for (const DownloadOutcome &d : downloads)
        out << kind.name + QStringLiteral(": ") + describe(d);
    for (const StartOutcome &s : starts)
        out << kind.name + QStringLiteral(": ") + describe(s);
    return out;
}

namespace {
QtMessageHandler chatterPassedTo = nullptr;

// The program's debug lines run to thousands under faults; they would drown the figures.
void dropChatter(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg || message.contains(QLatin1String("propagateSizeHints")))
        return;
    if (chatterPassedTo)
        chatterPassedTo(type, context, message);
}

struct QuietProgram {
    QuietProgram() { chatterPassedTo = qInstallMessageHandler(dropChatter); }
    ~QuietProgram() { qInstallMessageHandler(chatterPassedTo); }
};
} // namespace

FaultRow runFault(const FaultKind &kind, const FaultRun &run)
{
    QuietProgram quiet;
    FaultRow row;
    row.kind = kind;
    for (int i = 0; i < run.downloads; ++i) {
        row.downloads << runDownload(kind, run, i);
        if (run.verbose)
            qInfo().noquote() << kind.name + QStringLiteral(": ") + describe(row.downloads.last());
    }
    for (int i = 0; i < run.starts; ++i) {
        row.starts << runStart(kind, run, i);
        if (run.verbose)
            qInfo().noquote() << kind.name + QStringLiteral(": ") + describe(row.starts.last());
    }
    return row;
}

QStringList faultTable(const QList<FaultRow> &rows)
{
    const auto line = [](const QString &fault, const QString &rate, const QStringList &figures) {
        QString text = fault.leftJustified(22) + rate.leftJustified(26);
        for (int i = 0; i < figures.size(); ++i)
            text += (i == 4 || i == 8 ? QStringLiteral(" | ") : QStringLiteral(" ")) + figures[i].rightJustified(9);
        return text;
    };
    QStringList out;
    out << line(QString(), QString(),
                {QStringLiteral("downloads"), QString(), QString(), QString(), QStringLiteral("starts"), QString(),
                 QString(), QString(), QStringLiteral("Error COM")});
    out << line(QStringLiteral("fault"), QStringLiteral("rate"),
                {QStringLiteral("tried"), QStringLiteral("completed"), QStringLiteral("identical"),
                 QStringLiteral("reported"), QStringLiteral("tried"), QStringLiteral("completed"),
                 QStringLiteral("exact"), QStringLiteral("reported"), QStringLiteral("boxes")});
    for (const FaultRow &r : rows)
        out << line(r.kind.name, r.kind.rate,
                    {QString::number(r.downloads.size()), QString::number(r.downloadsCompleted()),
                     QString::number(r.downloadsIdentical()), QString::number(r.downloadsReported()),
                     QString::number(r.starts.size()), QString::number(r.startsCompleted()),
                     QString::number(r.startsExact()), QString::number(r.startsReported()),
                     QString::number(r.errorBoxes())});
    return out;
}
