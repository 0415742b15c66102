// The window against a logger whose registers hold extremes and garbage: it keeps
// refreshing, shows nothing it cannot know, and downloads files that hold the memory.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"
#include "periods.h"
#include "records.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

const QString deg = QString::fromUtf8("\u00B0C");
const QDateTime campaignStart(QDate(2014, 11, 26), QTime(16, 52, 0), Qt::UTC);
const char *const statusLabels[] = {"type",     "version",  "sn_lab",       "period_lab", "start_label",
                                    "time_lab", "data_lab", "free_mem_lab", "pile_lab",   "real_txt"};
const QByteArray noBcd = bytes({0x14, 0x11, 0x1A, 0x16, 0x52, 0x00});   // day 1A would decode to 20
const QByteArray noDate = bytes({0x14, 0x13, 0x26, 0x16, 0x52, 0x00});  // month 13

using Patch = QList<QPair<quint32, QByteArray>>;   // register writes: address, bytes
using Labels = QStringList;                        // "name=text"

sim::LoggerConfig baseLogger(int type, quint32 usedBytes = 1200, int memoryCode = 2, int periodCode = 7)
{
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.startTime = campaignStart;
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    return config;
}

void applyPatch(sim::PtyLogger &logger, const Patch &patch)
{
    logger.withLogger([&](sim::SimulatedLogger &l) {
        for (const auto &p : patch)
            l.setLiveValue(p.first, p.second);
    });
}

// Labels that do not pretend: no non-numbers, dates that are dates or "-".
void verifyHonest(const LoggerWindow &w)
{
    static const QRegularExpression notANumber(QStringLiteral("nan|inf"), QRegularExpression::CaseInsensitiveOption);
    for (const char *name : statusLabels) {
        const QString text = w.text(name);
        const bool isDate = qstrcmp(name, "start_label") == 0 || qstrcmp(name, "time_lab") == 0;
        const bool bad = text.contains(notANumber)
            || (isDate && text != QLatin1String("-")
                && !QDateTime::fromString(text, QStringLiteral("dd/MM/yy hh:mm:ss")).isValid());
        QVERIFY2(!bad, qPrintable(QStringLiteral("%1 shows \"%2\"").arg(QLatin1String(name), text)));
    }
}

void compareLabels(const LoggerWindow &w, const Labels &expected)
{
    for (const QString &entry : expected) {
        const int equals = entry.indexOf(QLatin1Char('='));
        const QString seen = w.text(entry.left(equals).toLatin1().constData()), want = entry.mid(equals + 1);
        QVERIFY2(seen == want, qPrintable(QStringLiteral("%1: seen \"%2\", expected \"%3\"").arg(entry.left(equals), seen, want)));
    }
}

QByteArray headerFor(const QByteArray &names, const QByteArray &units)
{
    return "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
}

RecordPassParams passParams(sim::SimulatedLogger &l)
{
    RecordPassParams p;
    p.deviceType = l.configRegisters()[0];
    p.recordSize = l.recordSize();
    p.periodSeconds = periodSeconds(l.configRegisters()[0x1A]);
    p.calibrationA = l.config().calibrationA;
    p.calibrationB = l.config().calibrationB;
    p.endAddress = l.usedBytes();
    p.topAddress = l.memoryTop();
    p.memoryWrapped = p.endAddress > p.topAddress;
    return p;
}

// The file from the simulator's memory with every stamp "-".
QByteArray exportWithoutStamps(sim::PtyLogger &logger, const QByteArray &header)
{
    std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams p;
    logger.withLogger([&](sim::SimulatedLogger &l) {
        std::copy(l.memory().begin(), l.memory().begin() + std::min<size_t>(l.memory().size(), image.size()),
                  image.begin());
        p = passParams(l);
    });
    QByteArray out = header;
    bool first = true;
    for (quint32 a = 0; a < p.endAddress; a += p.recordSize) {
        const QByteArray line = writeRecordLine(p, image.data(), a, QDateTime(), first);
        first = first && line.contains("overflow");
        out += line;
    }
    return out;
}

