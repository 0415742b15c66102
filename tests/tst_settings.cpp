// Bad settings and bad places for files: the window keeps working, says what is wrong
// where it matters, and never loses a file it did not mean to replace.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"
#include "manageserialport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <sys/mount.h>

namespace {

const QByteArray earlier = "the user's earlier file\r\n";
const QByteArray hygroHeader = "Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n";
const QString complete = QStringLiteral("Read Data|<font color=green>Download Complete</font>");

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

int requestsHeard(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
}

QStringList entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

QString setting(const char *key)
{
    return QSettings("config.ini", QSettings::IniFormat).value(key).toString();
}

// A tick now rather than in up to a second; the slot sets the timer back itself.
bool refreshNow(LoggerWindow &w)
{
    w.refreshTimer()->start(0);
    return w.waitForRefreshes(1) && w.comStatus().contains(QLatin1String("COM OK"));
}

// Presses "Read Data", saves to `path` and gives the outcome box's text.
QString downloadTo(LoggerWindow &w, const QString &path, QString *proposed = nullptr)
{
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    const bool ended = download(w, *outcome);
    if (proposed)
        *proposed = save.proposed;
    return ended ? outcome->seenText() : QStringLiteral("no outcome");
}

// 300 temperature and humidity records, clock stopped.
sim::LoggerConfig quietLogger() { return frozenLogger(3, 1200); }

// In 64 bits: QRect's own arithmetic wraps for a rectangle at INT_MIN.
bool overlaps(const QRect &a, const QRect &b)
{
    const auto spans = [](qint64 from1, qint64 length1, qint64 from2, qint64 length2) {
        return from1 < from2 + length2 && from2 < from1 + length1;
    };
    return spans(a.x(), a.width(), b.x(), b.width()) && spans(a.y(), a.height(), b.y(), b.height());
}

// A window whose settings name no logger (`prepare` writes them): it says `complaint`,
// polls nothing until the user opens the logger's port in the connection dialog shown at
// start-up, then finds the logger and keeps that port. `check` runs in the scratch directory.
void startsOnConnectionDialog(const std::function<void(ScratchDirectory &)> &prepare, const char *complaint,
                              const std::function<void()> &check)
{
    ScratchDirectory dir;
    auto logger = startLogger(dir.path(), quietLogger());
    // The port list of the connection dialog offers the simulated logger.
    qputenv("VANTOREL_EXTRA_PORTS", logger->linkPath().toLocal8Bit());
    const auto unset = qScopeGuard([] { qunsetenv("VANTOREL_EXTRA_PORTS"); });
    prepare(dir);
    DebugCapture debug;
    {
        MainWindow window;
        window.show();
        QVERIFY(debug.contains(complaint));
        QWidget *dialog = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("connection"))
                dialog = w;
        QVERIFY(dialog && dialog->isVisible());
        auto *timer = window.findChild<QTimer *>(QStringLiteral("timer"));
        QVERIFY(!timer->isActive());
        QTest::qWait(1100);
        QCOMPARE(requestsHeard(*logger), 0);

        auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("comboBox"));
        const int index = combo->findText(logger->linkPath());
        QVERIFY(index >= 0);
        combo->setCurrentIndex(index);
        QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("opencom")), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QVERIFY(timer->isActive());
        auto *status = window.findChild<QLabel *>(QStringLiteral("comStatus"));
        QVERIFY(waitFor([&] { return status->text().contains(QLatin1String("COM OK")); }));
    }
    if (QFileInfo("config.ini").isFile())
        QCOMPARE(setting("COM/COM_PORT"), logger->linkPath());
    check();
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void configMissing();
    void configIsDirectory();
    void portNamingNothing_data();
    void portNamingNothing();
    void timeoutBase_data();
    void timeoutBase();
    void lateAnswersKeepWorking_data();
    void lateAnswersKeepWorking();
    void largestTimeoutBase();
    void extremePositions_data();
    void extremePositions();
    void exportDirectorySetting_data();
    void exportDirectorySetting();
    void unwritableTarget();
    void fullDisk_data();
    void fullDisk();
    void nonAsciiName();
};

void tst_Settings::configMissing()
{
    startsOnConnectionDialog([](ScratchDirectory &) {}, "No value on the configuration file",
                             [] { QVERIFY(QFileInfo("config.ini").isFile()); });
}

void tst_Settings::configIsDirectory()
{
    startsOnConnectionDialog([](ScratchDirectory &dir) {
        QVERIFY(QDir().mkdir(dir.filePath("config.ini")));
        QVERIFY(writeFile(dir.filePath("config.ini/kept"), earlier));
    }, "No value on the configuration file", [] {
        // Nothing written over or into it.
        QVERIFY(QFileInfo("config.ini").isDir());
        QCOMPARE(readFile("config.ini/kept"), earlier);
    });
}

