#ifndef VANTOREL_SIM_SIMULATEDLOGGER_H
#define VANTOREL_SIM_SIMULATEDLOGGER_H

// A data logger as seen from the serial line: its registers, its record memory, its
// clock, its sleep, and faults on demand. No I/O here: bytes in, bytes out.

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
    int unplugAfterRequests = -1;  // >= 0: the link goes away after that many requests
    int replugAfterMs = -1;        // >= 0: and comes back that long after
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

    // Parses one unstuffed request payload (10 bytes); false when it is not a request.
    static bool parseRequest(const QByteArray &stuffedBody, LoggedRequest &request);

    const LoggerConfig &config() const { return cfg; }
    FaultConfig &faults() { return faultCfg; }

    // Registers and memory, as the tests see them.
    std::array<quint8, 256> &liveRegisters() { return live; }
    std::array<quint8, 256> &configRegisters() { return configRegs; }
    std::vector<quint8> &memory() { return recordMemory; }
    quint32 usedBytes() const;
    void setUsedBytes(quint32 bytes);
    quint8 recordSize() const;
    quint32 memoryTop() const;
    // The stored 16-bit words of record n (oldest is 0), from the memory as it is.
    quint16 recordWord(quint32 recordIndex, int word) const;

    void setLiveValue(quint32 reg, const QByteArray &bytes);
    void setSleeping(bool asleep);
    bool isSleeping() const { return sleeping; }
    void setClock(qint64 nowMs);  // advances the campaign to that moment

    const QList<LoggedRequest> &requests() const { return log; }
    void clearRequests() { log.clear(); }
    // 0xFF runs seen since the last clear, in arrival order (the wake-up bursts).
    const QList<int> &ffRuns() const { return ffRunLengths; }
    void clearFfRuns() { ffRunLengths.clear(); }
    quint64 bytesReceived() const { return received; }
    quint64 bytesSent() const { return sent; }

private:
    // ... implementation details are free
    LoggerConfig cfg;
    FaultConfig faultCfg;
    std::array<quint8, 256> live{};
    std::array<quint8, 256> configRegs{};
    std::vector<quint8> recordMemory;
    QList<LoggedRequest> log;
    QList<int> ffRunLengths;
    QByteArray pending;
    bool sleeping = false;
    quint64 received = 0;
    quint64 sent = 0;
    std::mt19937 rng;
};

} // namespace sim

#endif
