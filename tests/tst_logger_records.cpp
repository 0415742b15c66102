// Record lines of a download: the value rules and placeholders, and the fast pass against
// the one-line reference, wrapped memory included.

#include "records.h"

#include <QTest>

#include <vector>

namespace {

const QDateTime start(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);

RecordPassParams paramsFor(int type, int period = 60)
{
    RecordPassParams params;
    params.deviceType = quint8(type), params.periodSeconds = period, params.startTime = start;
    params.recordSize = (type == 3 || type == 6 || type == 7 || type == 10) ? 4 : 2;
    return params;
}

QByteArray runPass(const RecordPassParams &params, const std::vector<quint8> &image, int slice = 4099)
{
    RecordPass pass(params, image.data());
    QByteArray out;
    for (; !pass.atEnd(); pass.writeLines(out, slice)) {}
    return out;
}

QByteArray referencePass(const RecordPassParams &params, const std::vector<quint8> &image)
{
    QByteArray out;
    bool first = true;
    QDateTime time = params.startTime;
    for (quint32 address = 0; address < params.endAddress; address += params.recordSize) {
        out += writeRecordLine(params, image.data(), address, time, first);
        first = first && isOverflowRecord(params, address);
        time = time.addSecs(params.periodSeconds);
    }
    return out;
}

} // namespace

