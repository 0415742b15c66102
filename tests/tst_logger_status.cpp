// Status display, live readings and the aligned start, as functions: extremes and garbage
// from the logger show as "-", never as a made-up value. Tables (types, periods, battery,
// header) are seen whole through the window tests.

#include "campaign.h"
#include "livereadings.h"
#include "statusdisplay.h"

#include <QTest>
#include <QTimeZone>

namespace {

const QString deg = QString(QChar(0xB0)) + QLatin1Char('C');

// The reads of 0x40, 0x44, 0x52 and 0x53; a null one failed.
LiveAnswers reads(const QByteArray &r40, const QByteArray &r44 = {}, const QByteArray &r52 = {}, const QByteArray &r53 = {})
{
    const auto answer = [](const QByteArray &bytes) {
        LiveAnswer a;
        a.ok = !bytes.isNull(), std::copy_n(bytes.constData(), qMin(bytes.size(), qsizetype(a.p.size())), a.p.begin());
        return a;
    };
    return {answer(r40), answer(r44), answer(r52), answer(r53)};
}

LoggerStatus device(int type, int calibrationA = 0, int calibrationB = 0)
{
    LoggerStatus status;
    status.deviceType = quint8(type), status.calibrationA = quint16(calibrationA), status.calibrationB = quint16(calibrationB);
    return status;
}

} // namespace

Q_DECLARE_METATYPE(LiveAnswers)
Q_DECLARE_METATYPE(LoggerStatus)

class TestLoggerStatus : public QObject
{
    Q_OBJECT

private slots:
    void completeStatus_data()
    {
        QTest::addColumn<QList<int>>("codeUsedTypePeriod");
        QTest::addColumn<QByteArray>("startBcd");
        QTest::addColumn<QString>("texts");   // free memory, records, period, start, logger time
        const QByteArray bcd("\x14\x11\x26\x16\x52\x00", 6);
        QTest::newRow("floor 87") << QList<int>{2, 17000, 2, 0} << bcd << "87% 8500 1 s 26/11/14 16:52:00 26/11/14 19:13:45";
        QTest::newRow("wrapped: one period back") << QList<int>{2, 131073, 1, 0} << bcd << "0% 65536 1 s 26/11/14 16:52:00 27/11/14 11:04:20";
        QTest::newRow("code 255 is 128 KiB") << QList<int>{255, 65536, 1, 7} << bcd << "50% 32768 1 min 26/11/14 16:52:00 19/12/14 11:00:05";
        QTest::newRow("code 0 is 128 KiB") << QList<int>{0, 60000, 1, 7} << bcd << "54% 30000 1 min 26/11/14 16:52:00 17/12/14 12:52:05";
        QTest::newRow("code 7") << QList<int>{7, 60000, 1, 7} << bcd << "86% 30000 1 min 26/11/14 16:52:00 17/12/14 12:52:05";
        QTest::newRow("code 4, 4-byte") << QList<int>{4, 131072, 3, 9} << bcd << "50% 32768 1 h 26/11/14 16:52:00 23/08/18 00:52:05";
        QTest::newRow("period 14") << QList<int>{2, 100, 1, 14} << bcd << "99% 50 - 26/11/14 16:52:00 -";
        QTest::newRow("used 1") << QList<int>{2, 1, 1, 7} << bcd << "99% 0 1 min 26/11/14 16:52:00 26/11/14 16:52:05";
        QTest::newRow("used odd") << QList<int>{2, 1203, 3, 7} << bcd << "99% 300 1 min 26/11/14 16:52:00 26/11/14 21:52:05";
        QTest::newRow("used 0xFFFFFF") << QList<int>{2, 0xFFFFFF, 1, 7} << bcd << "0% 8388607 1 min 26/11/14 16:52:00 08/11/30 02:58:05";
        // 8388607 records of 10 min overflow a 32-bit count of seconds: a wrapped sum is no time.
        QTest::newRow("used 0xFFFFFF, 10 min") << QList<int>{2, 0xFFFFFF, 1, 8} << bcd << "0% 8388607 10 min 26/11/14 16:52:00 -";
        QTest::newRow("start: hour 25") << QList<int>{2, 100, 1, 7} << QByteArray("\x14\x11\x26\x25\x52\x00", 6) << "99% 50 1 min - -";
        QTest::newRow("start: month 13") << QList<int>{2, 100, 1, 7} << QByteArray("\x14\x13\x26\x16\x52\x00", 6) << "99% 50 1 min - -";
        QTest::newRow("start: day 1A") << QList<int>{2, 100, 1, 7} << QByteArray("\x14\x11\x1A\x16\x52\x00", 6) << "99% 50 1 min - -";
    }
    void completeStatus()
    {
        QFETCH(QList<int>, codeUsedTypePeriod);
        QFETCH(QByteArray, startBcd);
        LoggerStatus status;
        status.memorySizeCode = quint8(codeUsedTypePeriod[0]);
        status.usedBytes = quint32(codeUsedTypePeriod[1]);
        status.deviceType = quint8(codeUsedTypePeriod[2]);
        status.periodCode = quint8(codeUsedTypePeriod[3]);
        status.startTime = startTimeFromBcd(reinterpret_cast<const quint8 *>(startBcd.constData()));
        status.secondsInPeriod = 5;
        ::completeStatus(status);
        const StatusTexts t = statusTexts(status);
        QTEST(QStringList({t.freeMemory, t.storedRecords, t.period, t.startTime, t.loggerTime}).join(' '), "texts");
    }

