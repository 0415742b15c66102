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
    bytes[index < 0 ? bytes.size() + index : index] = char(value);
    return bytes;
}

} // namespace

class FrameTest : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void crc();
    void checkAnswerCodes_data();
    void checkAnswerCodes();
    void checkAnswerMessages();
    void unstuffing_data();
    void unstuffing();
    void shortFrames();
    void bcd();
    void addressText_data();
    void addressText();
    void collector_data();
    void collector();
    void collectorSplitAnywhere();
    void collectorOverlong();
};

void FrameTest::requests_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<quint32>("device");
    QTest::addColumn<quint32>("reg");
    QTest::addColumn<int>("argument");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("identity probe") << false << 0u << 2u << 1 << QByteArray::fromHex("c0000000000800000002011960c1");
    QTest::newRow("stuffed value") << true << 0x1234u << 0x42u << 0xC0
                                   << QByteArray::fromHex("c00000123407000000427de05825c1");
    QTest::newRow("crc low byte 7d") << false << 0x1234u << 0x57u << 1
                                     << QByteArray::fromHex("c000001234080000005701 7d5d24c1");
    QTest::newRow("crc high byte c0") << false << 0x1234u << 0x5Cu << 1
                                      << QByteArray::fromHex("c000001234080000005c01d57de0c1");
    QTest::newRow("blocks above 8 sent as 8") << false << 0u << 2u << 20 << QByteArray::fromHex("c000000000080000000208d8fdc1");
    QTest::newRow("big-endian fields") << false << 0xABCDEF01u << 0x02000040u << 8
                                       << QByteArray::fromHex("c0abcdef010802000040086794c1");
}

void FrameTest::requests()
{
    QFETCH(bool, write);
    QFETCH(quint32, device);
    QFETCH(quint32, reg);
    QFETCH(int, argument);
    QFETCH(QByteArray, frame);
    FrameBuffer buffer;
    if (write)
        buildWriteRequest(buffer, device, reg, quint8(argument));
    else
        buildReadRequest(buffer, device, reg, quint8(argument));
    QCOMPARE(bytesOf(buffer).toHex(' '), frame.toHex(' '));
    QCOMPARE(buffer.data[size_t(buffer.length)], quint8(0));
}

void FrameTest::crc()
{
    QCOMPARE(crc16(reinterpret_cast<const quint8 *>("123456789"), 9), quint16(0x906E));
    QCOMPARE(crc16(nullptr, 0), quint16(0));
}

void FrameTest::checkAnswerCodes_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("blocks");
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("messages");
    const QByteArray one = answer(FC_RESPONSE, 1);
    const QByteArray corrupt = with(one, 12, 0x12);
    QTest::newRow("one block") << one << 1 << 0 << QStringList();
    QTest::newRow("no block") << answer(FC_RESPONSE, 0) << 0 << 0 << QStringList();
    QTest::newRow("eight blocks") << answer(FC_RESPONSE, 8) << 8 << 0 << QStringList();
    QTest::newRow("one block asked as two") << one << 2 << 9 << QStringList();
    QTest::newRow("bad crc") << corrupt << 1 << 2 << QStringList{"CRC error ! (received", "frame (21)", "CRC error"};
    QTest::newRow("bad start") << with(one, 0, 0x00) << 1 << 1 << QStringList{"error of start/end char"};
    QTest::newRow("bad end") << with(one, -1, 0x00) << 1 << 1 << QStringList{"error of start/end char"};
    QTest::newRow("bad start, bad crc") << with(corrupt, 0, 0x00) << 1 << 2
                                        << QStringList{"error of start/end char", "CRC error ! (received", "frame (21)", "CRC error"};
    QTest::newRow("bad crc, not a response") << with(answer(5, 1), 12, 0x12) << 1 << 3
                                             << QStringList{"CRC error ! (received", "frame (21)", "CRC error", "not response function"};
    QTest::newRow("wrong length, not a response") << answer(8, 1) << 2 << 3 << QStringList{"not response function"};
    QTest::newRow("stuffed data") << answer(FC_RESPONSE, 1, 0xC0) << 1 << 0 << QStringList();
    QTest::newRow("six bytes") << QByteArray::fromHex("c001020304c1") << 0 << 3
                               << QStringList{"(length<6)", "frame (6)", "CRC error", "not response function"};
}

void FrameTest::checkAnswerCodes()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, blocks);
    QFETCH(int, code);
    QFETCH(QStringList, messages);
    FrameBuffer buffer = bufferOf(frame);
    DebugCapture capture;
    QCOMPARE(checkAnswer(buffer, quint8(blocks)), code);
    const QStringList lines = capture.lines();
    QCOMPARE(lines.size(), messages.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].contains(messages[i]), qPrintable(lines[i]));
}

void FrameTest::checkAnswerMessages()
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
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(stuffed.data.data()) + 10, 8), QByteArray(8, 0x7D));
    QCOMPARE(stuffed.data[20], END_CHAR);
}

