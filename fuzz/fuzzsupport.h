#ifndef VANTOREL_FUZZSUPPORT_H
#define VANTOREL_FUZZSUPPORT_H

// Helpers shared by the libFuzzer targets: quiet Qt output, a hard check that survives
// NDEBUG, chunking of an input, and plain-loop models of the frame rules to compare with.

#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace fuzz {

// RelWithDebInfo defines NDEBUG, so assert() would vanish.
#define FUZZ_CHECK(condition)                                                                \
    do {                                                                                     \
        if (!(condition)) {                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

inline void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

// Installed from LLVMFuzzerInitialize: formatting thousands of debug lines a second would
// dominate the run. FUZZ_VERBOSE=1 keeps them, to read what a reproducer does.
inline void silenceQt()
{
    const char *verbose = std::getenv("FUZZ_VERBOSE");
    if (!verbose || verbose[0] != '1')
        qInstallMessageHandler(quietMessages);
}

struct Chunk {
    const char *bytes;
    qint64 count;
};

struct ChunkedInput {
    std::vector<std::uint8_t> stream;
    std::vector<std::size_t> lengths;  // of the chunks before the last one
};

// Input layout: byte 0, low nibble n = number of chunk lengths that follow (bytes 1..n, each
// a length 0..255, 0 giving an empty chunk); the rest of the input is the byte stream. The
// high nibble of byte 0 is left to the target.
inline ChunkedInput parseChunked(const std::uint8_t *data, std::size_t size)
{
    ChunkedInput input;
    if (size == 0)
        return input;
    std::size_t n = data[0] & 0x0F;
    if (n > size - 1)
        n = size - 1;
    input.lengths.assign(data + 1, data + 1 + n);
    input.stream.assign(data + 1 + n, data + size);
    return input;
}

// Cuts the stream at those lengths, whatever remains going out as one last chunk.
inline std::vector<Chunk> cut(const std::vector<std::uint8_t> &stream, const std::vector<std::size_t> &lengths)
{
    std::vector<Chunk> chunks;
    const char *p = reinterpret_cast<const char *>(stream.data());
    std::size_t left = stream.size();
    for (const std::size_t length : lengths) {
        const std::size_t n = length < left ? length : left;
        chunks.push_back({p, qint64(n)});
        p += n;
        left -= n;
    }
    chunks.push_back({p, qint64(left)});
    return chunks;
}

// Bit by bit, so that a wrong table in the code under test cannot hide.
inline quint16 crcModel(const std::uint8_t *bytes, std::size_t count)
{
    quint16 crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? quint16((crc >> 1) ^ 0x8408) : quint16(crc >> 1);
    }
    return quint16(crc ^ 0xFFFF);
}

inline bool isDelimiter(std::uint8_t byte)
{
    return byte == 0xC0 || byte == 0xC1;
}

} // namespace fuzz

#endif
