// The receive scanner fed arbitrary chunks. Input layout: see fuzz::parseChunked.

#include "framecollector.h"
#include "fuzzsupport.h"

#include <algorithm>
#include <vector>

using fuzz::Chunk;

namespace {

struct Model {
    std::vector<quint8> frame;  // unbounded, unlike the collector
    bool complete = false;
};

// The scan over the stream as one piece: chunk borders must not matter, since the collector
// ignores everything once a frame is complete.
Model modelScan(const std::vector<std::uint8_t> &stream)
{
    Model m;
    bool inFrame = false;
    for (const std::uint8_t byte : stream) {
        if (byte == START_CHAR) {
            m.frame.assign(1, byte);
            inFrame = true;
        } else if (inFrame) {
            m.frame.push_back(byte);
            if (byte == END_CHAR) {
                m.complete = true;
                break;
            }
        }
    }
    return m;
}

void checkAgainstModel(const FrameCollector &collector, const Model &m)
{
    const QByteArray &bytes = collector.bytes();
    FUZZ_CHECK(collector.isComplete() == m.complete);
    FUZZ_CHECK(collector.isOverlong() == (m.frame.size() > size_t(FrameBuffer::capacity)));
    // Overlong frames stop growing just past the buffer size.
    FUZZ_CHECK(bytes.size() <= FrameBuffer::capacity + 1);
    FUZZ_CHECK(size_t(bytes.size()) == std::min(m.frame.size(), size_t(FrameBuffer::capacity) + 1));
    FUZZ_CHECK(std::equal(bytes.begin(), bytes.end(), m.frame.begin(),
                          [](char a, quint8 b) { return quint8(a) == b; }));

    if (collector.isComplete() && !collector.isOverlong()) {
        FUZZ_CHECK(bytes.size() >= 2);
        FUZZ_CHECK(quint8(bytes.front()) == START_CHAR);
        FUZZ_CHECK(quint8(bytes.back()) == END_CHAR);
        FUZZ_CHECK(bytes.count(char(START_CHAR)) == 1);
        FUZZ_CHECK(bytes.count(char(END_CHAR)) == 1);
    }
    if (!bytes.isEmpty())
        FUZZ_CHECK(quint8(bytes.front()) == START_CHAR);
}

void feed(FrameCollector &collector, const std::vector<Chunk> &chunks)
{
    bool completed = false;
    QByteArray atCompletion;
    for (const Chunk &chunk : chunks) {
        const bool done = collector.scan(chunk.bytes, chunk.count);
        FUZZ_CHECK(done == collector.isComplete());
        // Once complete, later chunks change nothing.
        FUZZ_CHECK(!completed || (done && collector.bytes() == atCompletion));
        if (done && !completed) {
            completed = true;
            atCompletion = collector.bytes();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const fuzz::ChunkedInput input = fuzz::parseChunked(data, size);
    const std::vector<std::uint8_t> &stream = input.stream;
    const std::vector<Chunk> chunks = fuzz::cut(stream, input.lengths);
    const Model m = modelScan(stream);

    FrameCollector chunked;
    feed(chunked, chunks);
    checkAgainstModel(chunked, m);

    FrameCollector whole;
    whole.scan(QByteArray(reinterpret_cast<const char *>(stream.data()), int(stream.size())));
    checkAgainstModel(whole, m);
    FUZZ_CHECK(whole.bytes() == chunked.bytes());
    FUZZ_CHECK(whole.isComplete() == chunked.isComplete());
    FUZZ_CHECK(whole.isOverlong() == chunked.isOverlong());

    // A cleared collector is as good as a new one.
    chunked.clear();
    FUZZ_CHECK(!chunked.isComplete() && chunked.bytes().isEmpty() && !chunked.isOverlong());
    feed(chunked, chunks);
    checkAgainstModel(chunked, m);
    return 0;
}
