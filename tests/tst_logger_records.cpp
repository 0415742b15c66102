// Record lines of a download: value rules, placeholders, wrap-around, stamps, and the fast
// pass against the one-line reference.

#include "records.h"

#include <QTest>

#include <vector>

namespace {

const QDateTime start(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);

RecordPassParams paramsFor(int type, int period = 60)
{
    RecordPassParams params;
    params.deviceType = quint8(type);
    params.recordSize = (type == 3 || type == 6 || type == 7 || type == 10) ? 4 : 2;
    params.periodSeconds = period;
    params.startTime = start;
    return params;
}

QByteArray runPass(const RecordPassParams &params, const std::vector<quint8> &image, int slice = 4099)
{
    RecordPass pass(params, image.data());
    QByteArray out;
    while (!pass.atEnd())
        pass.writeLines(out, slice);
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
    void scaledValue_data()
    {
        QTest::addColumn<int>("period");
        QTest::addColumn<double>("value");
        QTest::newRow("1 s") << 1 << 123.0;
        QTest::newRow("5 s") << 5 << 98.0;
        QTest::newRow("15 s") << 15 << 131.0;
        QTest::newRow("240 s") << 240 << 65.0;
        QTest::newRow("3600 s") << 3600 << 139.0;
        QTest::newRow("7 s") << 7 << 0.0;
        QTest::newRow("0 s") << 0 << 0.0;
    }

    void scaledValue()
    {
        QFETCH(int, period);
        QTEST(periodScaledValue(1234, period), "value");
    }

    void valueText_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("calA");
        QTest::addColumn<int>("calB");
        QTest::addColumn<int>("period");
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<bool>("first");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("1: signed") << 1 << 0 << 0 << 60 << QByteArray("\xFF\xF0") << false << QByteArray("-1.0");
        QTest::newRow("1: first") << 1 << 0 << 0 << 60 << QByteArray("\x01\x90") << true << QByteArray("25.0");
        QTest::newRow("2: first") << 2 << 0 << 0 << 60 << QByteArray("\x12\x34") << true << QByteArray("0");
        QTest::newRow("2: signed") << 2 << 0 << 0 << 60 << QByteArray("\xFF\xFF") << false << QByteArray("-1");
        QTest::newRow("3") << 3 << 0 << 0 << 60 << QByteArray("\x17\xDE\x05\xDC") << false << QByteArray("21.5\t50.5");
        QTest::newRow("3: clamps") << 3 << 0 << 0 << 60 << QByteArray("\x00\x00\x1C\x40", 4) << false << QByteArray("-39.6\t100.0");
        QTest::newRow("3: negative RH") << 3 << 0 << 0 << 60 << QByteArray("\x00\x00\x00\x00", 4) << false << QByteArray("-39.6\t0.0");
        QTest::newRow("4: first") << 4 << 0 << 0 << 5 << QByteArray("\x04\xD2") << true << QByteArray("-");
        QTest::newRow("4: 5 s") << 4 << 0 << 0 << 5 << QByteArray("\x04\xD2") << false << QByteArray("98.0");
        QTest::newRow("9: unsigned") << 9 << 0 << 0 << 1 << QByteArray("\xFF\xFF") << false << QByteArray("6553.0");
        QTest::newRow("5: offset") << 5 << 0xFF00 << 0 << 60 << QByteArray("\x1A\x00", 2) << false << QByteArray("25.0");
        QTest::newRow("5: signed") << 5 << 0 << 0 << 60 << QByteArray("\xFF\x00", 2) << false << QByteArray("-1.0");
        QTest::newRow("6") << 6 << 0 << 0 << 60 << QByteArray("\x00\xC8\xFF\xF8", 4) << false << QByteArray("25.0\t-1.0");
        QTest::newRow("7: first") << 7 << 0 << 2300 << 60 << QByteArray("\x04\xD2\x04\xE2") << true << QByteArray("-\t-");
        QTest::newRow("7: power, volts") << 7 << 0 << 2300 << 60 << QByteArray("\x04\xD2\x04\xE2") << false << QByteArray("131.0\t100.0");
        QTest::newRow("7: volts signed") << 7 << 0 << 4600 << 60 << QByteArray("\x04\xD2\xFB\x1E") << false << QByteArray("131.0\t-200.0");
        QTest::newRow("8") << 8 << 0 << 0 << 60 << QByteArray("\xFF\xFF") << true << QByteArray("-1");
        QTest::newRow("10") << 10 << 0 << 0 << 60 << QByteArray("\x00\x08\x00\x10", 4) << false << QByteArray("4.3\t2.0");
        QTest::newRow("11") << 11 << 0 << 0 << 60 << QByteArray("\x00\x08", 2) << true << QByteArray("");
    }

