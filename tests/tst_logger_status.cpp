// Status display, live readings, export header and campaign arithmetic of the logger layer.

#include "campaign.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "livereadings.h"
#include "periods.h"
#include "statusdisplay.h"

#include <QTest>
#include <QTimeZone>

namespace {

const QDateTime start(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);
const QString deg = QString(QChar(0xB0)) + QLatin1Char('C');

LiveAnswer answer(const QByteArray &bytes)
{
    LiveAnswer a;
    a.ok = !bytes.isNull();
    for (int i = 0; i < bytes.size() && i < int(a.p.size()); ++i)
        a.p[i] = quint8(bytes[i]);
    return a;
}

} // namespace

class TestLoggerStatus : public QObject
{
    Q_OBJECT

private slots:
    void periodTables()
    {
        // The combo runs by length while the codes do not.
        int previous = 0;
        for (int index = 0; index < PERIOD_COUNT; ++index) {
            const int code = comboIndexToPeriodCode(index);
            QCOMPARE(periodCodeToComboIndex(code), index);
            QVERIFY(periodSeconds(code) > previous);
            previous = periodSeconds(code);
        }
        QCOMPARE(periodCodeToComboIndex(8), 12);
        QCOMPARE(periodCodeToComboIndex(10), 8);
        QCOMPARE(periodLabel(9), QStringLiteral("1 h"));
        QCOMPARE(periodComboText(12), QStringLiteral("10min"));
        QCOMPARE(periodSeconds(14), 0);
        QCOMPARE(periodCodeToComboIndex(14), -1);
        QCOMPARE(comboIndexToPeriodCode(-1), -1);
        QCOMPARE(periodScaleFactor(240), 128);
        QCOMPARE(periodScaleFactor(7), 0);
    }