    void liveText_data()
    {
        QTest::addColumn<LoggerStatus>("status");
        QTest::addColumn<LiveAnswers>("answers");
        QTest::addColumn<QString>("text");
        const QByteArray no;
        const QByteArray power100("\0\0\0\0\xE8\x03\0", 7);   // raw 1000
        const QByteArray v100i2("\xF0\xEB\x7D\x00\xFA\x00", 6); // Iraw 0x7DEC70, Vraw 64000
        const QString meter = "Voltage:100.00V\r\nCurrent:2.00A\r\nPower Factor:";

        QTest::newRow("1: unsigned") << device(1) << reads(QByteArray("\xF0\xFF")) << "4095.0" + deg;
        QTest::newRow("2: 32 bits") << device(2) << reads(no, QByteArray("\0\0\0\0\x01\0\0\x80", 8)) << "2147483649 pulses";
        QTest::newRow("3: clamp 0") << device(3) << reads(QByteArray("\xDE\x17"), no, QByteArray("\0\0", 2)) << "21.5" + deg + "\r\n0.0%";
        QTest::newRow("3: clamp 100") << device(3) << reads(QByteArray("\x00\x00", 2), no, QByteArray("\x40\x1C")) << "-39.6" + deg + "\r\n100.0%";
        QTest::newRow("3: single precision") << device(3) << reads(no, no, QByteArray("\xDC\x05")) << "old\r\n50.5%";
        QTest::newRow("7: p6 invalid") << device(7, 0x800, 23000) << reads(no, QByteArray("\0\0\0\0\xE8\x03\x80", 7), no, v100i2) << "Active Power:0.0W\r\n" + meter + "0.00";
        QTest::newRow("9: pf clamp") << device(9, 0x800, 23000) << reads(no, QByteArray("\0\0\0\0\xFF\xFF\0", 7), no, v100i2) << "Active Power:6553.0W\r\n" + meter + "1.00";
        QTest::newRow("4: 0x53 failed") << device(4, 0x800, 23000) << reads(no, power100) << "Active Power:100.0W";
        // k = A + 0x1000 above 0x0FFF, and k x (Iraw >> 4) wraps at 32 bits.
        QTest::newRow("4: gain rule and wrap") << device(4, 0x1800, 23000) << reads(no, power100, no, v100i2) << "Active Power:100.0W\r\nVoltage:100.00V\r\nCurrent:1.87A\r\nPower Factor:0.54";
        QTest::newRow("4: voltage invalid") << device(4, 0x800, 23000) << reads(no, power100, no, QByteArray("\xF0\xEB\x7D\x00\xFA\x80", 6)) << "Active Power:100.0W\r\nVoltage:0.00V\r\nCurrent:2.00A\r\nPower Factor:0.00";
        QTest::newRow("4: calibrationB 0") << device(4, 0x800) << reads(no, power100, no, v100i2) << "Active Power:100.0W\r\nVoltage:-\r\nCurrent:-\r\nPower Factor:-";
        QTest::newRow("5: offset") << device(5, 0xFF00) << reads(QByteArray("\x00\x1A", 2)) << "25.0" + deg;
        QTest::newRow("5: unsigned") << device(5) << reads(QByteArray("\x00\xFF", 2)) << "255.0" + deg;
        QTest::newRow("6: 675.0") << device(6) << reads(QByteArray("\xD0\x07"), no, QByteArray("\xE8\x03\x2C\x01")) << "T1:1350.0" + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("10: factor wraps") << device(10) << reads(QByteArray("\xFF\xFF"), no, QByteArray("\xE8\x03\x2C\x01")) << "T1:38396.0" + deg + "\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("6: 0x40 failed") << device(6) << reads(no, no, QByteArray("\xE8\x03\x2C\x01")) << "T1:-\r\nT2:675.0" + deg + "\r\nU Bat:6.1";
        QTest::newRow("6: u = 0") << device(6) << reads(QByteArray("\xD0\x07"), no, QByteArray("\xE8\x03\x00\x00", 4)) << "T1:-\r\nT2:-\r\nU Bat:-";
        QTest::newRow("10: 0x52 failed") << device(10) << reads(QByteArray("\xD0\x07")) << "old";
        QTest::newRow("8: 3599 s") << device(8) << reads(QByteArray("\x78\0\0\0\0\0\0\0\x0F\x0E\0\0", 12), no, QByteArray("\x4D\x01")) << "ON Time:120 s\r\nTotal ON Time:3599 s\r\nlight: 77Lamp ON";
        QTest::newRow("8: 3600 s") << device(8) << reads(QByteArray("\x78\0\0\0\0\0\0\0\x10\x0E\0\0", 12)) << "ON Time:120 s\r\nTotal ON Time:1.0 h";
        QTest::newRow("8: 5400 s") << device(8) << reads(QByteArray("\x78\0\0\0\0\0\0\0\x18\x15\0\0", 12)) << "ON Time:120 s\r\nTotal ON Time:1.5 h";
        QTest::newRow("8: 0x40 failed") << device(8) << reads(no, no, QByteArray("\0\0", 2)) << "old\r\nlight: 0Lamp OFF";
        QTest::newRow("7: gains FFFF") << device(7, 0xFFFF, 0xFFFF) << reads(no, QByteArray("\0\0\0\0\x20\x03\0\0", 8), no, QByteArray("\xA0\x86\x01\x86\x31\x02")) << "Active Power:80.0W\r\nVoltage:639.99V\r\nCurrent:0.29A\r\nPower Factor:0.43";
        QTest::newRow("8: all FF") << device(8) << reads(QByteArray(12, '\xFF'), no, QByteArray("\xFF\xFF")) << "ON Time:65535 s\r\nTotal ON Time:1193046.5 h\r\nlight: 255Lamp ON";
        QTest::newRow("11") << device(11) << reads(QByteArray("\x90\x01")) << "old";
    }

