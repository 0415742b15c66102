// Writes the seed corpus of the fuzz targets: fuzz_make_corpus <directory>, normally fuzz/corpus.
// The frames come from buildFrame itself; the two wire vectors are checked against it first.

#include "frame.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (const int v : values)
        out.append(char(v));
    return out;
}

QByteArray frameOf(const QByteArray &payload)
{
    FrameBuffer buffer;
    buildFrame(buffer, reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    return QByteArray(reinterpret_cast<const char *>(buffer.data.data()), buffer.length);
}

QByteArray bufferBytes(const FrameBuffer &buffer)
{
    return QByteArray(reinterpret_cast<const char *>(buffer.data.data()), buffer.length);
}

QByteArray answerPayload(quint32 address, const QByteArray &data)
{
    QByteArray payload = bytes({int(address >> 24 & 0xFF), int(address >> 16 & 0xFF), int(address >> 8 & 0xFF),
                                int(address & 0xFF), FC_RESPONSE, 0, 0, 0, 0});
    return payload + data;
}

QByteArray readRequest(quint32 address, quint32 reg, quint8 blocks)
{
    FrameBuffer buffer;
    buildReadRequest(buffer, address, reg, blocks);
    return bufferBytes(buffer);
}

QByteArray writeRequest(quint32 address, quint32 reg, quint8 value)
{
    FrameBuffer buffer;
    buildWriteRequest(buffer, address, reg, value);
    return bufferBytes(buffer);
}

bool crcNeedsStuffing(const QByteArray &payload)
{
    const quint16 crc = crc16(reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    for (const quint8 b : {quint8(crc & 0xFF), quint8(crc >> 8)})
        if (b == ESCAPE_CHAR || b == START_CHAR || b == END_CHAR)
            return true;
    return false;
}

bool write(const QString &dir, const QString &name, const QByteArray &content)
{
    QDir().mkpath(dir);
    QFile file(dir + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);

    const QByteArray preamble(3, char(PREAMBLE_BYTE));
    const QByteArray probe = readRequest(0, 2, 1);
    const QByteArray writeC0 = writeRequest(0x1234, 0x42, 0xC0);
    if (preamble + probe != bytes({0xFF, 0xFF, 0xFF, 0xC0, 0, 0, 0, 0, 8, 0, 0, 0, 2, 1, 0x19, 0x60, 0xC1})
        || writeC0 != bytes({0xC0, 0, 0, 0x12, 0x34, 7, 0, 0, 0, 0x42, 0x7D, 0xE0, 0x58, 0x25, 0xC1})) {
        std::fprintf(stderr, "the frame code does not give the wire vectors\n");
        return 1;
    }

    const QByteArray identity = bytes({3, 12, 0, 0, 0, 0, 2, 0});
    const QByteArray answer1 = frameOf(answerPayload(0x1234, identity));
    QByteArray memory;
    for (int i = 0; i < 64; ++i)
        memory.append(char(i));
    memory[5] = char(ESCAPE_CHAR);
    memory[20] = char(START_CHAR);
    memory[40] = char(END_CHAR);
    const QByteArray answer8 = frameOf(answerPayload(0x1234, memory));

    // A one-block answer and a request whose CRC carries a byte that must be stuffed.
    QByteArray stuffedCrcPayload;
    for (int v = 0; v < 256 && stuffedCrcPayload.isEmpty(); ++v) {
        QByteArray data = identity;
        data[7] = char(v);
        if (crcNeedsStuffing(answerPayload(0x1234, data)))
            stuffedCrcPayload = answerPayload(0x1234, data);
    }
    QByteArray stuffedCrcRequest;
    for (quint32 reg = 0x40; reg < 0x140 && stuffedCrcRequest.isEmpty(); ++reg) {
        const QByteArray payload = bytes({0, 0, 0x12, 0x34, FC_READ_BLOCKS, 0, 0, int(reg >> 8), int(reg & 0xFF), 1});
        if (crcNeedsStuffing(payload))
            stuffedCrcRequest = frameOf(payload);
    }
    if (stuffedCrcPayload.isEmpty() || stuffedCrcRequest.isEmpty()) {
        std::fprintf(stderr, "no frame with a stuffed CRC byte found\n");
        return 1;
    }
    const QByteArray stuffedCrcAnswer = frameOf(stuffedCrcPayload);
    QByteArray badCrcAnswer = answer1;
    badCrcAnswer[12] = char(badCrcAnswer[12] ^ 0x01);
    const QByteArray noise = bytes({0x00, 0xFF, 0x7D, 0xC1, 0x55, 0xAA, 0x7D, 0x7D, 0x13, 0xFF, 0xFF, 0xC1, 0x06, 0x80});

    bool ok = true;
    // Byte 0: the number of blocks asked for.
    const QString answers = root + QStringLiteral("/fuzz_checkanswer");
    ok &= write(answers, QStringLiteral("read_request"), bytes({1}) + probe);
    ok &= write(answers, QStringLiteral("write_request"), bytes({1}) + writeC0);
    ok &= write(answers, QStringLiteral("answer_1block"), bytes({1}) + answer1);
    ok &= write(answers, QStringLiteral("answer_1block_asked_2"), bytes({2}) + answer1);
    ok &= write(answers, QStringLiteral("answer_8blocks"), bytes({8}) + answer8);
    ok &= write(answers, QStringLiteral("answer_stuffed_crc"), bytes({1}) + stuffedCrcAnswer);
    ok &= write(answers, QStringLiteral("answer_bad_crc"), bytes({1}) + badCrcAnswer);
    ok &= write(answers, QStringLiteral("noise"), bytes({1}) + noise);

    // Byte 0: the number of chunk lengths that follow it.
    const QString collector = root + QStringLiteral("/fuzz_framecollector");
    ok &= write(collector, QStringLiteral("request_with_preamble"), bytes({0}) + preamble + probe);
    ok &= write(collector, QStringLiteral("noise_then_answer"), bytes({0}) + noise + answer1);
    ok &= write(collector, QStringLiteral("answer_in_chunks"), bytes({3, 5, 7, 2}) + answer8);
    ok &= write(collector, QStringLiteral("restarted_frame"), bytes({1, 3, 0x11, 0xC0, 0x22, 0x33}) + answer1 + noise);
    ok &= write(collector, QStringLiteral("answer_stuffed_crc"), bytes({0}) + stuffedCrcAnswer);
    ok &= write(collector, QStringLiteral("noise"), bytes({2, 4, 0}) + noise);

    // Byte 0: chunk lengths as above; bits 4-5 the logger's address (0: 0x1234, 1: 0x7DC0C17D),
    // bit 6 set: it starts asleep, bit 7 set: CRCs are made right before the logger hears them.
    const QString parser = root + QStringLiteral("/fuzz_simparser");
    ok &= write(parser, QStringLiteral("probe"), bytes({0}) + preamble + probe);
    ok &= write(parser, QStringLiteral("read_identity"), bytes({0}) + preamble + readRequest(0x1234, 0x01000000, 1));
    ok &= write(parser, QStringLiteral("write_request"), bytes({0}) + preamble + writeC0);
    ok &= write(parser, QStringLiteral("read_memory_8blocks"), bytes({0}) + preamble + readRequest(0x1234, 0x02000000, 8));
    ok &= write(parser, QStringLiteral("request_in_chunks"),
                bytes({4, 3, 3, 5, 2}) + preamble + readRequest(0x1234, 0x0100001A, 1));
    ok &= write(parser, QStringLiteral("read_then_write"),
                bytes({0}) + preamble + readRequest(0x1234, 0x42, 1) + preamble + writeRequest(0x1234, 0x0100001A, 5));
    ok &= write(parser, QStringLiteral("request_stuffed_crc"), bytes({0}) + preamble + stuffedCrcRequest);
    ok &= write(parser, QStringLiteral("stuffed_own_address"),
                bytes({0x10}) + preamble + readRequest(0x7DC0C17D, 0x01000000, 2));
    ok &= write(parser, QStringLiteral("noise"), bytes({0}) + noise + preamble);
    ok &= write(parser, QStringLiteral("write_type_crc_repaired"),
                bytes({0x80, 0xFF, 0xFF, 0xFF, 0xC0, 0, 0, 0x12, 0x34, FC_WRITE_BYTE, 1, 0, 0, 0, 8, 0, 0, 0xC1})
                    + preamble + readRequest(0x1234, 0x40, 2));
    // The first request is lost in sleep; the wake-up burst lets the second through.
    ok &= write(parser, QStringLiteral("asleep_then_woken"),
                bytes({0x42, 20, 53}) + preamble + probe + QByteArray(53, char(PREAMBLE_BYTE)) + preamble + probe);
    return ok ? 0 : 1;
}
