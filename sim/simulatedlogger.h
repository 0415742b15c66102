#ifndef VANTOREL_SIM_SIMULATEDLOGGER_H
#define VANTOREL_SIM_SIMULATEDLOGGER_H

// A data logger as seen from the serial line: its registers, its record memory, its
// clock, its sleep, and faults on demand. No I/O here: bytes in, bytes out.
//
// Registers are one flat map: 0x00..0xFF live values, 0x01000000..0x010000FF
// configuration, 0x02000000 + offset the record memory (offsets wrap at its size);
// any other address reads 0xFF and ignores writes. A read of 0 blocks answers 1, of
// more than 8 answers 8. A write is acknowledged by one block: the value written,
// then seven zeros. Writing a used-bytes byte stops recording; writing 0x43 starts the
// new campaign from the start time, period and counter held in the registers, R
// (0x42..0x43) seconds into its first period. The used-bytes counter wraps at 24 bits.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

struct LoggerConfig {
    quint32 address = 0x1234;
    quint8 deviceType = 3;
    quint8 version = 12;
    quint8 memorySizeCode = 2;     // in units of 65536 bytes; 4 = 256 KiB
    quint8 periodCode = 7;         // 60 s
    QDateTime startTime = QDateTime(QDate(2026, 11, 26), QTime(16, 52, 0), Qt::UTC);
    quint32 usedBytes = 600;       // may run past the memory: it then wraps
    quint16 calibrationA = 0x0F00;
    quint16 calibrationB = 0x2000;
    quint8 batteryCode = 4;
    quint32 seed = 1;
    double timeScale = 1.0;        // simulated seconds per real second; 0 freezes the clock
    int sleepAfterIdleMs = 0;      // 0: never falls asleep
    int wakeRunLength = 40;        // run of 0xFF bytes that wakes a sleeping logger
};

struct FaultConfig {
    double corruptByteRate = 0;    // share of answer bytes with one bit flipped
    double dropAnswerRate = 0;     // share of answers never sent
    double noiseRate = 0;          // share of answers preceded by noise bytes
    int noiseBytes = 8;            // noise bytes before such an answer (never 0xC1)
    int splitChunk = 0;            // > 0: answers go out in chunks of this many bytes
    int chunkGapUs = 0;            // pause between those chunks
    double wrongBlockRate = 0;     // share of read answers with one block too few (or one more)
    double sleepRate = 0;          // share of requests after which the logger falls asleep
    bool silent = false;           // answers nothing at all
    // >= 0: the link goes away right after the request that brings the count of requests
    // heard since the start (requests() unless cleared) to that number; one already past
    // it goes unanswered. It disarms itself when it fires.
    int unplugAfterRequests = -1;
    int replugAfterMs = -1;        // >= 0: and comes back that long after
    qint64 ignoreWritesTo = -1;    // >= 0: writes to that register are answered, not stored
    qint64 unansweredWritesTo = -1; // >= 0: writes to that register are stored, not answered
    // >= 0: reads of that register go unanswered, the first `unansweredReadCount` times
    // (every time when negative).
    qint64 unansweredReadsOf = -1;
    int unansweredReadCount = -1;
};

struct LoggedRequest {
    quint32 deviceAddress = 0;
    quint8 function = 0;
    quint32 registerAddress = 0;
    quint8 argument = 0;
    bool answered = false;
};

struct Exchange {
    QByteArray answer;             // bytes to send, may be empty
    bool unplug = false;           // the link must go away now
};

class SimulatedLogger
{
public:
    explicit SimulatedLogger(const LoggerConfig &config = LoggerConfig(), const FaultConfig &faults = FaultConfig());

    // Feeds bytes that arrived from the line at time `nowMs` (a steady clock in
    // milliseconds); returns what the logger sends back.
    Exchange receive(const char *bytes, qint64 count, qint64 nowMs);

