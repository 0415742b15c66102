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
#include <QPointer>
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

// Register writes made before the window's first look: address, bytes.
using Patch = QList<QPair<quint32, QByteArray>>;
// Expected label texts, "name=text".
using Labels = QStringList;

sim::LoggerConfig baseLogger(int type, quint32 usedBytes = 1200)
{
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.startTime = campaignStart;
    config.periodCode = 7;
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
bool honestLabels(const LoggerWindow &w, QString &why)
{
    static const QRegularExpression notANumber(QStringLiteral("nan|inf"), QRegularExpression::CaseInsensitiveOption);
    for (const char *name : statusLabels) {
        const QString text = w.text(name);
        if (text.contains(notANumber)) {
            why = QStringLiteral("%1 shows \"%2\"").arg(QLatin1String(name), text);
            return false;
        }
    }
    for (const char *name : {"start_label", "time_lab"}) {
        const QString text = w.text(name);
        if (text != QLatin1String("-") && !QDateTime::fromString(text, QStringLiteral("dd/MM/yy hh:mm:ss")).isValid()) {
            why = QStringLiteral("%1 shows \"%2\"").arg(QLatin1String(name), text);
            return false;
        }
    }
    return true;
}

void compareLabels(const LoggerWindow &w, const Labels &expected)
{
    for (const QString &entry : expected) {
        const int equals = entry.indexOf(QLatin1Char('='));
        const QByteArray name = entry.left(equals).toLatin1();
        const QString want = entry.mid(equals + 1);
        const QString seen = w.text(name.constData());
        QVERIFY2(seen == want, qPrintable(QStringLiteral("%1: seen \"%2\", expected \"%3\"")
                                              .arg(QString::fromLatin1(name), seen, want)));
    }
}

// Presses a button of every box with that title until stopped, doing `before` first.
class RepeatingAnswerer : public QObject
{
public:
    RepeatingAnswerer(const QString &title, QMessageBox::StandardButton button, std::function<void()> before = {})
        : title(title), button(button), before(std::move(before))
    {
        timer.callOnTimeout([this] { poll(); });
        timer.start(10);
    }
    int count = 0;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box->windowTitle() != title || box == answered)
            return;
        answered = box;
        ++count;
        if (before)
            before();
        if (QAbstractButton *b = box->button(button))
            QTimer::singleShot(0, b, &QAbstractButton::click);
    }
    QString title;
    QMessageBox::StandardButton button;
    std::function<void()> before;
    QTimer timer;
    QPointer<QMessageBox> answered;
};

QByteArray headerFor(const QByteArray &names, const QByteArray &units)
{
    return "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
}

// The file from the simulator's memory with the stamps starting at `start` (invalid: "-").
QByteArray exportWithStart(sim::PtyLogger &logger, const QByteArray &header, const QDateTime &start)
{
    std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams p;
    logger.withLogger([&](sim::SimulatedLogger &l) {
        std::copy(l.memory().begin(), l.memory().begin() + std::min<size_t>(l.memory().size(), image.size()),
                  image.begin());
        p.deviceType = l.configRegisters()[0];
        p.recordSize = l.recordSize();
        p.periodSeconds = periodSeconds(l.configRegisters()[0x1A]);
        p.calibrationA = l.config().calibrationA;
        p.calibrationB = l.config().calibrationB;
        p.endAddress = l.usedBytes();
        p.topAddress = l.memoryTop();
        p.memoryWrapped = p.endAddress > p.topAddress;
    });
    QByteArray out = header;
    bool first = true;
    quint64 n = 0;
    for (quint32 a = 0; a < p.endAddress; a += p.recordSize, ++n) {
        const QDateTime stamp = start.isValid() ? start.addSecs(qint64(n) * p.periodSeconds) : QDateTime();
        const QByteArray line = writeRecordLine(p, image.data(), a, stamp, first);
        if (!line.contains("overflow"))
            first = false;
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

} // namespace

Q_DECLARE_METATYPE(Patch)

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
    void wrongLengthAnswersInDownload_data();
    void wrongLengthAnswersInDownload();
};

