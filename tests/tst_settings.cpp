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
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

const QByteArray earlier = "the user's earlier file\r\n";

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QWidget *topLevel(const char *objectName)
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(objectName))
            return w;
    return nullptr;
}

int requestsHeard(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
}

QStringList entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

ManageSerialPort *portManagerOf(const LoggerWindow &w)
{
    return w.window->findChild<ManageSerialPort *>(QStringLiteral("portManager"));
}

bool refreshNow(LoggerWindow &w)
{
    // A tick now rather than in up to a second; the slot sets the timer back itself.
    w.refreshTimer()->start(0);
    return w.waitForRefreshes(1) && w.comStatus().contains(QLatin1String("COM OK"));
}

// A small tmpfs of our own, when the test may mount one (root in CI).
class SmallDisk
{
public:
    explicit SmallDisk(const QString &path, const char *size = "size=64k") : where(QFile::encodeName(path)), options(size)
    {
        QDir().mkpath(path);
        mounted = ::mount("tmpfs", where.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(where.constData(), MNT_DETACH);
    }
    bool isMounted() const { return mounted; }
    bool setReadOnly(bool readOnly)
    {
        const unsigned long flags = MS_REMOUNT | (readOnly ? MS_RDONLY : 0);
        return ::mount("tmpfs", where.constData(), "tmpfs", flags, options.constData()) == 0;
    }

private:
    QByteArray where, options;
    bool mounted = false;
};

// The port list of the connection dialog offers the simulated logger.
class ExtraPort
{
public:
    explicit ExtraPort(const QString &path) { qputenv("VANTOREL_EXTRA_PORTS", path.toLocal8Bit()); }
    ~ExtraPort() { qunsetenv("VANTOREL_EXTRA_PORTS"); }
};

// In 64 bits: QRect's own arithmetic wraps for a rectangle at INT_MIN.
bool overlaps(const QRect &a, const QRect &b)
{
    const auto spans = [](qint64 from1, qint64 length1, qint64 from2, qint64 length2) {
        return from1 < from2 + length2 && from2 < from1 + length1;
    };
    return spans(a.x(), a.width(), b.x(), b.width()) && spans(a.y(), a.height(), b.y(), b.height());
}

// 300 temperature and humidity records, clock stopped.
sim::LoggerConfig quietLogger()
{
    return frozenLogger(3, 1200);
}

const QByteArray hygroHeader = "Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n";

// The connection dialog shown at start-up: nothing polls until the user opens a port
// there, then the window finds the logger.
void openFromConnectionDialog(MainWindow &window, sim::PtyLogger &logger)
{
    QWidget *dialog = topLevel("connection");
    QVERIFY(dialog && dialog->isVisible());
    auto *timer = window.findChild<QTimer *>(QStringLiteral("timer"));
    QVERIFY(!timer->isActive());
    QTest::qWait(1100);
    QCOMPARE(requestsHeard(logger), 0);

    auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("comboBox"));
    const int index = combo->findText(logger.linkPath());
    QVERIFY(index >= 0);
    combo->setCurrentIndex(index);
    QTest::mouseClick(dialog->findChild<QPushButton *>(QStringLiteral("opencom")), Qt::LeftButton);
    QVERIFY(!dialog->isVisible());
    QVERIFY(timer->isActive());
    auto *status = window.findChild<QLabel *>(QStringLiteral("comStatus"));
    QVERIFY(waitFor([&] { return status->text().contains(QLatin1String("COM OK")); }));
}

} // namespace

class tst_Settings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void noUsableSettings_data();
    void noUsableSettings();
    void portNamingNothing_data();
    void portNamingNothing();
    void timeoutKeys_data();
    void timeoutKeys();
    void lateAnswersKeepWorking_data();
    void lateAnswersKeepWorking();
    void largestTimeoutBase();
    void extremePositions_data();
    void extremePositions();
    void exportDirectorySetting_data();
    void exportDirectorySetting();
    void unwritableTarget_data();
    void unwritableTarget();
    void fullDisk_data();
    void fullDisk();
    void nonAsciiName();
};