    // Parses the bytes between 0xC0 and 0xC1 as received (stuffed payload and CRC); false
    // unless they unstuff to a 10-byte payload with function 7 or 8 and a matching CRC.
    static bool parseRequest(const QByteArray &stuffedBody, LoggedRequest &request);
    // Seconds of a period code, 0 for a code outside 0..13.
    static int periodSeconds(quint8 periodCode);

    const LoggerConfig &config() const { return cfg; }
    FaultConfig &faults() { return faultCfg; }

    // Registers and memory, as the tests see them.
    std::array<quint8, 256> &liveRegisters() { return live; }
    std::array<quint8, 256> &configRegisters() { return configRegs; }
    std::vector<quint8> &memory() { return recordMemory; }
    quint32 usedBytes() const;
    void setUsedBytes(quint32 bytes);
    // Another logger of the same kind put on the line in its place (its serial number).
    void setAddress(quint32 address);
    quint8 recordSize() const;
    quint32 memoryTop() const;
    // The stored 16-bit words of record n (oldest is 0), from the memory as it is.
    // Record n lives at record address n x recordSize, wrapped into the memory.
    quint16 recordWord(quint32 recordIndex, int word) const;
    quint16 secondsInPeriod() const;
    // Records `count` more, as that many periods would (wrapping past the memory).
    void addRecords(quint64 count) { appendRecords(count); }
    // False between a write to the used-bytes counter and the write of 0x43.
    bool isRecording() const { return recording; }

    // Stores bytes from `reg` on (any region). Live bytes stored so keep their value
    // while the clock runs; the clock (0x42..0x43) and the counter (0x48..0x4B of the
    // pulse and lamp loggers) are state and go on from the value set.
    void setLiveValue(quint32 reg, const QByteArray &bytes);
    void setSleeping(bool asleep);
    bool isSleeping() const { return sleeping; }
    void setClock(qint64 nowMs);  // advances the campaign to that moment

    // Requests with a correct CRC heard while awake, those to other addresses included.
    const QList<LoggedRequest> &requests() const { return log; }
    void clearRequests() { log.clear(); }
    // 0xFF runs seen since the last clear, in arrival order (the wake-up bursts). A run
    // ends at the next other byte, so back-to-back bursts and the preamble after them
    // make one run.
    const QList<int> &ffRuns() const { return ffRunLengths; }
    void clearFfRuns() { ffRunLengths.clear(); }
    quint64 bytesReceived() const { return received; }
    quint64 bytesSent() const { return sent; }

private:
    void handleFrame(qint64 nowMs, QByteArray &out, bool &unplug);
    void handleRequest(const LoggedRequest &request, qint64 nowMs, QByteArray &out, bool &unplug);
    QByteArray buildAnswer(const QByteArray &data) const;
    quint8 readByte(quint32 address) const;
    void writeByte(quint32 address, quint8 value);
    void restartCampaign();
    void advance(double seconds);
    void appendRecords(quint64 count);
    void writeRecord(quint32 recordIndex);
    void refreshLive();
    void putLive(int reg, quint32 value, int bytes);
    void resizeMemory();
    quint32 memorySize() const;
    quint32 counter() const;
    void setCounter(quint32 value);
    quint64 campaignStartOfDay() const;
    double draw();
    bool chance(double rate);
    void checkIdle(qint64 nowMs);

    LoggerConfig cfg;
    FaultConfig faultCfg;
    std::array<quint8, 256> live{};
    std::array<quint8, 256> configRegs{};
    std::vector<quint8> recordMemory;
    QList<LoggedRequest> log;
    QList<int> ffRunLengths;
    std::array<bool, 256> pinned{};
    QByteArray pending;
    bool inFrame = false;
    int ffRun = 0;
    bool clockStarted = false;
    qint64 lastMs = 0;
    qint64 lastRequestMs = 0;
    double fraction = 0;           // below one second, not yet in 0x42..0x43
    bool recording = true;
    quint64 heard = 0;             // requests heard since construction
    bool sleeping = false;
    quint64 received = 0;
    quint64 sent = 0;
    std::mt19937 rng;
};

} // namespace sim

#endif