void tst_BadInput::statusExtremes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("memoryCode");
    QTest::addColumn<quint32>("usedBytes");
    QTest::addColumn<int>("periodCode");
    QTest::addColumn<QByteArray>("startBytes");   // empty: the campaign start above
    QTest::addColumn<Labels>("expected");

    const QByteArray start;
    // Unknown types leave the type and live labels as they were: empty in a new window.
    for (int type : {0, 11, 255})
        QTest::newRow(qPrintable(QStringLiteral("type %1").arg(type)))
            << type << 2 << 1200u << 7 << start
            << Labels{"type=", "real_txt=", "data_lab=600", "period_lab=1 min", "time_lab=27/11/14 02:52:00"};
    for (int code : {14, 255})
        QTest::newRow(qPrintable(QStringLiteral("period %1").arg(code)))
            << 1 << 2 << 1200u << code << start
            << Labels{"period_lab=-", "time_lab=-", "start_label=26/11/14 16:52:00", "data_lab=600"};

    const Labels fullAt60000{"data_lab=30000", "time_lab=17/12/14 12:52:00"};
    QTest::newRow("memory 0 is 128 KiB") << 1 << 0 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=54%"};
    QTest::newRow("memory 1") << 1 << 1 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=8%"};
    QTest::newRow("memory 1 past its size") << 1 << 1 << 70000u << 7 << start
                                            << Labels{"free_mem_lab=0%", "data_lab=35000", "time_lab=21/12/14 00:12:00"};
    QTest::newRow("memory 3") << 1 << 3 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=69%"};
    QTest::newRow("memory 4") << 1 << 4 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=77%"};
    QTest::newRow("memory 7") << 1 << 7 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=86%"};
    QTest::newRow("memory 255 is 128 KiB") << 1 << 255 << 60000u << 7 << start << fullAt60000 + Labels{"free_mem_lab=54%"};

    QTest::newRow("used 0") << 1 << 2 << 0u << 7 << start
                            << Labels{"data_lab=0", "free_mem_lab=100%", "time_lab=26/11/14 16:52:00"};
    QTest::newRow("used 1") << 1 << 2 << 1u << 7 << start
                            << Labels{"data_lab=0", "free_mem_lab=99%", "time_lab=26/11/14 16:52:00"};
    QTest::newRow("used odd") << 3 << 2 << 1203u << 7 << start << Labels{"data_lab=300", "free_mem_lab=99%"};
    // Just past the memory: wrapped, one period back.
    QTest::newRow("used 0x20000") << 1 << 2 << 0x20000u << 7 << start
                                  << Labels{"data_lab=65536", "free_mem_lab=0%", "time_lab=11/01/15 05:07:00"};
    QTest::newRow("used 0xFFFFFF, 1 min") << 1 << 2 << 0xFFFFFFu << 7 << start
                                          << Labels{"data_lab=8388607", "free_mem_lab=0%", "time_lab=08/11/30 02:58:00"};
    // 8388607 records of 10 min or 1 h overflow a 32-bit count of seconds: a wrapped sum
    // is no time at all.
    QTest::newRow("used 0xFFFFFF, 10 min") << 1 << 2 << 0xFFFFFFu << 8 << start
                                           << Labels{"data_lab=8388607", "time_lab=-"};
    QTest::newRow("used 0xFFFFFF, 1 h") << 1 << 2 << 0xFFFFFFu << 9 << start
                                        << Labels{"data_lab=8388607", "time_lab=-"};

    const Labels noTime{"start_label=-", "time_lab=-", "data_lab=600", "period_lab=1 min"};
    QTest::newRow("start FF") << 1 << 2 << 1200u << 7 << bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}) << noTime;
    QTest::newRow("start AA") << 1 << 2 << 1200u << 7 << bytes({0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}) << noTime;
    QTest::newRow("month 13") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x13, 0x26, 0x16, 0x52, 0x00}) << noTime;
    QTest::newRow("day 32") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x11, 0x32, 0x16, 0x52, 0x00}) << noTime;
    QTest::newRow("hour 25") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x11, 0x26, 0x25, 0x52, 0x00}) << noTime;
    QTest::newRow("second 5A") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x11, 0x26, 0x16, 0x52, 0x5A}) << noTime;
    // Not BCD, yet decoding to a date: 0xFF is year 2165, 0x1A day 20, 0x4A minute 50.
    QTest::newRow("year FF") << 1 << 2 << 1200u << 7 << bytes({0xFF, 0x11, 0x26, 0x16, 0x52, 0x00}) << noTime;
    QTest::newRow("day 1A") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x11, 0x1A, 0x16, 0x52, 0x00}) << noTime;
    QTest::newRow("minute 4A") << 1 << 2 << 1200u << 7 << bytes({0x14, 0x11, 0x26, 0x16, 0x4A, 0x00}) << noTime;
}