class TestLoggerRecords : public QObject
{
    Q_OBJECT

private slots:
    void valueText_data()
    {
        QTest::addColumn<QList<int>>("typeCalibrationsPeriod");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("first");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1: signed") << QList<int>{1, 0, 0, 60} << QByteArray("\xFF\xF0") << false << QByteArray("-1.0");
        QTest::newRow("2: signed") << QList<int>{2, 0, 0, 60} << QByteArray("\xFF\xFF") << false << QByteArray("-1");
        QTest::newRow("3") << QList<int>{3, 0, 0, 60} << QByteArray("\x17\xDE\x05\xDC") << false << QByteArray("21.5\t50.5");
        QTest::newRow("3: clamps") << QList<int>{3, 0, 0, 60} << QByteArray("\x00\x00\x1C\x40", 4) << false << QByteArray("-39.6\t100.0");
        QTest::newRow("3: negative RH") << QList<int>{3, 0, 0, 60} << QByteArray("\x00\x00\x00\x00", 4) << false << QByteArray("-39.6\t0.0");
        QTest::newRow("2: first") << QList<int>{2, 0, 0, 60} << QByteArray("\x04\xD2") << true << QByteArray("0");
        QTest::newRow("4: first") << QList<int>{4, 0, 0, 60} << QByteArray("\x04\xD2") << true << QByteArray("-");
        QTest::newRow("7: first") << QList<int>{7, 0, 4600, 60} << QByteArray("\x04\xD2\xFB\x1E") << true << QByteArray("-\t-");
        QTest::newRow("4: 240 s scales as 120 s") << QList<int>{4, 0, 0, 240} << QByteArray("\x04\xD2") << false << QByteArray("65.0");
        QTest::newRow("9: unsigned") << QList<int>{9, 0, 0, 60} << QByteArray("\xFF\xFF") << false << QByteArray("6989.0");
        QTest::newRow("5: offset") << QList<int>{5, 0xFF00, 0, 60} << QByteArray("\x1A\x00", 2) << false << QByteArray("25.0");
        QTest::newRow("5: signed") << QList<int>{5, 0, 0, 60} << QByteArray("\xFF\x00", 2) << false << QByteArray("-1.0");
        QTest::newRow("6") << QList<int>{6, 0, 0, 60} << QByteArray("\x00\xC8\xFF\xF8", 4) << false << QByteArray("25.0\t-1.0");
        QTest::newRow("7: power, then signed volts") << QList<int>{7, 0, 4600, 60} << QByteArray("\x04\xD2\xFB\x1E") << false << QByteArray("131.0\t-200.0");
        QTest::newRow("8") << QList<int>{8, 0, 0, 60} << QByteArray("\xFF\xFF") << true << QByteArray("-1");
        QTest::newRow("10") << QList<int>{10, 0, 0, 60} << QByteArray("\x00\x08\x00\x10", 4) << false << QByteArray("4.3\t2.0");
        QTest::newRow("11") << QList<int>{11, 0, 0, 60} << QByteArray("\x00\x08", 2) << true << QByteArray("");
    }
    void valueText()
    {
        QFETCH(QList<int>, typeCalibrationsPeriod);
        QFETCH(QByteArray, record);
        QFETCH(bool, first);
        RecordPassParams params = paramsFor(typeCalibrationsPeriod[0], typeCalibrationsPeriod[3]);
        params.calibrationA = quint16(typeCalibrationsPeriod[1]);
        params.calibrationB = quint16(typeCalibrationsPeriod[2]);
        params.endAddress = params.recordSize;
        // The record sits at position 8 of a memory read from address 0x20008 wrapped down.
        std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0x55);
        std::copy(record.begin(), record.end(), image.begin() + 8);
        const QByteArray line = writeRecordLine(params, image.data(), 0x20008, start, first);
        QFETCH(QByteArray, text);
        QCOMPARE(line, "26/11/2014 16:52:00\t" + text + "\r\n");
    }

    // A value exactly halfway goes to the even digit; near ones to their nearer side.
    void halfwayValues_data()
    {
        QTest::addColumn<QList<int>>("typeCalibrationsPeriod");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("first");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1: 14.25") << QList<int>{1, 0, 0, 60} << QByteArray("\x00\xE4", 2) << false << QByteArray("14.2");
        QTest::newRow("1: 14.75") << QList<int>{1, 0, 0, 60} << QByteArray("\x00\xEC", 2) << false << QByteArray("14.8");
        QTest::newRow("3: -39.25, RH 42.25") << QList<int>{3, 0, 0, 60} << QByteArray("\x00\x23\x04\xE2", 4) << false << QByteArray("-39.2\t42.2");
        QTest::newRow("3: -39.55 lies above") << QList<int>{3, 0, 0, 60} << QByteArray("\x00\x05\x04\xE2", 4) << false << QByteArray("-39.5\t42.2");
        QTest::newRow("5: -0.25") << QList<int>{5, 0, 0, 60} << QByteArray("\xFF\xC0", 2) << false << QByteArray("-0.2");
        QTest::newRow("6: 0.25, 0.75") << QList<int>{6, 0, 0, 60} << QByteArray("\x00\x02\x00\x06", 4) << false << QByteArray("0.2\t0.8");
        QTest::newRow("10: 10709.25") << QList<int>{10, 0, 0, 60} << QByteArray("\x4E\x20\x00\x02", 4) << false << QByteArray("10709.2\t0.2");
    }
    void halfwayValues() { valueText(); }

    // Past the wrap, two minutes of records more are lost: 120 at 1 s, after the 0x11 bytes written over.
    void overflowMargin()
    {
        RecordPassParams params = paramsFor(7, 1);
        params.endAddress = 0x20010, params.memoryWrapped = true;
        QVERIFY(isOverflowRecord(params, 136) && !isOverflowRecord(params, 140));
        params.endAddress = 0x20013;   // the end of the lost part lands on the record at 140
        QVERIFY(isOverflowRecord(params, 140) && !isOverflowRecord(params, 144));
    }

    void fastEqualsReference_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("period");
        for (int type = 1; type <= 11; ++type)
            QTest::addRow("type %d", type) << type << 3600;
        QTest::newRow("type 9, unknown period") << 9 << 0;   // no margin, and one stamp for all
    }
    // Every 16-bit word of every column goes through both paths.
    void fastEqualsReference()
    {
        QFETCH(int, type);
        QFETCH(int, period);
        RecordPassParams params = paramsFor(type, period);
        params.calibrationA = 0x8123;
        params.calibrationB = 0xBEEF;
        params.topAddress = 0x3FFFF;
        params.endAddress = 65536 * params.recordSize;
        std::vector<quint8> image(MEMORY_IMAGE_SIZE);
        for (quint32 n = 0; n < 65536; ++n) {
            const quint16 words[2] = {quint16(n), quint16(n * 40503 + 12345)};   // odd factor: every word once
            for (quint32 i = 0; i < params.recordSize; ++i)
                image[n * params.recordSize + i] = quint8(i % 2 ? words[i / 2] : words[i / 2] >> 8);
        }
        QCOMPARE(runPass(params, image), referencePass(params, image));
        params.topAddress = 0x1FFFF;
        params.endAddress = 0x20010;
        params.memoryWrapped = true;
        QCOMPARE(runPass(params, image, 7), referencePass(params, image));
    }
};

QTEST_GUILESS_MAIN(TestLoggerRecords)
#include "tst_logger_records.moc"