// A tick now rather than in up to a second; the slot sets the timer back to 1000 ms itself.
bool refreshNow(LoggerWindow &w)
{
    w.refreshTimer()->start(0);
    return w.waitForRefreshes(1) && w.comStatus().contains(QLatin1String("COM OK"));
}

bool downloadTo(LoggerWindow &w, const QString &path)
{
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    return download(w, *outcome)
        && outcome->seenText() == QLatin1String("Read Data|<font color=green>Download Complete</font>");
}

int requestsHeard(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
}

void setWrongBlockRate(sim::PtyLogger &logger, double rate)
{
    logger.withLogger([rate](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = rate; });
}

} // namespace

Q_DECLARE_METATYPE(Patch)
Q_DECLARE_METATYPE(sim::LoggerConfig)

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void statusExtremes_data();
    void statusExtremes();
    void liveExtremes_data();
    void liveExtremes();
    void downloadExtremes_data();
    void downloadExtremes();
    void fullCounterDownload();
    void wrongLengthAnswersInRefresh();
    void wrongLengthAnswersInDownload();
};

void tst_BadInput::statusExtremes_data()
{
    QTest::addColumn<sim::LoggerConfig>("config");
    QTest::addColumn<QByteArray>("startBytes");   // empty: the campaign start
    QTest::addColumn<Labels>("expected");

    // Unknown types leave the type and live labels as they were: empty in a new window.
    for (int type : {11, 255})
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(type))) << baseLogger(type) << QByteArray()
            << Labels{"type=", "real_txt=", "data_lab=600", "period_lab=1 min", "time_lab=27/11/14 02:52:00"};
    for (int code : {14, 255})
        QTest::newRow(qPrintable(QStringLiteral("period %1").arg(code))) << baseLogger(1, 1200, 2, code) << QByteArray()
            << Labels{"period_lab=-", "time_lab=-", "start_label=26/11/14 16:52:00", "data_lab=600"};
    const Labels at60000{"data_lab=30000", "time_lab=17/12/14 12:52:00"};
    QTest::newRow("memory 0 is 128 KiB") << baseLogger(1, 60000, 0) << QByteArray() << at60000 + Labels{"free_mem_lab=54%"};
    QTest::newRow("memory 4") << baseLogger(1, 60000, 4) << QByteArray() << at60000 + Labels{"free_mem_lab=77%"};
    QTest::newRow("memory 7") << baseLogger(1, 60000, 7) << QByteArray() << at60000 + Labels{"free_mem_lab=86%"};
    QTest::newRow("used 1") << baseLogger(1, 1) << QByteArray()
                            << Labels{"data_lab=0", "free_mem_lab=99%", "time_lab=26/11/14 16:52:00"};
    QTest::newRow("used odd") << baseLogger(3, 1203) << QByteArray() << Labels{"data_lab=300", "free_mem_lab=99%"};
    QTest::newRow("used 0xFFFFFF") << baseLogger(1, 0xFFFFFF) << QByteArray()
                                   << Labels{"data_lab=8388607", "free_mem_lab=0%", "time_lab=08/11/30 02:58:00"};
    // 8388607 records of 10 min overflow a 32-bit count of seconds: a wrapped sum is no time.
    QTest::newRow("used 0xFFFFFF, 10 min") << baseLogger(1, 0xFFFFFF, 2, 8) << QByteArray()
                                           << Labels{"data_lab=8388607", "time_lab=-"};
    const Labels noTime{"start_label=-", "time_lab=-", "data_lab=600", "period_lab=1 min"};
    QTest::newRow("start no BCD") << baseLogger(1) << noBcd << noTime;
    QTest::newRow("start no date") << baseLogger(1) << noDate << noTime;
}

void tst_BadInput::statusExtremes()
{
    QFETCH(sim::LoggerConfig, config);
    QFETCH(QByteArray, startBytes);
    QFETCH(Labels, expected);
    LoggerWindow w(config);
    if (!startBytes.isEmpty())
        applyPatch(*w.logger, {{0x01000030, startBytes}});
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("sn_lab"), QString("00012345"));
    compareLabels(w, expected);
    verifyHonest(w);
    // Still polling, and showing the same.
    QVERIFY(refreshNow(w));
    compareLabels(w, expected);
}

