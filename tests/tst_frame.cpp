#include "frame.h"
#include "framecollector.h"
#include "testsupport.h"

#include <QtTest>

namespace {

QByteArray bytesOf(const FrameBuffer &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data.data()), buffer.length);
}

FrameBuffer bufferOf(const QByteArray &bytes)
{
    FrameBuffer buffer;
    setBuffer(buffer, reinterpret_cast<const quint8 *>(bytes.constData()), int(bytes.size()));
    return buffer;
}

// An answer as a logger sends it: stuffed, with its CRC.
QByteArray answer(quint8 function, int blocks, quint8 fill = 0x11)
{
    QByteArray payload = QByteArray::fromHex("00001234");
    payload.append(char(function)).append(4, 0).append(8 * blocks, char(fill));
    FrameBuffer buffer;
    buildFrame(buffer, reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    return bytesOf(buffer);
}

QByteArray with(QByteArray bytes, int index, quint8 value)
{
    bytes[index] = char(value);
    return bytes;
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<quint32>("device");
        QTest::addColumn<quint32>("reg");
        QTest::addColumn<int>("argument");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("identity probe") << false << 0u << 2u << 1 << QByteArray("c0000000000800000002011960c1");
        QTest::newRow("stuffed value") << true << 0x1234u << 0x42u << 0xC0 << QByteArray("c00000123407000000427de05825c1");
        QTest::newRow("stuffed crc low") << false << 0x1234u << 0x57u << 1 << QByteArray("c000001234080000005701" "7d5d24c1");
        QTest::newRow("stuffed crc high") << false << 0x1234u << 0x5Cu << 1 << QByteArray("c000001234080000005c01d5" "7de0c1");
        QTest::newRow("more than 8 blocks") << false << 0u << 2u << 20 << QByteArray("c000000000080000000208d8fdc1");
        QTest::newRow("big-endian fields") << false << 0xABCDEF01u << 0x02000040u << 8 << QByteArray("c0abcdef010802000040086794c1");
    }
    void requests()
    {
        QFETCH(quint32, device);
        QFETCH(quint32, reg);
        QFETCH(int, argument);
        QFETCH(QByteArray, frame);
        FrameBuffer buffer;
        QFETCH(bool, write);
        if (write)
            buildWriteRequest(buffer, device, reg, quint8(argument));
        else
            buildReadRequest(buffer, device, reg, quint8(argument));
        QCOMPARE(bytesOf(buffer).toHex(), frame);
        QCOMPARE(buffer.data[size_t(buffer.length)], quint8(0));
    }

    void crc()
    {
        QCOMPARE(crc16(reinterpret_cast<const quint8 *>("123456789"), 9), quint16(0x906E));
        QCOMPARE(crc16(nullptr, 0), quint16(0));
    }

    void checkAnswerCodes_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("messages");
        const QByteArray one = answer(FC_RESPONSE, 1);
        const QByteArray corrupt = with(one, 12, 0x12);
        const QStringList crcFailed{"CRC error ! (received", "frame (21)", "CRC error"};
        QTest::newRow("one block") << one << 1 << 0 << QStringList();
        QTest::newRow("eight blocks") << answer(FC_RESPONSE, 8) << 8 << 0 << QStringList();
        QTest::newRow("one block asked as two") << one << 2 << 9 << QStringList();
        QTest::newRow("stuffed data") << answer(FC_RESPONSE, 1, 0xC0) << 1 << 0 << QStringList();
        QTest::newRow("bad crc") << corrupt << 1 << 2 << crcFailed;
        QTest::newRow("bad end") << with(one, 20, 0x00) << 1 << 1 << QStringList{"error of start/end char"};
        QTest::newRow("bad start, bad crc") << with(corrupt, 0, 0x00) << 1 << 2
                                            << QStringList{"error of start/end char"} + crcFailed;
        QTest::newRow("bad crc, not a response") << with(answer(5, 1), 12, 0x12) << 1 << 3
                                                 << crcFailed + QStringList{"not response function"};
        QTest::newRow("six bytes") << QByteArray::fromHex("c001020304c1") << 0 << 3
                                   << QStringList{"(length<6)", "frame (6)", "CRC error", "not response function"};
    }
    void checkAnswerCodes()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, blocks);
        QFETCH(QStringList, messages);
        FrameBuffer buffer = bufferOf(frame);
        DebugCapture capture;
        QTEST(checkAnswer(buffer, quint8(blocks)), "code");
        const QStringList lines = capture.lines();
        QCOMPARE(lines.size(), messages.size());
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].startsWith(messages[i]) || lines[i].startsWith('"' + messages[i]), qPrintable(lines[i]));
    }

    void messagesAndData()
    {
        FrameBuffer buffer = bufferOf(with(answer(FC_RESPONSE, 1), 12, 0x12));
        const quint16 received = quint16(buffer.data[19] << 8 | buffer.data[18]);
        const quint16 computed = crc16(buffer.data.data() + 1, 17);
        DebugCapture capture;
        checkAnswer(buffer, 1);
        QCOMPARE(capture.lines().value(0), QStringLiteral("CRC error ! (received  \"%1\" , computed  \"%2\" )")
                                               .arg(QString::number(received, 16), QString::number(computed, 16)));
        capture.clear();
        dumpFrame(bufferOf(QByteArray::fromHex("c006c1")));
        QCOMPARE(capture.lines(), QStringList{"\"frame (3) : c0 06 c1 \""});

        // The data reach the caller unstuffed, where replyData looks for them.
        FrameBuffer stuffed = bufferOf(answer(FC_RESPONSE, 1, 0x7D));
        QCOMPARE(checkAnswer(stuffed, 1), 0);
        QCOMPARE(stuffed.length, 21);
        QCOMPARE(bytesOf(stuffed).mid(10, 8), QByteArray(8, 0x7D));
        QCOMPARE(stuffed.data[20], END_CHAR);
    }

    void unstuffing_data()
    {
        QTest::addColumn<QByteArray>("received");
        QTest::addColumn<QByteArray>("unstuffed");
        QTest::newRow("escape pairs") << QByteArray("c0017d5d7de07de102c1") << QByteArray("c0017dc0c102c1");
        QTest::newRow("raw c0 inside") << QByteArray("c0017d5dc002c1") << QByteArray("c0017d5dc002c1");
        QTest::newRow("end byte kept") << QByteArray("c07d5d00") << QByteArray("c07d00");
    }
    void unstuffing()
    {
        QFETCH(QByteArray, received);
        FrameBuffer buffer = bufferOf(QByteArray::fromHex(received));
        unstuffFrame(buffer);
        QTEST(bytesOf(buffer).toHex(), "unstuffed");
    }

    void sevenAndSixBytes()
    {
        // Seven bytes: the CRC covers bytes 1 to 3 and sits in 4 and 5.
        QByteArray seven = QByteArray::fromHex("c0010203");
        const quint16 crc = crc16(reinterpret_cast<const quint8 *>(seven.constData()) + 1, 3);
        seven.append(char(crc & 0xFF)).append(char(crc >> 8)).append(char(END_CHAR));
        DebugCapture capture;
        QVERIFY(checkCrc(bufferOf(seven)));
        QVERIFY(!checkCrc(bufferOf(with(seven, 2, 0x00))));
        QVERIFY(!capture.contains("(length<6)"));
        QVERIFY(!checkCrc(bufferOf(QByteArray::fromHex("c001020304c1"))));
        QVERIFY(capture.contains("(length<6)"));
    }

    void bcdAndAddresses()
    {
        for (int v = 0; v <= 99; ++v)
            QCOMPARE(int(fromBcd(toBcd(quint8(v)))), v);
        QCOMPARE(toBcd(59), quint8(0x59));
        QCOMPARE(fromBcd(0x07), quint8(7));
        const QList<QPair<quint32, QString>> texts{{0x1234, "1234"}, {0x1A2B, "1A2B"}, {0xFFFF, "FFFF"},
                                                   {0x10000, "00010000"}, {0x12345, "00012345"}, {0xABCDEF01, "ABCDEF01"}};
        for (const auto &[address, text] : texts)
            QCOMPARE(formatDeviceAddress(address), text);
    }

    void collector_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("noise before start") << QList<QByteArray>{"ffffff12c1c00102c1"} << true << QByteArray("c00102c1");
        QTest::newRow("second start restarts") << QList<QByteArray>{"c00102c003c1"} << true << QByteArray("c003c1");
        QTest::newRow("after end dropped") << QList<QByteArray>{"c001c1c005c1", "c009c1"} << true << QByteArray("c001c1");
        QTest::newRow("incomplete") << QList<QByteArray>{"ff00c00102", "03"} << false << QByteArray("c0010203");
    }
    void collector()
    {
        QFETCH(QList<QByteArray>, chunks);
        FrameCollector collector;
        for (const QByteArray &chunk : chunks)
            collector.scan(QByteArray::fromHex(chunk));
        QTEST(collector.isComplete(), "complete");
        QTEST(collector.bytes().toHex(), "frame");
        collector.clear();
        QVERIFY(!collector.isComplete() && collector.bytes().isEmpty());
    }

    void collectorSplitAnywhere()
    {
        const QByteArray frame = answer(FC_RESPONSE, 2, 0xC1);
        const QByteArray line = QByteArray::fromHex("ffffff0102") + frame + QByteArray::fromHex("c0aa");
        for (int cut = 0; cut <= line.size(); ++cut) {
            FrameCollector collector;
            QCOMPARE(collector.scan(line.left(cut)), cut >= line.size() - 2);
            QVERIFY(collector.scan(line.mid(cut)));
            QCOMPARE(collector.bytes(), frame);
        }
    }

    void collectorOverlong()
    {
        FrameCollector fits;
        fits.scan(char(START_CHAR) + QByteArray(FrameBuffer::capacity - 2, 0x01) + char(END_CHAR));
        QVERIFY(fits.isComplete() && !fits.isOverlong());
        QCOMPARE(fits.bytes().size(), FrameBuffer::capacity);
        FrameCollector tooLong;
        tooLong.scan(char(START_CHAR) + QByteArray(FrameBuffer::capacity + 500, 0x01));
        QVERIFY(!tooLong.isComplete());
        QVERIFY(tooLong.scan(QByteArray(1, char(END_CHAR))));
        QVERIFY(tooLong.isOverlong());
    }
};

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frame.moc"