    void liveText()
    {
        QFETCH(LoggerStatus, status);
        QFETCH(LiveAnswers, answers);
        QTEST(liveReadingText(status, answers, QStringLiteral("old")), "text");
    }

    // A value exactly halfway goes to the even digit; near ones to their nearer side.
    void halfwayLiveValues_data()
    {
        QTest::addColumn<LoggerStatus>("status");
        QTest::addColumn<LiveAnswers>("answers");
        QTest::addColumn<QString>("text");
        const QByteArray no;
        const QByteArray i2("\xF0\xEB\x7D\x00\xFA\x00", 6);   // 2.00 A and 100.00 V at gain 23000
        QTest::newRow("3: -39.55 lies above, RH 42.25") << device(3) << reads(QByteArray("\x05\x00", 2), no, QByteArray("\xE2\x04"))
                                                        << "-39.5" + deg + "\r\n42.2%";
        QTest::newRow("voltage 0.125") << device(4, 0x800, 23000) << reads(no, no, no, QByteArray("\xF0\xEB\x7D\x50\x00\x00", 6))
                                       << "old\r\nVoltage:0.12V\r\nCurrent:2.00A\r\nPower Factor:0.00";
        QTest::newRow("current 0.125") << device(4, 0x100, 80) << reads(no, no, no, QByteArray("\x10\x38\x00\x00\x00\x00", 6))
                                       << "old\r\nVoltage:0.00V\r\nCurrent:0.12A\r\nPower Factor:0.00";
        QTest::newRow("power factor 0.125") << device(4, 0x800, 23000) << reads(no, QByteArray("\0\0\0\0\xFA\0\0", 7), no, i2)
                                            << "Active Power:25.0W\r\nVoltage:100.00V\r\nCurrent:2.00A\r\nPower Factor:0.12";
        QTest::newRow("lamp 4500 s") << device(8) << reads(QByteArray("\x78\0\0\0\0\0\0\0\x94\x11\0\0", 12)) << "ON Time:120 s\r\nTotal ON Time:1.2 h";
        QTest::newRow("lamp 3780 s lies above") << device(8) << reads(QByteArray("\x78\0\0\0\0\0\0\0\xC4\x0E\0\0", 12)) << "ON Time:120 s\r\nTotal ON Time:1.1 h";
    }
    void halfwayLiveValues() { liveText(); }

    // The remainder counts from 1970 UTC, whatever the offset of the local clock.
    void alignedStartCountsFromUtc()
    {
        const AlignedStart aligned = alignedStart(QDateTime(QDate(2026, 3, 5), QTime(14, 7, 43), QTimeZone(5 * 3600 + 1800)), 3600);
        QCOMPARE(int(aligned.remainder), 2263);
        QCOMPARE(aligned.start.toString("dd/MM/yy hh:mm:ss"), QStringLiteral("05/03/26 13:30:00"));
    }
};

QTEST_GUILESS_MAIN(TestLoggerStatus)
#include "tst_logger_status.moc"
