// checkAnswer and unstuffing on arbitrary received bytes, and buildFrame round trips.
// Input: byte 0 = number of blocks asked for; the rest = the received frame, and also the
// payload of the round trip.

#include "frame.h"
#include "fuzzsupport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using fuzz::crcModel;
using fuzz::isDelimiter;

namespace {

struct Model {
    std::array<quint8, FrameBuffer::capacity> data;
    int length = 0;
    int code = 0;
};

// The answer check written out again as plain loops, to compare with checkAnswer byte for byte.
Model modelCheck(const quint8 *bytes, int count, quint8 blocks)
{
    Model m;
    m.data.fill(0xFF);
    m.length = std::min(count, FrameBuffer::capacity);
    std::copy(bytes, bytes + m.length, m.data.begin());

    if (m.length > 2) {
        std::vector<quint8> body;
        bool keep = false;
        const int last = m.length - 1;
        for (int i = 1; i < last; ++i) {
            const quint8 byte = m.data[size_t(i)];
            if (isDelimiter(byte)) {
                keep = true;
                break;
            }
            if (byte == ESCAPE_CHAR) {
                // The escape's partner would be the end character: the rules leave this open,
                // the code keeps the frame as received and so does the model.
                if (i + 1 >= last) {
                    keep = true;
                    break;
                }
                body.push_back(m.data[size_t(++i)] ^ STUFFING_MASK);
            } else {
                body.push_back(byte);
            }
        }
        const int newLength = int(body.size()) + 2;
        if (!keep && newLength != m.length) {
            const quint8 endByte = m.data[size_t(last)];
            std::copy(body.begin(), body.end(), m.data.begin() + 1);
            m.data[size_t(newLength - 1)] = endByte;
            m.length = newLength;
        }
    }

    const int len = m.length;
    if (len >= 2 && m.data[0] == START_CHAR && m.data[size_t(len - 1)] == END_CHAR)
        m.code = (len == 13 + 8 * int(blocks)) ? ANSWER_OK : ANSWER_BAD_LENGTH;
    else
        m.code = ANSWER_BAD_DELIMITERS;
    const bool crcOk = len > 6
        && crcModel(m.data.data() + 1, size_t(len - 4)) == quint16(m.data[size_t(len - 3)] | m.data[size_t(len - 2)] << 8);
    if (!crcOk)
        m.code = ANSWER_BAD_CRC;
    if (m.data[5] != FC_RESPONSE)
        m.code = ANSWER_NOT_RESPONSE;
    return m;
}

void checkReceived(const quint8 *bytes, int count, quint8 blocks)
{
    FrameBuffer buffer;
    setBuffer(buffer, bytes, count);
    FUZZ_CHECK(buffer.length == std::min(count, FrameBuffer::capacity));
    const int code = checkAnswer(buffer, blocks);

    FUZZ_CHECK(buffer.length >= 0 && buffer.length <= FrameBuffer::capacity);
    FUZZ_CHECK(code == ANSWER_OK || code == ANSWER_BAD_DELIMITERS || code == ANSWER_BAD_CRC
               || code == ANSWER_NOT_RESPONSE || code == ANSWER_BAD_LENGTH);
    if (code == ANSWER_OK) {
        FUZZ_CHECK(buffer.length == answerLength(blocks));
        FUZZ_CHECK(buffer.data[0] == START_CHAR && buffer.data[size_t(buffer.length - 1)] == END_CHAR);
        FUZZ_CHECK(buffer.data[5] == FC_RESPONSE);
    }

    const Model m = modelCheck(bytes, count, blocks);
    FUZZ_CHECK(code == m.code);
    FUZZ_CHECK(buffer.length == m.length);
    // The whole storage: nothing past the frame may be touched either.
    FUZZ_CHECK(buffer.data == m.data);
}

int escapedCount(const quint8 *bytes, int count)
{
    int n = 0;
    for (int i = 0; i < count; ++i)
        n += (bytes[i] == ESCAPE_CHAR || isDelimiter(bytes[i])) ? 1 : 0;
    return n;
}

void checkRoundTrip(const quint8 *payload, int count, quint8 blocks)
{
    FrameBuffer frame;
    buildFrame(frame, payload, count);
    // Every byte might double when stuffed; longer payloads are refused outright.
    if (2 * (count + 2) + 2 >= FrameBuffer::capacity) {
        FUZZ_CHECK(frame.length == 0);
        return;
    }
    const quint16 crc = crcModel(payload, size_t(count));
    const quint8 crcBytes[2] = {quint8(crc & 0xFF), quint8(crc >> 8)};
    const int len = frame.length;
    FUZZ_CHECK(len == count + 4 + escapedCount(payload, count) + escapedCount(crcBytes, 2));
    FUZZ_CHECK(len < FrameBuffer::capacity);
    FUZZ_CHECK(frame.data[0] == START_CHAR && frame.data[size_t(len - 1)] == END_CHAR);
    FUZZ_CHECK(frame.data[size_t(len)] == 0);
    for (int i = 1; i < len - 1; ++i)
        FUZZ_CHECK(!isDelimiter(frame.data[size_t(i)]));

    // What the line would carry, judged as an answer.
    checkReceived(frame.data.data(), len, blocks);
    if (count >= 5) {
        FrameBuffer received;
        setBuffer(received, frame.data.data(), len);
        const int code = checkAnswer(received, blocks);
        const int expected = payload[4] != FC_RESPONSE ? ANSWER_NOT_RESPONSE
                             : (count + 4 == answerLength(blocks) ? ANSWER_OK : ANSWER_BAD_LENGTH);
        FUZZ_CHECK(code == expected);
    }

    unstuffFrame(frame);
    FUZZ_CHECK(frame.length == count + 4);
    FUZZ_CHECK(frame.data[0] == START_CHAR && frame.data[size_t(count + 3)] == END_CHAR);
    FUZZ_CHECK(std::equal(payload, payload + count, frame.data.begin() + 1));
    FUZZ_CHECK(frame.data[size_t(count + 1)] == crcBytes[0] && frame.data[size_t(count + 2)] == crcBytes[1]);
    FUZZ_CHECK(crc16(payload, count) == crc);
}

void checkRequests(const quint8 *fields, int count)
{
    if (count < 10)
        return;
    const quint32 device = quint32(fields[0]) << 24 | quint32(fields[1]) << 16 | quint32(fields[2]) << 8 | fields[3];
    const quint32 reg = quint32(fields[4]) << 24 | quint32(fields[5]) << 16 | quint32(fields[6]) << 8 | fields[7];
    const quint8 argument = fields[8];
    for (const quint8 function : {FC_READ_BLOCKS, FC_WRITE_BYTE}) {
        const quint8 sent = function == FC_READ_BLOCKS ? std::min<quint8>(argument, MAX_BLOCKS) : argument;
        const quint8 payload[REQUEST_PAYLOAD_LENGTH] = {fields[0], fields[1], fields[2], fields[3], function,
                                                        fields[4], fields[5], fields[6], fields[7], sent};
        FrameBuffer expected;
        buildFrame(expected, payload, REQUEST_PAYLOAD_LENGTH);
        FrameBuffer built;
        if (function == FC_READ_BLOCKS)
            buildReadRequest(built, device, reg, argument);
        else
            buildWriteRequest(built, device, reg, argument);
        FUZZ_CHECK(built.length == expected.length);
        FUZZ_CHECK(std::equal(expected.data.begin(), expected.data.begin() + expected.length, built.data.begin()));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceQt();
    static const char check[] = "123456789";
    FUZZ_CHECK(crc16(reinterpret_cast<const quint8 *>(check), 9) == 0x906E);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const quint8 blocks = data[0];
    const quint8 *bytes = data + 1;
    const int count = int(std::min<std::size_t>(size - 1, 1 << 16));
    checkReceived(bytes, count, blocks);
    checkRoundTrip(bytes, count, blocks);
    checkRequests(bytes, count);
    return 0;
}
