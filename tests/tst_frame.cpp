// Frame codec as pure functions: stuffing, CRC, answer checks and their messages.

#include "frame.h"
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

// An answer as a logger sends it: stuffed, with its CRC. The default fill needs stuffing.
QByteArray answer(quint8 function, int blocks, quint8 fill = 0x7D)
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
    void readRequests_data()
    {
        QTest::addColumn<quint32>("reg");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("crc low byte stuffed") << 0x57u << 1 << QByteArray("c000001234080000005701" "7d5d24c1");
        QTest::newRow("crc high byte stuffed") << 0x5Cu << 1 << QByteArray("c000001234080000005c01d5" "7de0c1");
        QTest::newRow("at most 8 blocks") << 0x57u << 20 << QByteArray("c000001234080000005708bcb9c1");
    }
    void readRequests()
    {
        QFETCH(quint32, reg);
        QFETCH(int, blocks);
        FrameBuffer buffer;
        buildReadRequest(buffer, 0x1234, reg, quint8(blocks));
        QTEST(bytesOf(buffer).toHex(), "frame");
    }

    void checkAnswerCodes_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("blocks");
        QTest::addColumn<int>("code");
        const QByteArray one = answer(FC_RESPONSE, 1);
        const QByteArray corrupt = with(answer(FC_RESPONSE, 1, 0x11), 12, 0x12);
        QTest::newRow("one stuffed block") << one << 1 << 0;
        QTest::newRow("one block asked as two") << one << 2 << 9;
        QTest::newRow("bad end") << with(one, one.size() - 1, 0x00) << 1 << 1;
        QTest::newRow("bad crc") << corrupt << 1 << 2;
        QTest::newRow("bad start, bad crc: the later failure wins") << with(corrupt, 0, 0x00) << 1 << 2;
    }
    void checkAnswerCodes()
    {
        QFETCH(QByteArray, frame);
        QFETCH(int, blocks);
        FrameBuffer buffer = bufferOf(frame);
        QTEST(checkAnswer(buffer, quint8(blocks)), "code");
    }

    // Every message family once, from a frame that fails every check.
    void messages()
    {
        FrameBuffer buffer = bufferOf(with(with(answer(5, 1, 0x11), 12, 0x12), 0, 0x00));
        const quint16 received = quint16(buffer.data[19] << 8 | buffer.data[18]);
        const quint16 computed = crc16(buffer.data.data() + 1, 17);
        const QString dump = "\"frame (21) : " + bytesOf(buffer).toHex(' ') + " \"";
        DebugCapture capture;
        QCOMPARE(checkAnswer(buffer, 1), 3);
        QCOMPARE(capture.lines(), QStringList({"error of start/end char",
                                               QStringLiteral("CRC error ! (received  \"%1\" , computed  \"%2\" )")
                                                   .arg(QString::number(received, 16), QString::number(computed, 16)),
                                               dump, "CRC error", "not response function"}));
    }

    void smallCodecs()
    {
        QCOMPARE(crc16(reinterpret_cast<const quint8 *>("123456789"), 9), quint16(0x906E));
        QCOMPARE(toBcd(59), quint8(0x59));
        QCOMPARE(fromBcd(0x59), quint8(59));
        QCOMPARE(formatDeviceAddress(0xFFFF) + formatDeviceAddress(0x10000), QStringLiteral("FFFF00010000"));
    }
};

QTEST_GUILESS_MAIN(FrameTest)
#include "tst_frame.moc"