void FrameTest::unstuffing_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QByteArray>("unstuffed");
    QTest::newRow("escape pairs") << QByteArray::fromHex("c0017d5d7de07de102c1") << QByteArray::fromHex("c0017dc0c102c1");
    QTest::newRow("raw c0 inside") << QByteArray::fromHex("c0017d5dc002c1") << QByteArray::fromHex("c0017d5dc002c1");
    QTest::newRow("raw c1 inside") << QByteArray::fromHex("c07de0c102c1") << QByteArray::fromHex("c07de0c102c1");
    QTest::newRow("end byte kept") << QByteArray::fromHex("c07d5d00") << QByteArray::fromHex("c07d00");
}

void FrameTest::unstuffing()
{
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, unstuffed);
    FrameBuffer buffer = bufferOf(received);
    unstuffFrame(buffer);
    QCOMPARE(bytesOf(buffer).toHex(' '), unstuffed.toHex(' '));
}

void FrameTest::shortFrames()
{
    // Seven bytes: the CRC covers bytes 1 to 3 and sits in 4 and 5.
    QByteArray seven = QByteArray::fromHex("c0010203");
    const quint16 crc = crc16(reinterpret_cast<const quint8 *>(seven.constData()) + 1, 3);
    seven.append(char(crc & 0xFF)).append(char(crc >> 8)).append(char(END_CHAR));
    DebugCapture capture;
    QVERIFY(checkCrc(bufferOf(seven)));
    QVERIFY(!checkCrc(bufferOf(with(seven, 2, 0x00))));
    QVERIFY(!checkCrc(bufferOf(QByteArray::fromHex("c001020304c1"))));
    QVERIFY(capture.contains("(length<6)"));
}

void FrameTest::bcd()
{
    for (int v = 0; v <= 99; ++v)
        QCOMPARE(int(fromBcd(toBcd(quint8(v)))), v);
    QCOMPARE(toBcd(59), quint8(0x59));
    QCOMPARE(toBcd(7), quint8(0x07));
    QCOMPARE(fromBcd(0x99), quint8(99));
}

void FrameTest::addressText_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QString>("text");
    QTest::newRow("zero") << 0u << "0000";
    QTest::newRow("four digits") << 0x1234u << "1234";
    QTest::newRow("upper case") << 0x1A2Bu << "1A2B";
    QTest::newRow("largest short") << 0xFFFFu << "FFFF";
    QTest::newRow("smallest long") << 0x10000u << "00010000";
    QTest::newRow("padded long") << 0x12345u << "00012345";
    QTest::newRow("full") << 0xABCDEF01u << "ABCDEF01";
}

void FrameTest::addressText()
{
    QFETCH(quint32, address);
    QFETCH(QString, text);
    QCOMPARE(formatDeviceAddress(address), text);
}

void FrameTest::collector_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QByteArray>("frame");
    auto hex = [](const char *text) { return QByteArray::fromHex(text); };
    QTest::newRow("noise before start") << QList<QByteArray>{hex("ffffff12c1c00102c1")} << true << hex("c00102c1");
    QTest::newRow("second start restarts") << QList<QByteArray>{hex("c00102c003c1")} << true << hex("c003c1");
    QTest::newRow("after end dropped") << QList<QByteArray>{hex("c001c1c005c1"), hex("c009c1")} << true << hex("c001c1");
    QTest::newRow("incomplete") << QList<QByteArray>{hex("c00102"), hex("03")} << false << hex("c0010203");
    QTest::newRow("nothing") << QList<QByteArray>{hex("ffff0102")} << false << QByteArray();
}

void FrameTest::collector()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(bool, complete);
    QFETCH(QByteArray, frame);
    FrameCollector collector;
    for (const QByteArray &chunk : chunks)
        collector.scan(chunk);
    QCOMPARE(collector.isComplete(), complete);
    QCOMPARE(collector.bytes().toHex(' '), frame.toHex(' '));
    collector.clear();
    QVERIFY(!collector.isComplete());
    QVERIFY(collector.bytes().isEmpty());
}

void FrameTest::collectorSplitAnywhere()
{
    const QByteArray frame = answer(FC_RESPONSE, 2, 0xC1);
    const QByteArray line = QByteArray::fromHex("ffffff0102") + frame + QByteArray::fromHex("c0aa");
    for (int cut = 0; cut <= line.size(); ++cut) {
        FrameCollector collector;
        const bool first = collector.scan(line.left(cut));
        QCOMPARE(first, cut >= line.size() - 2);
        QVERIFY(collector.scan(line.mid(cut)));
        QCOMPARE(collector.bytes(), frame);
    }
    FrameCollector bytewise;
    for (char byte : line)
        bytewise.scan(&byte, 1);
    QCOMPARE(bytewise.bytes(), frame);
}

void FrameTest::collectorOverlong()
{
    FrameCollector fits;
    fits.scan(char(START_CHAR) + QByteArray(FrameBuffer::capacity - 2, 0x01) + char(END_CHAR));
    QVERIFY(fits.isComplete());
    QVERIFY(!fits.isOverlong());
    QCOMPARE(fits.bytes().size(), FrameBuffer::capacity);

    FrameCollector tooLong;
    tooLong.scan(char(START_CHAR) + QByteArray(FrameBuffer::capacity + 500, 0x01));
    QVERIFY(!tooLong.isComplete());
    tooLong.scan(QByteArray(1, char(END_CHAR)));
    QVERIFY(tooLong.isComplete());
    QVERIFY(tooLong.isOverlong());
}

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frame.moc"