void tst_Settings::noUsableSettings_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"missing", "a directory", "unreadable", "empty", "binary"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void tst_Settings::noUsableSettings()
{
    QFETCH(QString, kind);
    ScratchDirectory dir;
    auto logger = startLogger(dir.path(), quietLogger());
    ExtraPort port(logger->linkPath());
    const QString ini = dir.filePath("config.ini");
    const QByteArray readable = "[COM]\nCOM_PORT=" + logger->linkPath().toLocal8Bit() + "\n";
    if (kind == "a directory") {
        QVERIFY(QDir().mkdir(ini));
        QVERIFY(writeFile(ini + "/kept", earlier));
    } else if (kind == "unreadable") {
        QVERIFY(writeFile(ini, readable));
        QVERIFY(::chmod(QFile::encodeName(ini).constData(), 0) == 0);
        if (QFile(ini).open(QIODevice::ReadOnly))
            QSKIP("permissions do not stop this user's reads (root): an unreadable file cannot be made");
    } else if (kind == "empty") {
        QVERIFY(writeFile(ini, QByteArray()));
    } else if (kind == "binary") {
        static const char garbage[] = "\x00\xFF[\x01\x02=\x80\n\xC3(\n=\n\n\x7F";
        QVERIFY(writeFile(ini, QByteArray(garbage, sizeof garbage - 1)));
    }

    DebugCapture debug;
    {
        MainWindow window;
        window.show();
        QVERIFY(debug.contains("No value on the configuration file"));
        openFromConnectionDialog(window, *logger);
        if (QTest::currentTestFailed())
            return;
    }
    if (kind == "a directory") {
        QVERIFY(QFileInfo(ini).isDir());
        QCOMPARE(readFile(ini + "/kept"), earlier);
    } else if (kind == "unreadable") {
        ::chmod(QFile::encodeName(ini).constData(), 0600);
        QCOMPARE(readFile(ini), readable);
    } else {
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value("COM/COM_PORT").toString(), logger->linkPath());
    }
}

void tst_Settings::portNamingNothing_data()
{
    QTest::addColumn<QString>("port");   // "%1": the scratch directory
    QTest::newRow("empty name") << "";
    QTest::newRow("missing device") << "/nonexistent/ttyVT0";
    QTest::newRow("a regular file") << "%1/plain";
    QTest::newRow("a directory") << "%1";
}

void tst_Settings::portNamingNothing()
{
    QFETCH(QString, port);
    ScratchDirectory dir;
    auto logger = startLogger(dir.path(), quietLogger());
    ExtraPort extra(logger->linkPath());
    QVERIFY(writeFile(dir.filePath("plain"), earlier));
    const QString name = port.contains("%1") ? port.arg(dir.path()) : port;
    dir.writeConfig("[COM]\nCOM_PORT=" + name.toLocal8Bit() + "\n");

    DebugCapture debug;
    {
        MainWindow window;
        window.show();
        QVERIFY(debug.contains("port not open"));
        openFromConnectionDialog(window, *logger);
        if (QTest::currentTestFailed())
            return;
    }
    // Trying it as a port changed nothing in it.
    QCOMPARE(readFile(dir.filePath("plain")), earlier);
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("COM/COM_PORT").toString(), logger->linkPath());
}

void tst_Settings::timeoutKeys_data()
{
    QTest::addColumn<QByteArray>("keys");
    QTest::addColumn<int>("base");
    QTest::addColumn<int>("coefficient");
    QTest::newRow("base alone") << QByteArray("BASE=77") << 77 << 2;
    QTest::newRow("coefficient alone") << QByteArray("COEFF_OVER_4=5") << 30 << 5;
    QTest::newRow("both") << QByteArray("BASE=45\nCOEFF_OVER_4=7") << 45 << 7;
    QTest::newRow("base text") << QByteArray("BASE=abc") << 0 << 2;
    QTest::newRow("base negative") << QByteArray("BASE=-5") << 0 << 2;
    QTest::newRow("base past int") << QByteArray("BASE=99999999999") << 0 << 2;
    QTest::newRow("base number then text") << QByteArray("BASE=12ms") << 0 << 2;
    QTest::newRow("base empty") << QByteArray("BASE=") << 0 << 2;
    QTest::newRow("base large") << QByteArray("BASE=1000000") << 10000 << 2;
    QTest::newRow("coefficient text") << QByteArray("COEFF_OVER_4=abc") << 30 << 0;
}