void tst_Settings::portNamingNothing_data()
{
    QTest::addColumn<QString>("port");   // "%1": the scratch directory
    QTest::newRow("empty name") << "";
    QTest::newRow("missing device") << "/nonexistent/ttyVT0";
    QTest::newRow("a regular file") << "%1/plain";
}

void tst_Settings::portNamingNothing()
{
    QFETCH(QString, port);
    startsOnConnectionDialog([&](ScratchDirectory &dir) {
        QVERIFY(writeFile(dir.filePath("plain"), earlier));
        dir.writeConfig("[COM]\nCOM_PORT=" + QString(port).replace("%1", dir.path()).toLocal8Bit() + "\n");
    }, "port not open", [] {
        // Trying it as a port changed nothing in it.
        QCOMPARE(readFile("plain"), earlier);
        QVERIFY(QFileInfo("config.ini").isFile());
    });
}

void tst_Settings::timeoutBase_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<int>("expected");
    QTest::newRow("text") << QByteArray("abc") << 0;
    QTest::newRow("negative") << QByteArray("-5") << 0;
    QTest::newRow("past int") << QByteArray("99999999999") << 0;
    QTest::newRow("large") << QByteArray("1000000") << 10000;
}

void tst_Settings::timeoutBase()
{
    QFETCH(QByteArray, base);
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[COM_TIMEOUT]\nBASE=" + base + "\n");
    auto *port = w.window->findChild<ManageSerialPort *>(QStringLiteral("portManager"));
    QVERIFY(port && port->isOpen());
    QTEST(port->timeoutBase(), "expected");
    QCOMPARE(port->timeoutCoeffOver4(), 2);
}

void tst_Settings::lateAnswersKeepWorking_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<int>("latencyUs");
    // Text is 0 ms, so every answer comes too late.
    QTest::newRow("base text") << QByteArray("abc") << 0;
    // 80 ms against the 75 ms of a one-block read.
    QTest::newRow("answers just after the time-out") << QByteArray("100") << 80000;
}

void tst_Settings::lateAnswersKeepWorking()
{
    QFETCH(QByteArray, base);
    QFETCH(int, latencyUs);
    sim::LineConfig line;
    line.answerLatencyUs = latencyUs;
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[COM_TIMEOUT]\nBASE=" + base + "\n", line);

    // A late answer must not be taken for the next request's: whatever is shown is
    // nothing or the logger's own values, never those of another register.
    const QList<QPair<const char *, QString>> truth{
        {"type", "Temp/Hygro"}, {"version", "v12"},     {"period_lab", "1 min"},   {"start_label", "26/11/26 16:52:00"},
        {"data_lab", "300"},    {"free_mem_lab", "99%"}, {"time_lab", "26/11/26 21:52:00"}, {"pile_lab", ""}};
    QString untrue;
    bool noCom = false;
    const int heard = requestsHeard(*w.logger);
    QVERIFY(waitFor([&] {
        for (const auto &label : truth) {
            const QString text = w.text(label.first);
            if (!text.isEmpty() && text != label.second && untrue.isEmpty())
                untrue = QStringLiteral("%1 showed \"%2\"").arg(QLatin1String(label.first), text);
        }
        noCom = noCom || w.comStatus().contains("NO COM");
        return requestsHeard(*w.logger) > heard + 40;
    }, 30000));
    QVERIFY2(untrue.isEmpty(), qPrintable(untrue));
    // A 0 ms time-out may still catch an answer that is already there; a late one never.
    QVERIFY(noCom || latencyUs == 0);
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());
}

void tst_Settings::largestTimeoutBase()
{
    // A logger that answers at once needs no time-out; a huge base must not turn into none.
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[COM_TIMEOUT]\nBASE=2147483647\n");
    QVERIFY(refreshNow(w));
    const QString path = w.dir.filePath("campaign.tsv");
    ModalAnswerer giveUp(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel), 120000);
    QCOMPARE(downloadTo(w, path), complete);
    QVERIFY2(!giveUp.done(), "the 64-byte reads failed");
    QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
}

void tst_Settings::extremePositions_data()
{
    QTest::addColumn<QByteArray>("value");   // for x and y of both dialogs
    QTest::newRow("largest") << QByteArray("2147483647");
    QTest::newRow("smallest") << QByteArray("-2147483648");
}

void tst_Settings::extremePositions()
{
    QFETCH(QByteArray, value);
    QByteArray ini = "[WINDOW_POS]\n";
    for (const char *key : {"COM_CONFIG_WIN_X", "COM_CONFIG_WIN_Y", "START_WIN_X", "START_WIN_Y"})
        ini += QByteArray(key) + "=" + value + "\n";
    LoggerWindow w(quietLogger(), sim::FaultConfig(), ini);
    QVERIFY(refreshNow(w));
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    for (const char *name : {"connection", "start"}) {
        if (qstrcmp(name, "connection") == 0)
            w.window->findChild<QAction *>(QStringLiteral("actionConnection"))->trigger();
        else
            QTest::mouseClick(w.window->findChild<QPushButton *>(QStringLiteral("startButton")), Qt::LeftButton);
        QWidget *shown = nullptr;
        QVERIFY(waitFor([&] { return (shown = w.dialog(name)) && shown->isVisible(); }));
        const QRect frame = shown->frameGeometry();
        QVERIFY2(overlaps(desktop, frame), qPrintable(QStringLiteral("%1 at (%2, %3), off the desktop")
                                                            .arg(QLatin1String(name)).arg(frame.x()).arg(frame.y())));
        QTest::keyClick(shown, Qt::Key_Escape);
        QVERIFY(waitFor([&] { return w.refreshTimer()->isActive() && w.central()->isEnabled(); }));
    }
}