void tst_BadInput::liveExtremes_data()
{
    QTest::addColumn<sim::LoggerConfig>("config");
    QTest::addColumn<Patch>("patch");
    QTest::addColumn<QString>("text");

    // A battery word of 0 leaves every thermocouple quotient undefined.
    QTest::newRow("type K, battery 0") << baseLogger(6)
                                       << Patch{{0x40, bytes({0xD0, 0x07})}, {0x52, bytes({0xE8, 0x03, 0x00, 0x00})}}
                                       << "T1:-\r\nT2:-\r\nU Bat:-";
    // 80 W; Iraw 100000, Vraw 143750.
    const Patch meter{{0x48, bytes({0x20, 0x03, 0x00, 0x00})}, {0x53, bytes({0xA0, 0x86, 0x01, 0x86, 0x31, 0x02})}};
    sim::LoggerConfig gainB0 = baseLogger(7), gainsFFFF = baseLogger(7);
    gainB0.calibrationA = 0x0100;
    gainB0.calibrationB = 0;
    gainsFFFF.calibrationA = gainsFFFF.calibrationB = 0xFFFF;
    QTest::newRow("wattmeter, calibrationB 0") << gainB0 << meter
                                               << "Active Power:80.0W\r\nVoltage:-\r\nCurrent:-\r\nPower Factor:-";
    QTest::newRow("wattmeter, gains FFFF") << gainsFFFF << meter
                                           << "Active Power:80.0W\r\nVoltage:639.99V\r\nCurrent:0.29A\r\nPower Factor:0.43";
    QTest::newRow("lamp FF") << baseLogger(8)
                             << Patch{{0x40, bytes({0xFF, 0xFF})}, {0x48, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
                                      {0x52, bytes({0xFF, 0xFF})}}
                             << "ON Time:65535 s\r\nTotal ON Time:1193046.5 h\r\nlight: 255Lamp ON";
}

void tst_BadInput::liveExtremes()
{
    QFETCH(sim::LoggerConfig, config);
    QFETCH(Patch, patch);
    QFETCH(QString, text);
    LoggerWindow w(config);
    applyPatch(*w.logger, patch);
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("real_txt"), text);
    verifyHonest(w);
    // A second reading replaces the first, it is not appended to it.
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("real_txt"), text);
}

void tst_BadInput::downloadExtremes_data()
{
    QTest::addColumn<sim::LoggerConfig>("config");
    QTest::addColumn<QByteArray>("startBytes");   // not empty: every stamp is "-"
    QTest::addColumn<QByteArray>("header");

    const QByteArray temp = headerFor("Vantorel Temp", "\xB0" "C");
    QTest::newRow("type 255") << baseLogger(255) << QByteArray() << headerFor("Unknown data type", "?");
    QTest::newRow("period 14") << baseLogger(1, 1200, 2, 14) << QByteArray() << temp;
    for (int code : {0, 4, 7})
        QTest::newRow(qPrintable(QStringLiteral("memory %1, wrapped").arg(code)))
            << baseLogger(1, code == 4 ? 0x40012 : 0x20010, code) << QByteArray() << temp;
    QTest::newRow("used 1") << baseLogger(1, 1) << QByteArray() << temp;
    QTest::newRow("used odd") << baseLogger(1, 1201) << QByteArray() << temp;
    sim::LoggerConfig gainB0 = baseLogger(7);
    gainB0.calibrationA = 0x0100;
    gainB0.calibrationB = 0;
    QTest::newRow("calibrationB 0") << gainB0 << QByteArray() << headerFor("Wattmeter\tV", "Watts\tVolts");
    QTest::newRow("start no BCD") << baseLogger(1) << noBcd << temp;
    QTest::newRow("start no date") << baseLogger(1) << noDate << temp;
}