void tst_Settings::timeoutKeys()
{
    QFETCH(QByteArray, keys);
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[COM_TIMEOUT]\n" + keys + "\n");
    ManageSerialPort *port = portManagerOf(w);
    QVERIFY(port && port->isOpen());
    QTEST(port->timeoutBase(), "base");
    QTEST(port->timeoutCoeffOver4(), "coefficient");
}

void tst_Settings::lateAnswersKeepWorking_data()
{
    QTest::addColumn<QByteArray>("base");
    QTest::addColumn<int>("latencyUs");
    // Text or a negative number: 0 ms, so every answer comes too late.
    QTest::newRow("base text") << QByteArray("abc") << 0;
    QTest::newRow("base negative") << QByteArray("-5") << 0;
    QTest::newRow("base past int") << QByteArray("99999999999") << 0;
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
    const auto look = [&] {
        for (const auto &label : truth) {
            const QString text = w.text(label.first);
            if (!text.isEmpty() && text != label.second && untrue.isEmpty())
                untrue = QStringLiteral("%1 showed \"%2\"").arg(QLatin1String(label.first), text);
        }
        noCom = noCom || w.comStatus().contains("NO COM");
    };
    const int heard = requestsHeard(*w.logger);
    QVERIFY(waitFor([&] {
        look();
        return requestsHeard(*w.logger) > heard + 40;
    }, 30000));
    QVERIFY2(untrue.isEmpty(), qPrintable(untrue));
    // A 0 ms time-out may still catch an answer that is already there; a late one never.
    if (latencyUs > 0)
        QVERIFY(noCom);
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());

    // Still in the user's hands: the menu opens the connection dialog, Escape closes it.
    w.window->findChild<QAction *>(QStringLiteral("actionConnection"))->trigger();
    QWidget *dialog = w.dialog("connection");
    QVERIFY(waitFor([&] { return dialog && dialog->isVisible(); }));
    QTest::keyClick(dialog, Qt::Key_Escape);
    QVERIFY(!dialog->isVisible());
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());
    if (latencyUs > 0)
        QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }));
}

void tst_Settings::largestTimeoutBase()
{
    // A logger that answers at once needs no time-out; a huge base must not turn into none.
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[COM_TIMEOUT]\nBASE=2147483647\n");
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("data_lab"), QString("300"));
    const QString path = w.dir.filePath("campaign.tsv");
    SaveDialogAnswer save(path);
    ModalAnswerer giveUp(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel), 120000);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY2(!giveUp.done(), "the 64-byte reads failed");
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
}

void tst_Settings::extremePositions_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::addColumn<QByteArray>("x");
    QTest::addColumn<QByteArray>("y");
    QTest::addColumn<QPoint>("restored");   // (-1, -1): anywhere on the desktop
    const QPoint anywhere(-1, -1);
    for (const char *dialog : {"connection", "start"}) {
        const QString d = QString::fromLatin1(dialog);
        const QString prefix = d + ": ";
        QTest::newRow(qPrintable(prefix + "largest x")) << d << QByteArray("2147483647") << QByteArray("10") << anywhere;
        QTest::newRow(qPrintable(prefix + "smallest x")) << d << QByteArray("-2147483648") << QByteArray("10") << anywhere;
        QTest::newRow(qPrintable(prefix + "largest y")) << d << QByteArray("10") << QByteArray("2147483647") << anywhere;
        QTest::newRow(qPrintable(prefix + "smallest y")) << d << QByteArray("10") << QByteArray("-2147483648") << anywhere;
        QTest::newRow(qPrintable(prefix + "slightly left")) << d << QByteArray("-50") << QByteArray("10") << QPoint(-50, 10);
        QTest::newRow(qPrintable(prefix + "text")) << d << QByteArray("abc") << QByteArray("abc") << QPoint(0, 0);
        QTest::newRow(qPrintable(prefix + "past int")) << d << QByteArray("99999999999") << QByteArray("20") << QPoint(0, 20);
    }
}