void tst_BadInput::statusExtremes()
{
    QFETCH(int, type);
    QFETCH(int, memoryCode);
    QFETCH(quint32, usedBytes);
    QFETCH(int, periodCode);
    QFETCH(QByteArray, startBytes);
    QFETCH(Labels, expected);

    sim::LoggerConfig config = baseLogger(type, usedBytes);
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    LoggerWindow w(config);
    if (!startBytes.isEmpty())
        applyPatch(*w.logger, {{0x01000030, startBytes}});
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("sn_lab"), QString("00012345"));
    compareLabels(w, expected);
    if (QTest::currentTestFailed())
        return;
    QString why;
    QVERIFY2(honestLabels(w, why), qPrintable(why));

    // Still polling once a second, and showing the same.
    QVERIFY(w.refreshTimer()->isActive());
    QCOMPARE(w.refreshTimer()->interval(), 1000);
    QVERIFY(refreshNow(w));
    compareLabels(w, expected);
}

void tst_BadInput::liveExtremes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("calibrationA");
    QTest::addColumn<int>("calibrationB");
    QTest::addColumn<Patch>("patch");
    QTest::addColumn<QString>("text");

    // A battery word of 0 leaves every thermocouple quotient undefined.
    const Patch noBattery{{0x40, bytes({0xD0, 0x07})}, {0x52, bytes({0xE8, 0x03, 0x00, 0x00})}};
    QTest::newRow("type K, u = 0") << 6 << 0 << 0 << noBattery << "T1:-\r\nT2:-\r\nU Bat:-";
    QTest::newRow("type S, u = 0") << 10 << 0 << 0 << noBattery << "T1:-\r\nT2:-\r\nU Bat:-";
    const Patch ffBattery{{0x40, bytes({0xFF, 0xFF})}, {0x52, bytes({0xFF, 0xFF, 0xFF, 0xFF})}};
    QTest::newRow("type K, all FF") << 6 << 0 << 0 << ffBattery
                                    << QString("T1:225.0") + deg + "\r\nT2:225.0" + deg + "\r\nU Bat:0.0";

    // 80 W; Iraw 100000, Vraw 143750.
    const Patch meter{{0x48, bytes({0x20, 0x03, 0x00, 0x00})}, {0x53, bytes({0xA0, 0x86, 0x01, 0x86, 0x31, 0x02})}};
    for (int type : {4, 7, 9}) {
        QTest::newRow(qPrintable(QStringLiteral("wattmeter %1, gain B 0").arg(type)))
            << type << 0x0100 << 0 << meter << "Active Power:80.0W\r\nVoltage:-\r\nCurrent:-\r\nPower Factor:-";
        QTest::newRow(qPrintable(QStringLiteral("wattmeter %1, gains FFFF").arg(type)))
            << type << 0xFFFF << 0xFFFF << meter
            << "Active Power:80.0W\r\nVoltage:639.99V\r\nCurrent:0.29A\r\nPower Factor:0.43";
    }
    // Validity bits set, the largest raw current.
    const Patch meterFF{{0x48, bytes({0xFF, 0xFF, 0xFF, 0xFF})}, {0x53, bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})}};
    QTest::newRow("wattmeter, registers FF") << 4 << 0x0100 << 0x2000 << meterFF
                                             << "Active Power:0.0W\r\nVoltage:0.00V\r\nCurrent:1.43A\r\nPower Factor:0.00";
    QTest::newRow("wattmeter, gains FFFF, registers FF") << 7 << 0xFFFF << 0xFFFF << meterFF
                                                         << "Active Power:0.0W\r\nVoltage:0.00V\r\nCurrent:2.85A\r\nPower Factor:0.00";

    // The offset word is signed: FFFF is -1/256 degree, not +256 degrees.
    const Patch temp256{{0x40, bytes({0x00, 0x01})}};
    QTest::newRow("type 5, offset 0") << 5 << 0 << 0 << temp256 << QString("1.0") + deg;
    QTest::newRow("type 5, offset FFFF") << 5 << 0xFFFF << 0 << temp256 << QString("1.0") + deg;
    QTest::newRow("type 5, offset 8000") << 5 << 0x8000 << 0 << temp256 << QString("-127.0") + deg;
    QTest::newRow("type 5, offset 7FFF, FFFF read") << 5 << 0x7FFF << 0 << Patch{{0x40, bytes({0xFF, 0xFF})}}
                                                    << QString("384.0") + deg;

    QTest::newRow("pulses FFFFFFFF") << 2 << 0 << 0 << Patch{{0x48, bytes({0xFF, 0xFF, 0xFF, 0xFF})}}
                                     << "4294967295 pulses";
    QTest::newRow("temp/hygro extremes") << 3 << 0 << 0
                                         << Patch{{0x40, bytes({0x00, 0x80})}, {0x52, bytes({0xFF, 0x7F})}}
                                         << QString("-367.3") + deg + "\r\n0.0%";
    QTest::newRow("lamp FF") << 8 << 0 << 0
                             << Patch{{0x40, bytes({0xFF, 0xFF})}, {0x48, bytes({0xFF, 0xFF, 0xFF, 0xFF})},
                                      {0x52, bytes({0xFF, 0xFF})}}
                             << "ON Time:65535 s\r\nTotal ON Time:1193046.5 h\r\nlight: 255Lamp ON";
}

