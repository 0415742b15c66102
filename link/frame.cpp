#include "frame.h"

#include <QDebug>

namespace {

std::array<quint16, 256> makeCrcTable()
{
    std::array<quint16, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint16 reg = quint16(i);
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg & 1) ? quint16((reg >> 1) ^ 0x8408) : quint16(reg >> 1);
        table[size_t(i)] = reg;
    }
    return table;
}

const std::array<quint16, 256> crcTable = makeCrcTable();

bool needsStuffing(quint8 byte)
{
    return byte == ESCAPE_CHAR || byte == START_CHAR || byte == END_CHAR;
}

} // namespace

quint16 crc16(const quint8 *bytes, int count)
{
    quint16 crc = 0xFFFF;
    for (int i = 0; i < count; ++i)
        crc = quint16((crc >> 8) ^ crcTable[(crc ^ bytes[i]) & 0xFF]);
    return quint16(crc ^ 0xFFFF);
}

void resetBuffer(FrameBuffer &buffer)
{
    buffer.data.fill(0xFF);
    buffer.length = 0;
}

void setBuffer(FrameBuffer &buffer, const quint8 *bytes, int count)
{
    count = qBound(0, count, FrameBuffer::capacity);
    std::copy(bytes, bytes + count, buffer.data.begin());
    buffer.length = count;
}

void stuffFrame(FrameBuffer &buffer)
{
    if (buffer.length <= 2)
        return;
    std::array<quint8, 2 * FrameBuffer::capacity> work;
    int out = 0;
    const int last = buffer.length - 2;
    for (int i = 1; i <= last; ++i) {
        const quint8 byte = buffer.data[size_t(i)];
        if (needsStuffing(byte)) {
            work[size_t(out++)] = ESCAPE_CHAR;
            work[size_t(out++)] = byte ^ STUFFING_MASK;
        } else {
            work[size_t(out++)] = byte;
        }
    }
    const int newLength = out + 2;
    if (newLength == buffer.length)
        return;
    if (newLength > FrameBuffer::capacity) {
        qDebug() << "/!\\ frame too long once stuffed";
        resetBuffer(buffer);
        return;
    }
    std::copy(work.begin(), work.begin() + out, buffer.data.begin() + 1);
    buffer.length = newLength;
}

void buildFrame(FrameBuffer &buffer, const quint8 *payload, int count)
{
    resetBuffer(buffer);
    // Every payload byte could double once stuffed.
    if (count < 0 || 2 * (count + 2) + 2 >= FrameBuffer::capacity) {
        qDebug() << "/!\\ payload too long for a frame";
        return;
    }
    buffer.length = count + 4;
    buffer.data[0] = START_CHAR;
    std::copy(payload, payload + count, buffer.data.begin() + 1);
    const quint16 crc = crc16(payload, count);
    buffer.data[size_t(count + 1)] = quint8(crc & 0xFF);
    buffer.data[size_t(count + 2)] = quint8(crc >> 8);
    stuffFrame(buffer);
    buffer.data[size_t(buffer.length - 1)] = END_CHAR;
    buffer.data[size_t(buffer.length)] = 0;
}

static void buildRequest(FrameBuffer &buffer, quint32 deviceAddress, quint8 function,
                         quint32 registerAddress, quint8 argument)
{
    const quint8 payload[REQUEST_PAYLOAD_LENGTH] = {
        quint8(deviceAddress >> 24), quint8(deviceAddress >> 16),
        quint8(deviceAddress >> 8), quint8(deviceAddress),
        function,
        quint8(registerAddress >> 24), quint8(registerAddress >> 16),
        quint8(registerAddress >> 8), quint8(registerAddress),
        argument,
    };
    buildFrame(buffer, payload, REQUEST_PAYLOAD_LENGTH);
}

void buildReadRequest(FrameBuffer &buffer, quint32 deviceAddress, quint32 registerAddress, quint8 blocks)
{
    buildRequest(buffer, deviceAddress, FC_READ_BLOCKS, registerAddress, qMin<quint8>(blocks, MAX_BLOCKS));
}

void buildWriteRequest(FrameBuffer &buffer, quint32 deviceAddress, quint32 registerAddress, quint8 value)
{
    buildRequest(buffer, deviceAddress, FC_WRITE_BYTE, registerAddress, value);
}

void unstuffFrame(FrameBuffer &buffer)
{
    if (buffer.length <= 2)
        return;
    std::array<quint8, FrameBuffer::capacity> work;
    int out = 0;
    const int last = buffer.length - 1; // the end character, not walked
    for (int i = 1; i < last; ++i) {
        const quint8 byte = buffer.data[size_t(i)];
        if (byte == START_CHAR || byte == END_CHAR)
            return;
        if (byte == ESCAPE_CHAR) {
            // An escape with no partner before the end character: leave the frame as received.
            if (i + 1 >= last)
                return;
            work[size_t(out++)] = buffer.data[size_t(++i)] ^ STUFFING_MASK;
        } else {
            work[size_t(out++)] = byte;
        }
    }
    const int newLength = out + 2;
    if (newLength == buffer.length)
        return;
    const quint8 endByte = buffer.data[size_t(last)];
    std::copy(work.begin(), work.begin() + out, buffer.data.begin() + 1);
    buffer.data[size_t(newLength - 1)] = endByte;
    buffer.length = newLength;
}

bool checkCrc(const FrameBuffer &buffer)
{
    if (buffer.length <= 6) {
        qDebug() << "(length<6)";
        return false;
    }
    const int len = buffer.length;
    const quint16 computed = crc16(buffer.data.data() + 1, len - 4);
    const quint16 received = quint16(buffer.data[size_t(len - 3)] | (buffer.data[size_t(len - 2)] << 8));
    if (computed != received) {
        qDebug() << "CRC error ! (received " << QString::number(received, 16) << ", computed "
                 << QString::number(computed, 16) << ")";
        return false;
    }
    return true;
}

int checkAnswer(FrameBuffer &buffer, quint8 blocks)
{
    unstuffFrame(buffer);
    int code;
    const int len = buffer.length;
    if (len >= 2 && buffer.data[0] == START_CHAR && buffer.data[size_t(len - 1)] == END_CHAR) {
        code = (len == answerLength(blocks)) ? ANSWER_OK : ANSWER_BAD_LENGTH;
    } else {
        qDebug() << "error of start/end char";
        code = ANSWER_BAD_DELIMITERS;
    }
    if (!checkCrc(buffer)) {
        dumpFrame(buffer);
        qDebug() << "CRC error";
        code = ANSWER_BAD_CRC;
    }
    if (buffer.data[5] == FC_RESPONSE)
        return code;
    qDebug() << "not response function";
    return ANSWER_NOT_RESPONSE;
}

QString hexBytes(const quint8 *bytes, int count)
{
    static const char digits[] = "0123456789abcdef";
    QString text;
    text.reserve(3 * count);
    for (int i = 0; i < count; ++i) {
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 0x0F]);
        text += QLatin1Char(' ');
    }
    return text;
}

void dumpFrame(const FrameBuffer &buffer)
{
    const int len = qBound(0, buffer.length, FrameBuffer::capacity);
    qDebug() << (QStringLiteral("frame (") + QString::number(buffer.length) + QStringLiteral(") : ")
                 + hexBytes(buffer.data.data(), len));
}

quint32 answerDeviceAddress(const FrameBuffer &answer)
{
    const auto &f = answer.data;
    return quint32(f[1]) << 24 | quint32(f[2]) << 16 | quint32(f[3]) << 8 | f[4];
}