void tst_Settings::extremePositions()
{
    QFETCH(QString, dialog);
    QFETCH(QByteArray, x);
    QFETCH(QByteArray, y);
    QFETCH(QPoint, restored);
    const QByteArray key = dialog == "connection" ? "COM_CONFIG_WIN" : "START_WIN";
    LoggerWindow w(quietLogger(), sim::FaultConfig(), "[WINDOW_POS]\n" + key + "_X=" + x + "\n" + key + "_Y=" + y + "\n");
    QVERIFY(refreshNow(w));
    if (dialog == "connection")
        w.window->findChild<QAction *>(QStringLiteral("actionConnection"))->trigger();
    else
        QTest::mouseClick(w.window->findChild<QPushButton *>(QStringLiteral("startButton")), Qt::LeftButton);
    QWidget *shown = nullptr;
    QVERIFY(waitFor([&] {
        shown = w.dialog(dialog.toLatin1().constData());
        return shown && shown->isVisible();
    }));
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    const QRect frame = shown->frameGeometry();
    if (restored == QPoint(-1, -1))
        QVERIFY2(overlaps(desktop, frame), qPrintable(QStringLiteral("%1 at (%2, %3), off the %4 x %5 desktop")
                                                            .arg(dialog)
                                                            .arg(frame.x())
                                                            .arg(frame.y())
                                                            .arg(desktop.width())
                                                            .arg(desktop.height())));
    else
        QCOMPARE(shown->pos(), restored);
    QTest::keyClick(shown, Qt::Key_Escape);
    QVERIFY(!shown->isVisible());
    QVERIFY(waitFor([&] { return w.refreshTimer()->isActive() && w.central()->isEnabled(); }));
}

void tst_Settings::exportDirectorySetting_data()
{
    QTest::addColumn<QString>("directory");   // "%1": the scratch directory
    QTest::newRow("a regular file") << "%1/plain";
    QTest::newRow("a missing directory") << "%1/gone/deeper";
    QTest::newRow("a missing relative directory") << "gone";
    QTest::newRow("empty") << "";
}

void tst_Settings::exportDirectorySetting()
{
    QFETCH(QString, directory);
    LoggerWindow w(quietLogger());
    QVERIFY(writeFile(w.dir.filePath("plain"), earlier));
    const QString setting = directory.contains("%1") ? directory.arg(w.dir.path()) : directory;
    {
        QSettings settings("config.ini", QSettings::IniFormat);
        settings.setValue("VT_DATA/DIR", setting);
    }
    QVERIFY(QDir().mkdir(w.dir.filePath("chosen")));
    QVERIFY(refreshNow(w));
    Clock::setSource([] { return QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3)); });

    const QString path = w.dir.filePath("chosen/campaign.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY2(save.proposed.endsWith("/00012345_051214_090703.tsv"), qPrintable(save.proposed));
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(),
             QDir(w.dir.filePath("chosen")).absolutePath());
    QCOMPARE(readFile(w.dir.filePath("plain")), earlier);
    QVERIFY(!QFile::exists(w.dir.filePath("gone")));
}