void tst_BadInput::liveExtremes()
{
    QFETCH(int, type);
    QFETCH(int, calibrationA);
    QFETCH(int, calibrationB);
    QFETCH(Patch, patch);
    QFETCH(QString, text);

    sim::LoggerConfig config = baseLogger(type);
    config.calibrationA = quint16(calibrationA);
    config.calibrationB = quint16(calibrationB);
    LoggerWindow w(config);
    applyPatch(*w.logger, patch);
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("real_txt"), text);
    QString why;
    QVERIFY2(honestLabels(w, why), qPrintable(why));
    // A second reading replaces the first, it is not appended to it.
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("real_txt"), text);
}

void tst_BadInput::downloadExtremes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("memoryCode");
    QTest::addColumn<quint32>("usedBytes");
    QTest::addColumn<int>("periodCode");
    QTest::addColumn<int>("calibrationA");
    QTest::addColumn<int>("calibrationB");
    QTest::addColumn<QByteArray>("startBytes");   // empty: the configured start
    QTest::addColumn<bool>("stampsKnown");        // false: every stamp is "-"
    QTest::addColumn<QByteArray>("header");

    const QByteArray temp = headerFor("Vantorel Temp", "\xB0" "C");
    const QByteArray unknown = headerFor("Unknown data type", "?");
    const QByteArray start;
    QTest::newRow("type 11") << 11 << 2 << 1200u << 7 << 0 << 0 << start << true << unknown;
    QTest::newRow("type 255") << 255 << 2 << 1200u << 7 << 0 << 0 << start << true << unknown;
    QTest::newRow("period 14") << 1 << 2 << 1200u << 14 << 0 << 0 << start << true << temp;
    QTest::newRow("period 255") << 1 << 2 << 1200u << 255 << 0 << 0 << start << true << temp;
    for (int code : {0, 1, 3, 7, 255})
        QTest::newRow(qPrintable(QStringLiteral("memory %1, wrapped").arg(code)))
            << 1 << code << 0x20010u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("memory 4, past 128 KiB") << 1 << 4 << 0x30000u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("memory 4, wrapped") << 1 << 4 << 0x40012u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("used 0") << 1 << 2 << 0u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("used 1") << 1 << 2 << 1u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("used odd") << 1 << 2 << 1201u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("used odd, 4-byte") << 3 << 2 << 1202u << 7 << 0 << 0 << start << true
                                      << headerFor("Vantorel Temp\tHumidity", "\xB0" "C\t%RH");
    QTest::newRow("used 0x20000") << 1 << 2 << 0x20000u << 7 << 0 << 0 << start << true << temp;
    QTest::newRow("type 5, offset FFFF") << 5 << 2 << 1200u << 7 << 0xFFFF << 0 << start << true << temp;
    QTest::newRow("type 5, offset 8000") << 5 << 2 << 1200u << 7 << 0x8000 << 0 << start << true << temp;
    const QByteArray meter7 = headerFor("Wattmeter\tV", "Watts\tVolts");
    QTest::newRow("type 7, gain B 0") << 7 << 2 << 1200u << 7 << 0x0100 << 0 << start << true << meter7;
    QTest::newRow("type 7, gain B FFFF") << 7 << 2 << 1200u << 7 << 0x0100 << 0xFFFF << start << true << meter7;
    QTest::newRow("type 4, gains FFFF") << 4 << 2 << 1200u << 7 << 0xFFFF << 0xFFFF << start << true
                                        << headerFor("Inline Wattmeter", "Watts");
    QTest::newRow("start month 13") << 1 << 2 << 1200u << 7 << 0 << 0 << bytes({0x14, 0x13, 0x26, 0x16, 0x52, 0x00})
                                    << false << temp;
    QTest::newRow("start FF") << 1 << 2 << 1200u << 7 << 0 << 0 << bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})
                              << false << temp;
    QTest::newRow("start year FF") << 1 << 2 << 1200u << 7 << 0 << 0 << bytes({0xFF, 0x11, 0x26, 0x16, 0x52, 0x00})
                                   << false << temp;
}