    void deviceTypes()
    {
        QCOMPARE(exportUnitsOf(6), QByteArray("\xB0" "C\t\xB0" "C"));
        QCOMPARE(screenNameOf(10), QStringLiteral("Temp. Type S"));
        QVERIFY(screenNameOf(11).isEmpty());
        for (int code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 255})
            QCOMPARE(recordSizeOf(quint8(code)), quint8(code == 3 || code == 6 || code == 7 || code == 10 ? 4 : 2));
    }

    void completeStatus_data()
    {
        QTest::addColumn<int>("sizeCode");
        QTest::addColumn<quint32>("usedBytes");
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<int>("periodCode");
        QTest::addColumn<int>("storedCode");
        QTest::addColumn<quint32>("memoryTop");
        QTest::addColumn<QString>("free");
        QTest::addColumn<QString>("records");
        QTest::addColumn<QString>("period");
        QTest::addColumn<QString>("loggerTime");

        QTest::newRow("empty") << 2 << 0u << 1 << 7 << 2 << 0x1FFFFu << "100%" << "0" << "1 min" << "26/11/14 16:52:05";
        QTest::newRow("half") << 2 << 65536u << 1 << 7 << 2 << 0x1FFFFu << "50%" << "32768" << "1 min" << "19/12/14 11:00:05";
        QTest::newRow("floor 87") << 2 << 17000u << 2 << 0 << 2 << 0x1FFFFu << "87%" << "8500" << "1 s" << "26/11/14 19:13:45";
        QTest::newRow("wrapped") << 2 << 131073u << 1 << 0 << 2 << 0x1FFFFu << "0%" << "65536" << "1 s" << "27/11/14 11:04:20";
        QTest::newRow("code 0") << 0 << 65536u << 1 << 7 << 2 << 0x1FFFFu << "50%" << "32768" << "1 min" << "19/12/14 11:00:05";
        QTest::newRow("code 255") << 255 << 0u << 1 << 7 << 2 << 0x1FFFFu << "100%" << "0" << "1 min" << "26/11/14 16:52:05";
        QTest::newRow("code 4, 4-byte") << 4 << 131072u << 3 << 9 << 4 << 0x3FFFFu << "50%" << "32768" << "1 h" << "23/08/18 00:52:05";
        QTest::newRow("unknown type") << 2 << 100u << 11 << 7 << 2 << 0x1FFFFu << "99%" << "50" << "1 min" << "26/11/14 17:42:05";
        QTest::newRow("period 14") << 2 << 131073u << 1 << 14 << 2 << 0x1FFFFu << "0%" << "65536" << "-" << "-";
        QTest::newRow("period 255") << 2 << 100u << 1 << 255 << 2 << 0x1FFFFu << "99%" << "50" << "-" << "-";
    }

    void completeStatus()
    {
        QFETCH(int, sizeCode);
        QFETCH(quint32, usedBytes);
        QFETCH(int, deviceType);
        QFETCH(int, periodCode);
        LoggerStatus status;
        status.memorySizeCode = quint8(sizeCode);
        status.usedBytes = usedBytes;
        status.deviceType = quint8(deviceType);
        status.periodCode = quint8(periodCode);
        status.startTime = start;
        status.secondsInPeriod = 5;
        status.version = 12;
        status.recordSize = 0;
        ::completeStatus(status);
        const StatusTexts texts = statusTexts(status);

        QTEST(int(status.memorySizeCode), "storedCode");
        QTEST(status.memoryTop, "memoryTop");
        QTEST(texts.freeMemory, "free");
        QTEST(texts.storedRecords, "records");
        QTEST(texts.period, "period");
        QTEST(texts.loggerTime, "loggerTime");
        QCOMPARE(texts.startTime, QStringLiteral("26/11/14 16:52:00"));
        QCOMPARE(texts.version, QStringLiteral("v12"));
    }

    void startTime_data()
    {
        QTest::addColumn<QByteArray>("bcd");
        QTest::addColumn<QString>("text");
        QTest::newRow("valid") << QByteArray("\x14\x11\x26\x16\x52\x00", 6) << "26/11/14 16:52:00";
        QTest::newRow("month 13") << QByteArray("\x14\x13\x26\x16\x52\x00", 6) << "-";
        QTest::newRow("30 February") << QByteArray("\x14\x02\x30\x16\x52\x00", 6) << "-";
        QTest::newRow("hour 25") << QByteArray("\x14\x11\x26\x25\x52\x00", 6) << "-";
    }

    void startTime()
    {
        QFETCH(QByteArray, bcd);
        LoggerStatus status;
        status.startTime = startTimeFromBcd(reinterpret_cast<const quint8 *>(bcd.constData()));
        ::completeStatus(status);
        QCOMPARE(status.startTime.timeSpec(), Qt::UTC);
        QTEST(statusTexts(status).startTime, "text");
        QTEST(statusTexts(status).loggerTime, "text");
    }

    void battery()
    {
        const QString red = QStringLiteral("<font color= red>Very low Battery</font> ");
        QCOMPARE(batteryText(0), red);
        QCOMPARE(batteryText(2), red);
        QCOMPARE(batteryText(3), QStringLiteral("<font color= orange>Low Battery</font> "));
        QCOMPARE(batteryText(4), QString());
        QCOMPARE(batteryText(255), QString());
    }

    void livePlan_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("plan");
        QTest::newRow("1") << 1 << "40/1 stop";
        QTest::newRow("2") << 2 << "44/1 stop";
        QTest::newRow("3") << 3 << "40/1 go, 52/1 go";
        QTest::newRow("7") << 7 << "44/1 go, 53/1 stop";
        QTest::newRow("9") << 9 << "44/1 go, 53/1 stop";
        QTest::newRow("5") << 5 << "40/1 stop";
        QTest::newRow("10") << 10 << "52/1 stop, 40/1 go";
        QTest::newRow("8") << 8 << "40/2 go, 52/1 go";
        QTest::newRow("11") << 11 << "";
    }

    void livePlan()
    {
        QFETCH(int, type);
        QStringList reads;
        for (const LiveRead &read : liveReadPlan(quint8(type)))
            reads << QStringLiteral("%1/%2 %3").arg(read.reg, 0, 16).arg(read.blocks).arg(read.stopOnFailure ? "stop" : "go");
        QTEST(reads.join(QStringLiteral(", ")), "plan");
    }

    void liveText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("calA");
        QTest::addColumn<int>("calB");
        QTest::addColumn<QByteArray>("r40");
        QTest::addColumn<QByteArray>("r44");
        QTest::addColumn<QByteArray>("r52");
        QTest::addColumn<QByteArray>("r53");
        QTest::addColumn<QString>("text");
        const QByteArray no;
        const QByteArray power100("\0\0\0\0\xE8\x03\0", 7);   // raw 1000
        const QByteArray v100i2("\xF0\xEB\x7D\x00\xFA\x00", 6); // Iraw 0x7DEC70, Vraw 64000
        const QString meter = "Voltage:100.00V\r\nCurrent:2.00A\r\nPower Factor:";

        QTest::newRow("1: 25.0") << 1 << 0 << 0 << QByteArray("\x90\x01") << no << no << no << "25.0" + deg;
        QTest::newRow("1: unsigned") << 1 << 0 << 0 << QByteArray("\xF0\xFF") << no << no << no << "4095.0" + deg;
        QTest::newRow("1: failed") << 1 << 0 << 0 << no << no << no << no << "old";
        QTest::newRow("2: 32 bits") << 2 << 0 << 0 << no << QByteArray("\0\0\0\0\x01\0\0\x80", 8) << no << no << "2147483649 pulses";
        QTest::newRow("3: clamp 0") << 3 << 0 << 0 << QByteArray("\xDE\x17") << no << QByteArray("\0\0", 2) << no << "21.5" + deg + "\r\n0.0%";
        QTest::newRow("3: clamp 100") << 3 << 0 << 0 << QByteArray("\x00\x00", 2) << no << QByteArray("\x40\x1C") << no << "-39.6" + deg + "\r\n100.0%";
        QTest::newRow("3: single precision") << 3 << 0 << 0 << no << no << QByteArray("\xDC\x05") << no << "old\r\n50.5%";
        QTest::newRow("4: pf 0.5") << 4 << 0x800 << 23000 << no << power100 << no << v100i2 << "Active Power:100.0W\r\n" + meter + "0.50";
        QTest::newRow("7: p6 invalid") << 7 << 0x800 << 23000 << no << QByteArray("\0\0\0\0\xE8\x03\x80", 7) << no << v100i2 << "Active Power:0.0W\r\n" + meter + "0.00";
        QTest::newRow("9: pf clamp") << 9 << 0x800 << 23000 << no << QByteArray("\0\0\0\0\xFF\xFF\0", 7) << no << v100i2 << "Active Power:6553.0W\r\n" + meter + "1.00";
        QTest::newRow("4: 0x44 failed") << 4 << 0x800 << 23000 << no << no << no << v100i2 << "old\r\n" + meter + "0.00";
        QTest::newRow("4: 0x53 failed") << 4 << 0x800 << 23000 << no << power100 << no << no << "Active Power:100.0W";
        QTest::newRow("4: gain wraps") << 4 << 0xF000 << 23000 << no << power100 << no << QByteArray("\xF0\xFF\xFF\x00\xFA\x00", 6)
                                       << "Active Power:100.0W\r\nVoltage:100.00V\r\nCurrent:8.13A\r\nPower Factor:0.12";
        QTest::newRow("4: voltage invalid") << 4 << 0x800 << 23000 << no << power100 << no << QByteArray("\xF0\xEB\x7D\x00\xFA\x80", 6)
                                            << "Active Power:100.0W\r\nVoltage:0.00V\r\nCurrent:2.00A\r\nPower Factor:0.00";
        QTest::newRow("4: calibrationB 0") << 4 << 0x800 << 0 << no << power100 << no << v100i2 << "Active Power:100.0W\r\nVoltage:-\r\nCurrent:-\r\nPower Factor:-";
        QTest::newRow("5: offset") << 5 << 0xFF00 << 0 << QByteArray("\x00\x1A", 2) << no << no << no << "25.0" + deg;
        QTest::newRow("5: unsigned") << 5 << 0 << 0 << QByteArray("\x00\xFF", 2) << no << no << no << "255.0" + deg;
        QTest::newRow("6: 675.0") << 6 << 0 << 0 << QByteArray("\xD0\x07") << no << QByteArray("\xE8\x03\x2C\x01") << no
                                  << "T1:1350.0" + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("10: factor wraps") << 10 << 0 << 0 << QByteArray("\xFF\xFF") << no << QByteArray("\xE8\x03\x2C\x01") << no
                                          << "T1:38396.0" + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("6: 0x40 failed") << 6 << 0 << 0 << no << no << QByteArray("\xE8\x03\x2C\x01") << no << "T1:-\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("6: u = 0") << 6 << 0 << 0 << QByteArray("\xD0\x07") << no << QByteArray("\xE8\x03\x00\x00", 4) << no << "T1:-\r\nT2:-\r\nU Bat:-";
        QTest::newRow("10: 0x52 failed") << 10 << 0 << 0 << QByteArray("\xD0\x07") << no << no << no << "old";
        QTest::newRow("8: 3599 s") << 8 << 0 << 0 << QByteArray("\x78\0\0\0\0\0\0\0\x0F\x0E\0\0", 12) << no << QByteArray("\x4D\x01") << no
                                   << "ON Time:120 s\r\nTotal ON Time:3599 s\r\nlight: 77Lamp ON";
        QTest::newRow("8: 3600 s") << 8 << 0 << 0 << QByteArray("\x78\0\0\0\0\0\0\0\x10\x0E\0\0", 12) << no << no << no << "ON Time:120 s\r\nTotal ON Time:1.0 h";
        QTest::newRow("8: 5400 s") << 8 << 0 << 0 << QByteArray("\x78\0\0\0\0\0\0\0\x18\x15\0\0", 12) << no << no << no << "ON Time:120 s\r\nTotal ON Time:1.5 h";
        QTest::newRow("8: 0x40 failed") << 8 << 0 << 0 << no << no << QByteArray("\0\0", 2) << no << "old\r\nlight: 0Lamp OFF";
        QTest::newRow("0") << 0 << 0 << 0 << QByteArray("\x90\x01") << no << no << no << "old";
        QTest::newRow("11") << 11 << 0 << 0 << QByteArray("\x90\x01") << no << no << no << "old";
    }

    void liveText()
    {
        QFETCH(int, type);
        QFETCH(int, calA);
        QFETCH(int, calB);
        LoggerStatus status;
        status.deviceType = quint8(type);
        status.calibrationA = quint16(calA);
        status.calibrationB = quint16(calB);
        QFETCH(QByteArray, r40);
        QFETCH(QByteArray, r44);
        QFETCH(QByteArray, r52);
        QFETCH(QByteArray, r53);
        LiveAnswers answers;
        answers.forRegister(0x40) = answer(r40);
        answers.forRegister(0x44) = answer(r44);
        answers.forRegister(0x52) = answer(r52);
        answers.forRegister(0x53) = answer(r53);
        QTEST(liveReadingText(status, answers, QStringLiteral("old")), "text");
    }

    void exportHeader_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("7") << 0x1234u << 7 << QByteArray("Vantorel\t\r\n\t1234\r\n\tWattmeter\tV\r\nDate\tWatts\tVolts\r\n");
        QTest::newRow("3") << 0x12345u << 3 << QByteArray("Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n");
        QTest::newRow("0") << 0xABCDEF01u << 0 << QByteArray("Vantorel\t\r\n\tABCDEF01\r\n\tUnknown data type\r\nDate\t?\r\n");
    }

    void exportHeader()
    {
        QFETCH(quint32, address);
        QFETCH(int, type);
        QTEST(::exportHeader(address, quint8(type)), "header");
    }

    void proposedName()
    {
        QCOMPARE(proposedExportFileName(0x12345, QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3))),
                 QStringLiteral("00012345_051214_090703.tsv"));
    }

    void alignedStart_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("remainder");
        QTest::addColumn<QString>("start");
        const QTimeZone india(5 * 3600 + 1800);
        QTest::newRow("5 min") << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), Qt::UTC) << 300 << 163 << "05/03/26 14:05:00";
        QTest::newRow("1 h, UTC+1") << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), QTimeZone(3600)) << 3600 << 463 << "05/03/26 14:00:00";
        QTest::newRow("1 h, UTC+5:30") << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), india) << 3600 << 2263 << "05/03/26 13:30:00";
        QTest::newRow("1 s") << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), Qt::UTC) << 1 << 0 << "05/03/26 14:07:43";
        QTest::newRow("unknown") << QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), Qt::UTC) << 0 << 0 << "05/03/26 14:07:43";
    }

    void alignedStart()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, period);
        const AlignedStart aligned = ::alignedStart(now, period);
        QTEST(int(aligned.remainder), "remainder");
        QTEST(aligned.start.toString(QStringLiteral("dd/MM/yy hh:mm:ss")), "start");
    }

    void capacityAndFullDate()
    {
        QCOMPARE(recordCapacity(0x1FFFF, 2), 65535u);
        QCOMPARE(recordCapacity(0x1FFFF, 4), 32767u);
        QCOMPARE(recordCapacity(0x3FFFF, 2), 131071u);
        QCOMPARE(recordCapacity(0x3FFFF, 0), 0u);

        const QDateTime morning(QDate(2014, 12, 5), QTime(9, 7, 3), Qt::UTC);
        QCOMPARE(memoryFullDate(morning, 0x1FFFF, 2, 1), QDateTime(QDate(2014, 12, 6), QTime(3, 19, 18), Qt::UTC));
        const QDateTime now(QDate(2024, 1, 15), QTime(10, 20, 30), Qt::UTC);
        QCOMPARE(memoryFullDate(now, 0x1FFFF, 2, 3600), QDateTime(QDate(2031, 7, 8), QTime(1, 0), Qt::UTC));
        QCOMPARE(memoryFullDate(now, 0x3FFFF, 2, 3600), now.addSecs(471855600 - 1230));
        QCOMPARE(memoryFullDate(now, 0x1FFFF, 0, 0), now);
    }

    void clockBytes()
    {
        const StartClockBytes clock = startClockBytes(QDateTime(QDate(2026, 3, 5), QTime(14, 5, 0)));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(clock.bytes), 6), QByteArray("\x14\x05\x00\x26\x03\x05", 6));
    }
};

QTEST_GUILESS_MAIN(TestLoggerStatus)
#include "tst_logger_status.moc"