void tst_Settings::unwritableTarget_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"under a regular file", "read-only mount", "read-only mount, writable on retry",
                             "read-only permissions"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void tst_Settings::unwritableTarget()
{
    QFETCH(QString, kind);
    LoggerWindow w(quietLogger());
    QVERIFY(writeFile(w.dir.filePath("plain"), earlier));
    std::unique_ptr<SmallDisk> disk;
    QString directory = w.dir.filePath("target");
    bool existing = false;
    if (kind == "under a regular file") {
        directory = w.dir.filePath("plain");
    } else if (kind.startsWith("read-only mount")) {
        disk = std::make_unique<SmallDisk>(directory, "size=1m");
        if (!disk->isMounted())
            QSKIP("this user cannot mount a tmpfs: no read-only directory for root");
        QVERIFY(writeFile(directory + "/campaign.tsv", earlier));
        existing = true;
        QVERIFY(disk->setReadOnly(true));
    } else {
        QVERIFY(QDir().mkdir(directory));
        QVERIFY(writeFile(directory + "/campaign.tsv", earlier));
        existing = true;
        QVERIFY(::chmod(QFile::encodeName(directory).constData(), 0555) == 0);
        if (QFile(directory + "/probe").open(QIODevice::WriteOnly)) {
            QFile::remove(directory + "/probe");
            QSKIP("permissions do not stop this user's writes (root): no read-only directory");
        }
    }
    QVERIFY(refreshNow(w));

    const QString path = directory + "/campaign.tsv";
    const bool retry = kind.endsWith("on retry");
    SaveDialogAnswer save(path);
    ModalAnswerer cannotOpen(messageBoxTitled("Cannot open file"), [&](QWidget *box) {
        if (retry)
            disk->setReadOnly(false);
        clickButton(retry ? QMessageBox::Retry : QMessageBox::Cancel)(box);
    });
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(cannotOpen.done());
    QCOMPARE(cannotOpen.seenText(), "Cannot open file|File " + path + " cannot be opened, retry ?");
    if (retry) {
        QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
        QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));
    } else {
        QVERIFY(!outcome->seenText().contains("Complete"));
        if (existing)
            QCOMPARE(readFile(path), earlier);
        else
            QVERIFY(!QFile::exists(path));
    }
    QCOMPARE(readFile(w.dir.filePath("plain")), earlier);
    if (kind != "under a regular file")
        QCOMPARE(entries(directory), QStringList("campaign.tsv"));
    ::chmod(QFile::encodeName(directory).constData(), 0755);
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
    const QString directory = w.dir.filePath("small");
    SmallDisk disk(directory);
    if (!disk.isMounted())
        QSKIP("this user cannot mount a tmpfs: no full disk to write to");
    const QString path = directory + "/campaign.tsv";
    if (existing)
        QVERIFY(writeFile(path, earlier));
    QVERIFY(refreshNow(w));

    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY2(!outcome->seenText().contains("Complete"), qPrintable(outcome->seenText()));
    QVERIFY2(outcome->seenText().contains(path), qPrintable(outcome->seenText()));
    if (existing) {
        QCOMPARE(readFile(path), earlier);
        QCOMPARE(entries(directory), QStringList("campaign.tsv"));
    } else {
        QCOMPARE(entries(directory), QStringList());
    }
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

    const QString path = directory + "/" + name;
    {
        SaveDialogAnswer save(path);
        auto outcome = answerOutcome();
        QVERIFY(download(w, *outcome));
        QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    }
    QCOMPARE(readFile(path), expectedExport(*w.logger, hygroHeader));

    // On disk under exactly those UTF-8 bytes, and nothing else there.
    QList<QByteArray> names;
    if (DIR *d = ::opendir(QFile::encodeName(directory).constData())) {
        while (dirent *e = ::readdir(d))
            if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    }
    QCOMPARE(names, QList<QByteArray>{name.toUtf8()});

    // The setting keeps the folder, and the next save dialog starts there.
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(), directory);
    SaveDialogAnswer again{QString()};
    ModalAnswerer cannotOpen(messageBoxTitled("Cannot open file"), clickButton(QMessageBox::Cancel));
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY2(again.proposed.startsWith(directory + "/"), qPrintable(again.proposed));
}

QTEST_MAIN(tst_Settings)
#include "tst_settings.moc"