void tst_BadInput::downloadExtremes()
{
    QFETCH(int, type);
    QFETCH(int, memoryCode);
    QFETCH(quint32, usedBytes);
    QFETCH(int, periodCode);
    QFETCH(int, calibrationA);
    QFETCH(int, calibrationB);
    QFETCH(QByteArray, startBytes);
    QFETCH(bool, stampsKnown);
    QFETCH(QByteArray, header);

    sim::LoggerConfig config = baseLogger(type, usedBytes);
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    config.calibrationA = quint16(calibrationA);
    config.calibrationB = quint16(calibrationB);
    LoggerWindow w(config);
    if (!startBytes.isEmpty())
        applyPatch(*w.logger, {{0x01000030, startBytes}});
    QVERIFY(refreshNow(w));

    const QString path = w.dir.filePath("campaign.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    const QByteArray file = readFile(path);
    const QByteArray expected = stampsKnown ? expectedExport(*w.logger, header)
                                            : exportWithStart(*w.logger, header, QDateTime());
    if (file != expected) {
        const QList<QByteArray> seen = file.split('\n'), want = expected.split('\n');
        for (int i = 0; i < qMin(seen.size(), want.size()); ++i)
            QVERIFY2(seen[i] == want[i], qPrintable(QStringLiteral("line %1: seen \"%2\", expected \"%3\"")
                                                         .arg(i + 1)
                                                         .arg(QString::fromLatin1(seen[i].trimmed()),
                                                              QString::fromLatin1(want[i].trimmed()))));
        QCOMPARE(seen.size(), want.size());
    }
    QVERIFY(refreshNow(w));
}

void tst_BadInput::fullCounterDownload()
{
    // The 24-bit counter at its top: 8388608 lines, all but the last 65534 lost to the
    // wrap (two records of margin at 60 s), the first value line a placeholder.
    LoggerWindow w(baseLogger(2, 0xFFFFFF));
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("data_lab"), QString("8388607"));
    const QString path = w.dir.filePath("full.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    QCOMPARE(blockReads(*w.logger), 2048);

    std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams p;
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        std::copy(l.memory().begin(), l.memory().end(), image.begin());
    });
    p.deviceType = 2;
    p.recordSize = 2;
    p.periodSeconds = 60;
    p.endAddress = 0xFFFFFF;
    p.topAddress = 0x1FFFF;
    p.memoryWrapped = true;

    const qint64 lines = 8388608, lost = 8388608 - 65534;
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readLine(), QByteArray("Vantorel\t\r\n"));
    QCOMPARE(file.readLine(), QByteArray("\t00012345\r\n"));
    QCOMPARE(file.readLine(), QByteArray("\tVantorel Impulse\r\n"));
    QCOMPARE(file.readLine(), QByteArray("Date\tPulses\r\n"));
    char buffer[256];
    qint64 n = 0;
    for (;; ++n) {
        const qint64 length = file.readLine(buffer, sizeof buffer);
        if (length <= 0)
            break;
        const QByteArrayView line(buffer, length);
        if (n < lost) {
            if (!line.endsWith("\toverflow\t\r\n"))
                QFAIL(qPrintable(QStringLiteral("line %1 is no overflow line: %2").arg(n).arg(QLatin1String(line))));
            // Stamps step by the period all the way; a sample is enough to see a drift.
            if (n % 4093 == 0 || n == lost - 1) {
                const QByteArray stamp = campaignStart.addSecs(n * 60).toString("dd/MM/yyyy hh:mm:ss").toLatin1();
                if (!line.startsWith(stamp + '\t'))
                    QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(n).arg(QLatin1String(line))));
            }
            continue;
        }
        const QByteArray want = writeRecordLine(p, image.data(), quint32(n * 2), campaignStart.addSecs(n * 60), n == lost);
        if (line != want)
            QFAIL(qPrintable(QStringLiteral("line %1: seen \"%2\", expected \"%3\"")
                                 .arg(n)
                                 .arg(QLatin1String(line), QString::fromLatin1(want))));
    }
    QCOMPARE(n, lines);
    QVERIFY(file.atEnd());
}

