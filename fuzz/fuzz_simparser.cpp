// The simulated logger's request parser, alone and behind receive() fed arbitrary chunks.
// Input layout: see fuzz::parseChunked; bits 4-5 of byte 0 choose the logger's own address,
// bit 6 set starts it asleep, bit 7 set gives every request-sized frame a correct CRC first.
// Faults are off and the clock stands still, so every answer must be one the program takes.

#include "frame.h"
#include "fuzzsupport.h"
#include "simulatedlogger.h"

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

using fuzz::Chunk;
using fuzz::isDelimiter;
using sim::LoggedRequest;
using sim::SimulatedLogger;

namespace {

// Own addresses whose bytes need stuffing as well as a plain one.
constexpr std::array<quint32, 4> addresses = {0x1234, 0x7DC0C17D, 0xC1, 0xFFFFFFFF};

bool sameRequest(const LoggedRequest &a, const LoggedRequest &b)
{
    return a.deviceAddress == b.deviceAddress && a.function == b.function
           && a.registerAddress == b.registerAddress && a.argument == b.argument;
}

bool modelUnstuff(const std::uint8_t *body, std::size_t count, std::vector<quint8> &plain)
{
    plain.clear();
    for (std::size_t i = 0; i < count; ++i) {
        quint8 byte = body[i];
        if (isDelimiter(byte))
            return false;
        if (byte == ESCAPE_CHAR) {
            if (++i >= count)
                return false;
            byte = body[i] ^ STUFFING_MASK;
        }
        plain.push_back(byte);
    }
    return true;
}

std::vector<quint8> stuff(const std::vector<quint8> &plain)
{
    std::vector<quint8> out;
    for (const quint8 byte : plain) {
        if (byte == ESCAPE_CHAR || isDelimiter(byte)) {
            out.push_back(ESCAPE_CHAR);
            out.push_back(byte ^ STUFFING_MASK);
        } else {
            out.push_back(byte);
        }
    }
    return out;
}

void appendCrc(std::vector<quint8> &plain)
{
    const quint16 crc = fuzz::crcModel(plain.data(), REQUEST_PAYLOAD_LENGTH);
    plain.resize(REQUEST_PAYLOAD_LENGTH);
    plain.push_back(quint8(crc & 0xFF));
    plain.push_back(quint8(crc >> 8));
}

// What a request body must be, written out independently of the parser.
bool modelParse(const std::uint8_t *body, std::size_t count, LoggedRequest &request)
{
    std::vector<quint8> plain;
    if (!modelUnstuff(body, count, plain) || plain.size() != REQUEST_PAYLOAD_LENGTH + 2)
        return false;
    if (fuzz::crcModel(plain.data(), REQUEST_PAYLOAD_LENGTH) != quint16(plain[10] | plain[11] << 8))
        return false;
    if (plain[4] != FC_WRITE_BYTE && plain[4] != FC_READ_BLOCKS)
        return false;
    request.deviceAddress = quint32(plain[0]) << 24 | quint32(plain[1]) << 16 | quint32(plain[2]) << 8 | plain[3];
    request.function = plain[4];
    request.registerAddress = quint32(plain[5]) << 24 | quint32(plain[6]) << 16 | quint32(plain[7]) << 8 | plain[8];
    request.argument = plain[9];
    return true;
}

// Random bytes rarely carry a correct CRC; without this the logger's register code behind
// the check would only see the seeds' requests.
std::vector<std::uint8_t> repairCrcs(const std::vector<std::uint8_t> &stream)
{
    std::vector<std::uint8_t> out;
    std::vector<quint8> plain;
    std::size_t i = 0;
    while (i < stream.size()) {
        if (stream[i] != START_CHAR) {
            out.push_back(stream[i++]);
            continue;
        }
        std::size_t end = i + 1;
        while (end < stream.size() && !isDelimiter(stream[end]))
            ++end;
        out.push_back(START_CHAR);
        const bool closed = end < stream.size() && stream[end] == END_CHAR;
        if (closed && modelUnstuff(stream.data() + i + 1, end - i - 1, plain)
            && plain.size() == REQUEST_PAYLOAD_LENGTH + 2) {
            appendCrc(plain);
            const std::vector<quint8> body = stuff(plain);
            out.insert(out.end(), body.begin(), body.end());
        } else {
            out.insert(out.end(), stream.begin() + std::ptrdiff_t(i + 1), stream.begin() + std::ptrdiff_t(end));
        }
        if (closed) {
            out.push_back(END_CHAR);
            ++end;
        }
        i = end;
    }
    return out;
}

void checkParse(const std::uint8_t *body, std::size_t count)
{
    LoggedRequest parsed;
    LoggedRequest expected;
    const bool ok = SimulatedLogger::parseRequest(
        QByteArray(reinterpret_cast<const char *>(body), int(count)), parsed);
    FUZZ_CHECK(ok == modelParse(body, count, expected));
    if (ok)
        FUZZ_CHECK(sameRequest(parsed, expected));
}

// Bodies with a correct CRC: the first ten bytes of the stream as the payload, stuffed as
// on the line, and raw, where a delimiter or escape among them must be refused.
void checkParseWithCrc(const std::vector<std::uint8_t> &stream)
{
    if (stream.size() < REQUEST_PAYLOAD_LENGTH)
        return;
    std::vector<quint8> plain(stream.begin(), stream.begin() + REQUEST_PAYLOAD_LENGTH);
    appendCrc(plain);
    const std::vector<quint8> body = stuff(plain);
    checkParse(body.data(), body.size());
    LoggedRequest request;
    const bool ok = SimulatedLogger::parseRequest(
        QByteArray(reinterpret_cast<const char *>(body.data()), int(body.size())), request);
    FUZZ_CHECK(ok == (plain[4] == FC_WRITE_BYTE || plain[4] == FC_READ_BLOCKS));
    checkParse(plain.data(), plain.size());
}

struct Heard {
    std::vector<std::vector<std::uint8_t>> bodies;
    bool asleep = false;
};

// The bodies between each 0xC0 and the next 0xC1 that an awake logger hears; a sleeping one
// hears nothing until a long enough run of 0xFF.
Heard hear(const std::vector<std::uint8_t> &stream, bool asleep, int wakeRun)
{
    Heard heard;
    heard.asleep = asleep;
    std::vector<std::uint8_t> body;
    bool inFrame = false;
    int ffRun = 0;
    for (const std::uint8_t byte : stream) {
        ffRun = byte == PREAMBLE_BYTE ? ffRun + 1 : 0;
        if (heard.asleep && ffRun >= wakeRun)
            heard.asleep = false;
        if (heard.asleep) {
            inFrame = false;
            continue;
        }
        if (byte == START_CHAR) {
            inFrame = true;
            body.clear();
        } else if (inFrame && byte == END_CHAR) {
            inFrame = false;
            heard.bodies.push_back(body);
        } else if (inFrame) {
            body.push_back(byte);
        }
    }
    return heard;
}

// The frames of an answer stream, which must hold nothing else.
std::vector<QByteArray> answerFrames(const QByteArray &out)
{
    std::vector<QByteArray> frames;
    qsizetype i = 0;
    while (i < out.size()) {
        FUZZ_CHECK(quint8(out[i]) == START_CHAR);
        const qsizetype end = out.indexOf(char(END_CHAR), i);
        FUZZ_CHECK(end > i);
        frames.push_back(out.mid(i, end - i + 1));
        i = end + 1;
    }
    return frames;
}

int answerCode(const QByteArray &frame, quint8 blocks, FrameBuffer &buffer)
{
    FUZZ_CHECK(frame.size() <= FrameBuffer::capacity);
    setBuffer(buffer, reinterpret_cast<const quint8 *>(frame.constData()), int(frame.size()));
    return checkAnswer(buffer, blocks);
}

void checkAnswerFrame(const QByteArray &frame, const LoggedRequest &request, quint32 ownAddress)
{
    FrameBuffer buffer;
    if (request.function == FC_WRITE_BYTE) {
        // The acceptance rule of writeByte.
        const int code = answerCode(frame, 1, buffer);
        FUZZ_CHECK(buffer.data[10] != 0 || code == ANSWER_OK || code == ANSWER_BAD_LENGTH);
        return;
    }
    if (request.argument >= 1 && request.argument <= MAX_BLOCKS) {
        FUZZ_CHECK(answerCode(frame, request.argument, buffer) == ANSWER_OK);
    } else {
        // The program never asks for these counts; any well-formed read answer will do.
        bool wellFormed = false;
        for (quint8 blocks = 0; blocks <= MAX_BLOCKS && !wellFormed; ++blocks)
            wellFormed = answerCode(frame, blocks, buffer) == ANSWER_OK;
        FUZZ_CHECK(wellFormed);
    }
    const quint32 answering = quint32(buffer.data[1]) << 24 | quint32(buffer.data[2]) << 16
                              | quint32(buffer.data[3]) << 8 | buffer.data[4];
    FUZZ_CHECK(answering == ownAddress);
}

struct Run {
    QByteArray out;
    QList<LoggedRequest> log;
};

// A new logger costs a 128 KiB mapping and its page faults; assigning a pristine copy to a
// kept instance reuses the storage and still starts from the freshly built state.
SimulatedLogger &freshLogger(int slot, int variant, const sim::LoggerConfig &config, bool asleep)
{
    static std::array<std::unique_ptr<SimulatedLogger>, 4> pristine;
    static std::array<std::unique_ptr<SimulatedLogger>, 2> kept;
    auto &model = pristine[size_t(variant)];
    if (!model)
        model = std::make_unique<SimulatedLogger>(config);
    auto &logger = kept[size_t(slot)];
    if (!logger)
        logger = std::make_unique<SimulatedLogger>(*model);
    else
        *logger = *model;
    if (asleep)
        logger->setSleeping(true);
    return *logger;
}

Run runLogger(SimulatedLogger &logger, const std::vector<Chunk> &chunks, bool asleepAtEnd)
{
    Run run;
    for (const Chunk &chunk : chunks) {
        const sim::Exchange exchange = logger.receive(chunk.bytes, chunk.count, 0);
        FUZZ_CHECK(!exchange.unplug);
        run.out += exchange.answer;
    }
    FUZZ_CHECK(logger.isSleeping() == asleepAtEnd);
    run.log = logger.requests();
    return run;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;

    const int variant = (data[0] >> 4) & 3;
    const bool asleep = data[0] & 0x40;
    const bool repair = data[0] & 0x80;
    const fuzz::ChunkedInput input = fuzz::parseChunked(data, size);
    checkParse(input.stream.data(), input.stream.size());
    checkParseWithCrc(input.stream);
    const std::vector<std::uint8_t> stream = repair ? repairCrcs(input.stream) : input.stream;
    const std::vector<Chunk> chunks = fuzz::cut(stream, input.lengths);
    sim::LoggerConfig config;
    config.address = addresses[size_t(variant)];
    config.timeScale = 0;
    const Heard heard = hear(stream, asleep, config.wakeRunLength);
    std::vector<LoggedRequest> expected;
    for (const auto &body : heard.bodies) {
        checkParse(body.data(), body.size());
        LoggedRequest request;
        if (modelParse(body.data(), body.size(), request))
            expected.push_back(request);
    }

    const Run chunked = runLogger(freshLogger(0, variant, config, asleep), chunks, heard.asleep);
    FUZZ_CHECK(size_t(chunked.log.size()) == expected.size());
    std::vector<LoggedRequest> answered;
    for (size_t i = 0; i < expected.size(); ++i) {
        const LoggedRequest &entry = chunked.log[qsizetype(i)];
        FUZZ_CHECK(sameRequest(entry, expected[i]));
        // The probe to address 0 reaches whichever logger is attached.
        const bool forUs = entry.deviceAddress == config.address || entry.deviceAddress == 0;
        FUZZ_CHECK(entry.answered == forUs);
        if (entry.answered)
            answered.push_back(entry);
    }

    const std::vector<QByteArray> frames = answerFrames(chunked.out);
    FUZZ_CHECK(frames.size() == answered.size());
    for (size_t i = 0; i < frames.size(); ++i)
        checkAnswerFrame(frames[i], answered[i], config.address);

    // Chunk borders must not change what the logger hears or says.
    const Chunk whole = {reinterpret_cast<const char *>(stream.data()), qint64(stream.size())};
    const Run single = runLogger(freshLogger(1, variant, config, asleep), {whole}, heard.asleep);
    FUZZ_CHECK(single.out == chunked.out);
    FUZZ_CHECK(single.log.size() == chunked.log.size());
    for (qsizetype i = 0; i < single.log.size(); ++i)
        FUZZ_CHECK(sameRequest(single.log[i], chunked.log[i]) && single.log[i].answered == chunked.log[i].answered);
    return 0;
}