void tst_BadInput::downloadExtremes()
{
    QFETCH(sim::LoggerConfig, config);
    QFETCH(QByteArray, startBytes);
    QFETCH(QByteArray, header);
    LoggerWindow w(config);
    if (!startBytes.isEmpty())
        applyPatch(*w.logger, {{0x01000030, startBytes}});
    QVERIFY(refreshNow(w));
    const QString path = w.dir.filePath("campaign.tsv");
    QVERIFY(downloadTo(w, path));
    QCOMPARE(readFile(path), startBytes.isEmpty() ? expectedExport(*w.logger, header)
                                                  : exportWithoutStamps(*w.logger, header));
    QVERIFY(refreshNow(w));
}

void tst_BadInput::fullCounterDownload()
{
    // The 24-bit counter at its top: 8388608 lines, all but the last 65534 lost to the
    // wrap (two records of margin at 60 s). Streamed: the whole file is too big to build.
    LoggerWindow w(baseLogger(2, 0xFFFFFF));
    QVERIFY(refreshNow(w));
    const QString path = w.dir.filePath("full.tsv");
    QVERIFY(downloadTo(w, path));
    QCOMPARE(blockReads(*w.logger), 2048);

    std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams p;
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        std::copy(l.memory().begin(), l.memory().end(), image.begin());
        p = passParams(l);
    });
    const qint64 lost = 8388608 - 65534;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray header = headerFor("Vantorel Impulse", "Pulses");
    QCOMPARE(file.read(header.size()), header);
    char buffer[256];
    qint64 n = 0;
    for (qint64 length; (length = file.readLine(buffer, sizeof buffer)) > 0; ++n) {
        const QByteArrayView line(buffer, length);
        const QDateTime stamp = campaignStart.addSecs(n * 60);
        if (n < lost) {
            // Stamps step by the period all the way; a sample is enough to see a drift.
            const bool sampled = n % 4093 == 0 || n == lost - 1;
            if (!line.endsWith("\toverflow\t\r\n")
                || (sampled && !line.startsWith(stamp.toString("dd/MM/yyyy hh:mm:ss").toLatin1() + '\t')))
                QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(n).arg(QLatin1String(line))));
            continue;
        }
        const QByteArray want = writeRecordLine(p, image.data(), quint32(n * 2), stamp, n == lost);
        if (line != want)
            QFAIL(qPrintable(QStringLiteral("line %1: seen \"%2\", expected \"%3\"")
                                 .arg(n).arg(QLatin1String(line), QString::fromLatin1(want))));
    }
    QCOMPARE(n, qint64(8388608));
}

void tst_BadInput::wrongLengthAnswersInRefresh()
{
    LoggerWindow w(baseLogger(3));
    QVERIFY(refreshNow(w));
    // Every answer a block short or long: none may be taken for the one asked for.
    setWrongBlockRate(*w.logger, 1.0);
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }));
    const int heard = requestsHeard(*w.logger);
    QVERIFY(waitFor([&] { return requestsHeard(*w.logger) > heard + 30; }));
    QVERIFY(w.comStatus().contains("NO COM"));
    for (const char *name : statusLabels)
        if (qstrcmp(name, "sn_lab") != 0)
            QVERIFY2(w.text(name).isEmpty(), name);
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());

    setWrongBlockRate(*w.logger, 0);
    QVERIFY(w.waitForRefresh());
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("data_lab"), QString("300"));
}

void tst_BadInput::wrongLengthAnswersInDownload()
{
    LoggerWindow w(baseLogger(3, 40000));
    QVERIFY(refreshNow(w));
    const QString path = w.dir.filePath("campaign.tsv");
    // One answer in five wrong once the download runs; the user answers OK to any retry box.
    ModalAnswerer garble(progressDialog(), [&](QWidget *) { setWrongBlockRate(*w.logger, 0.2); });
    QTimer retry;
    retry.callOnTimeout([] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->isVisible() && box->windowTitle() == QLatin1String("Error COM") && box->button(QMessageBox::Ok))
            box->button(QMessageBox::Ok)->click();
    });
    retry.start(10);
    QVERIFY(downloadTo(w, path));
    QVERIFY(garble.done());
    setWrongBlockRate(*w.logger, 0);
    QCOMPARE(readFile(path), expectedExport(*w.logger, headerFor("Vantorel Temp\tHumidity", "\xB0" "C\t%RH")));
}

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