void tst_BadInput::wrongLengthAnswersInRefresh()
{
    LoggerWindow w(baseLogger(3));
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("data_lab"), QString("300"));

    // Every answer a block short or long: none may be taken for the one asked for.
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = 1.0; });
    QVERIFY(waitFor([&] { return w.comStatus().contains("NO COM"); }));
    const int heard = w.logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); });
    QVERIFY(waitFor([&] {
        return w.logger->read<int>([](sim::SimulatedLogger &l) { return int(l.requests().size()); }) > heard + 30;
    }));
    QVERIFY(w.comStatus().contains("NO COM"));
    for (const char *name : statusLabels)
        if (qstrcmp(name, "sn_lab") != 0)
            QVERIFY2(w.text(name).isEmpty(), name);
    QCOMPARE(w.text("sn_lab"), QString("00012345"));
    QVERIFY(w.refreshTimer()->isActive());
    QVERIFY(w.central()->isEnabled());

    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = 0; });
    QVERIFY(w.waitForRefresh());
    QVERIFY(refreshNow(w));
    QCOMPARE(w.text("data_lab"), QString("300"));
    QCOMPARE(w.text("type"), QString("Temp/Hygro"));
}

void tst_BadInput::wrongLengthAnswersInDownload_data()
{
    QTest::addColumn<double>("rate");
    // All wrong until the user's OK; then one answer in five wrong throughout.
    QTest::newRow("all, for a while") << 1.0;
    QTest::newRow("one in five") << 0.2;
}

void tst_BadInput::wrongLengthAnswersInDownload()
{
    QFETCH(double, rate);
    LoggerWindow w(baseLogger(3, 40000));
    QVERIFY(refreshNow(w));
    const QString path = w.dir.filePath("campaign.tsv");
    SaveDialogAnswer save(path);
    ModalAnswerer garble(progressDialog(), [&](QWidget *) {
        w.logger->withLogger([rate](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = rate; });
    });
    // The user answers OK; by the first box of the first row the logger is right again.
    RepeatingAnswerer retry("Error COM", QMessageBox::Ok, [&] {
        if (rate >= 1.0)
            w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = 0; });
    });
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(garble.done());
    if (rate >= 1.0)
        QCOMPARE(retry.count, 1);
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().wrongBlockRate = 0; });
    QCOMPARE(readFile(path), expectedExport(*w.logger, headerFor("Vantorel Temp\tHumidity", "\xB0" "C\t%RH")));
}

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