void tst_Settings::exportDirectorySetting_data()
{
    QTest::addColumn<QString>("directory");   // under the scratch directory
    QTest::newRow("a regular file") << "plain";
    QTest::newRow("a missing directory") << "gone/deeper";
}

void tst_Settings::exportDirectorySetting()
{
    QFETCH(QString, directory);
    LoggerWindow w(quietLogger());
    QVERIFY(writeFile(w.dir.filePath("plain"), earlier));
    QSettings("config.ini", QSettings::IniFormat).setValue("VT_DATA/DIR", w.dir.filePath(directory));
    QVERIFY(QDir().mkdir(w.dir.filePath("chosen")));
    QVERIFY(refreshNow(w));
    Clock::setSource([] { return QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3)); });

    const QString path = w.dir.filePath("chosen/campaign.tsv");
    QString proposed;
    QCOMPARE(downloadTo(w, path, &proposed), complete);
    QVERIFY2(proposed.endsWith("/00012345_051214_090703.tsv"), qPrintable(proposed));
    QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
    QCOMPARE(setting("VT_DATA/DIR"), QDir(w.dir.filePath("chosen")).absolutePath());
    QCOMPARE(readFile(w.dir.filePath("plain")), earlier);
    QVERIFY(!QFile::exists(w.dir.filePath("gone")));
}

void tst_Settings::unwritableTarget()
{
    // A directory that is a regular file cannot be written into, not even by root.
    LoggerWindow w(quietLogger());
    const QString plain = w.dir.filePath("plain"), path = plain + "/campaign.tsv";
    QVERIFY(writeFile(plain, earlier));
    QVERIFY(refreshNow(w));
    ModalAnswerer cannotOpen(messageBoxTitled("Cannot open file"), clickButton(QMessageBox::Cancel));
    const QString outcome = downloadTo(w, path);
    QVERIFY2(outcome.startsWith("Read Data|") && !outcome.contains("Complete"), qPrintable(outcome));
    QCOMPARE(cannotOpen.seenText(), "Cannot open file|File " + path + " cannot be opened, retry ?");
    QCOMPARE(readFile(plain), earlier);
}

void tst_Settings::fullDisk_data()
{
    QTest::addColumn<bool>("existing");
    QTest::newRow("replacing a file") << true;
    QTest::newRow("new file") << false;
}

void tst_Settings::fullDisk()
{
    QFETCH(bool, existing);
    // 32764 records of about 31 bytes: some 1 MB for 64 KiB of room.
    LoggerWindow w(frozenLogger(3, 0x1FFF0));
    const QString directory = w.dir.filePath("small"), path = directory + "/campaign.tsv";
    // A small tmpfs of our own, when the test may mount one (root in CI).
    QVERIFY(QDir().mkpath(directory));
    const QByteArray where = QFile::encodeName(directory);
    if (::mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("this user cannot mount a tmpfs: no full disk to write to");
    const auto unmount = qScopeGuard([&] { ::umount2(where.constData(), MNT_DETACH); });
    if (existing)
        QVERIFY(writeFile(path, earlier));
    QVERIFY(refreshNow(w));

    const QString outcome = downloadTo(w, path);
    QVERIFY2(!outcome.contains("Complete") && outcome.contains(path), qPrintable(outcome));
    // The old file intact, no partial file left.
    QCOMPARE(entries(directory), existing ? QStringList("campaign.tsv") : QStringList());
    if (existing)
        QCOMPARE(readFile(path), earlier);
    QVERIFY(refreshNow(w));
}

void tst_Settings::nonAsciiName()
{
    LoggerWindow w(quietLogger());
    const QString folder = QString::fromUtf8("données été ü 日本");
    const QString name = QString::fromUtf8("relevé über 日本 1.tsv");
    QVERIFY(QDir(w.dir.path()).mkdir(folder));
    const QString directory = QDir(w.dir.filePath(folder)).absolutePath();
    QVERIFY(refreshNow(w));
    QCOMPARE(downloadTo(w, directory + "/" + name), complete);
    QCOMPARE(readFile(directory + "/" + name), expectedExport(*w.logger, hygroHeader));
    // Qt 6 names files in UTF-8 whatever the locale: exactly that name, nothing else there.
    QCOMPARE(entries(directory), QStringList(name));
    QCOMPARE(setting("VT_DATA/DIR"), directory);
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