    void valueText()
    {
        QFETCH(int, type);
        QFETCH(int, calA);
        QFETCH(int, calB);
        QFETCH(int, period);
        QFETCH(QByteArray, record);
        QFETCH(bool, first);
        QFETCH(QByteArray, text);
        RecordPassParams params = paramsFor(type, period);
        params.calibrationA = quint16(calA);
        params.calibrationB = quint16(calB);
        params.endAddress = params.recordSize;
        // The record sits at position 8 of a memory read from address 0x20008 wrapped down.
        std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0x55);
        std::copy(record.begin(), record.end(), image.begin() + 8);
        const QByteArray line = writeRecordLine(params, image.data(), 0x20008, start, first);
        QCOMPARE(line, "26/11/2014 16:52:00\t" + text + "\r\n");
    }

    void wrappedMemory_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("usedBytes");
        QTest::addColumn<int>("period");
        QTest::addColumn<int>("overflowLines");
        QTest::addColumn<QByteArray>("overflow");
        QTest::addColumn<QByteArray>("placeholder");
        QTest::addColumn<QByteArray>("atWrap");
        QTest::newRow("2-byte, 60 s") << 4 << 0x20010u << 60 << 10 << QByteArray("overflow\t") << QByteArray("-") << QByteArray("131.0");
        QTest::newRow("4-byte, 60 s") << 7 << 0x20010u << 60 << 5 << QByteArray("overflow\toverflow") << QByteArray("-\t-") << QByteArray("131.0\t0.0");
        QTest::newRow("2-byte, 1 s") << 2 << 0x20010u << 1 << 69 << QByteArray("overflow\t") << QByteArray("0") << QByteArray("1234");
        QTest::newRow("unknown period") << 2 << 0x20010u << 0 << 9 << QByteArray("overflow\t") << QByteArray("0") << QByteArray("1234");
    }

    void wrappedMemory()
    {
        QFETCH(int, type);
        QFETCH(quint32, usedBytes);
        QFETCH(int, period);
        QFETCH(int, overflowLines);
        QFETCH(QByteArray, overflow);
        QFETCH(QByteArray, placeholder);
        QFETCH(QByteArray, atWrap);
        RecordPassParams params = paramsFor(type, period);
        params.topAddress = 0x1FFFF;
        params.endAddress = usedBytes;
        params.memoryWrapped = true;
        std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
        image[0] = 0x04;
        image[1] = 0xD2;   // the record of address 0x20000

        const QList<QByteArray> lines = runPass(params, image).split('\n');
        QCOMPARE(lines.size() - 1, int(usedBytes / params.recordSize));
        QCOMPARE(lines[0].mid(20), overflow + "\r");
        QCOMPARE(lines[overflowLines - 1].mid(20), overflow + "\r");
        QCOMPARE(lines[overflowLines].mid(20), placeholder + "\r");
        QCOMPARE(lines[0x20000 / params.recordSize].mid(20), atWrap + "\r");
    }

    void stamps()
    {
        RecordPassParams params = paramsFor(1, 60);
        params.endAddress = 6;
        std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
        QCOMPARE(runPass(params, image), QByteArray("26/11/2014 16:52:00\t0.0\r\n26/11/2014 16:53:00\t0.0\r\n"
                                                    "26/11/2014 16:54:00\t0.0\r\n"));
        params.periodSeconds = 0;
        QCOMPARE(runPass(params, image).count("26/11/2014 16:52:00"), 3);
        params.startTime = QDateTime(QDate(2014, 2, 30), QTime(), Qt::UTC);
        QCOMPARE(runPass(params, image), QByteArray("-\t0.0\r\n-\t0.0\r\n-\t0.0\r\n"));
    }

    void guards()
    {
        std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0x11);
        RecordPassParams params = paramsFor(6);
        params.recordSize = 2;   // stale: B of the last record lies past the image
        params.topAddress = 0x3FFFF;
        params.endAddress = MEMORY_IMAGE_SIZE;
        QVERIFY(runPass(params, image).endsWith("\t546.1\t0.0\r\n"));
        params.topAddress = 0xFFFFFFFF;   // no mask: positions past the image read as 0
        params.endAddress = MEMORY_IMAGE_SIZE + 2;
        const QList<QByteArray> lines = runPass(params, image).split('\n');
        QCOMPARE(lines[lines.size() - 3].mid(20), QByteArray("546.1\t0.0\r"));
        QCOMPARE(lines[lines.size() - 2].mid(20), QByteArray("0.0\t0.0\r"));
        params.endAddress = 101;
        QCOMPARE(RecordPass(params, image.data()).lineCount(), quint64(51));
        params.recordSize = 0;
        QCOMPARE(RecordPass(params, image.data()).lineCount(), quint64(51));
        params.memoryWrapped = true;   // inconsistent with endAddress below topAddress
        QVERIFY(!runPass(params, image).contains("overflow"));
    }

    void fastEqualsReference_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("period");
        for (int type = 1; type <= 11; ++type)
            QTest::addRow("type %d", type) << type << 3600;
        QTest::newRow("type 4, 240 s") << 4 << 240;
        QTest::newRow("type 7, 1 s") << 7 << 1;
        QTest::newRow("type 9, 0 s") << 9 << 0;
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
            const quint16 b = quint16(n * 40503 + 12345);   // odd factor: every word once
            quint8 *record = image.data() + n * params.recordSize;
            record[0] = quint8(n >> 8);
            record[1] = quint8(n);
            if (params.recordSize == 4) {
                record[2] = quint8(b >> 8);
                record[3] = quint8(b);
            }
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
