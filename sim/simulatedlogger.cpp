#include "simulatedlogger.h"

#include "frame.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

constexpr int periodTable[14] = {1, 2, 5, 10, 15, 20, 30, 60, 600, 3600, 120, 180, 240, 300};
constexpr quint32 COUNTER_MASK = 0xFFFFFF;  // the used-bytes counter has 24 bits
constexpr int MAX_BODY = 2 * (REQUEST_PAYLOAD_LENGTH + 2);
constexpr double PI = 3.14159265358979323846;

enum Reg : int {
    CFG_TYPE = 0x00, CFG_VERSION = 0x01, CFG_ADDRESS = 0x02, CFG_MEMORY = 0x06, CFG_PERIOD = 0x1A,
    CFG_USED = 0x20, CFG_START = 0x30, CFG_CALIBRATION = 0x40,
    LIVE_PRIMARY = 0x40, LIVE_SECONDS = 0x42, LIVE_BATTERY = 0x45, LIVE_COUNTER = 0x48,
    LIVE_SECOND = 0x52, LIVE_BATTERY_WORD = 0x54, LIVE_CURRENT = 0x53, LIVE_VOLTAGE = 0x56,
};

// The logger's own BCD, written apart from the program's codec: a mistake made in both
// would pass every test unseen.
quint8 toBcd(quint8 value)
{
    return quint8((value / 10) << 4 | value % 10);
}

int fromBcd(quint8 byte)
{
    return (byte >> 4) * 10 + (byte & 0x0F);
}

quint64 mix(quint64 x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Deterministic noise in [-1, 1) for one quantity at one moment.
double noise(quint32 seed, quint64 moment, quint32 salt)
{
    const quint64 h = mix((quint64(seed) << 32 | salt) ^ mix(moment));
    return double(h >> 11) / double(1ull << 52) - 1.0;
}

double temperatureAt(quint32 seed, quint64 t)
{
    // Coolest before dawn, warmest mid-afternoon.
    const double day = double(t % 86400) / 86400.0;
    return 20.0 + 2.0 * std::sin(2 * PI * (day - 0.375)) + 0.1 * noise(seed, t, 1);
}

double humidityAt(quint32 seed, quint64 t)
{
    const double day = double(t % 86400) / 86400.0;
    return 50.0 - 6.0 * std::sin(2 * PI * (day - 0.375)) + 0.5 * noise(seed, t, 2);
}

double powerAt(quint32 seed, quint64 t)
{
    const double day = double(t % 86400) / 86400.0;
    return 100.0 + 30.0 * std::sin(2 * PI * (day - 0.3)) + 3.0 * noise(seed, t, 3);
}

bool lampOnAt(quint32 seed, quint64 t)
{
    return mix(quint64(seed) << 32 ^ (t / 1800)) % 3 != 0;
}

int lampOnSeconds(quint32 seed, quint64 from, int length)
{
    int on = 0;
    quint64 t = from;
    const quint64 end = from + quint64(length);
    while (t < end) {
        const quint64 blockEnd = std::min(end, (t / 1800 + 1) * 1800);
        if (lampOnAt(seed, t))
            on += int(blockEnd - t);
        t = blockEnd;
    }
    return on;
}

quint16 clampWord(double value)
{
    return quint16(std::lround(std::clamp(value, 0.0, 65535.0)));
}

quint16 signedWord(double value)
{
    return quint16(qint16(std::lround(std::clamp(value, -32768.0, 32767.0))));
}

// Inverse of the humidity formula the program applies to the stored word.
quint16 humidityWord(double rh)
{
    const double a = 2.8e-6, b = -0.0405, c = rh + 4.0;
    const double disc = b * b - 4 * a * c;
    return disc < 0 ? 7232 : clampWord((-b - std::sqrt(disc)) / (2 * a));
}

int powerFactorN(int period)
{
    switch (period) {
    case 1: return 1;
    case 2: return 2;
    case 5: return 4;
    case 10: return 8;
    case 15: case 20: return 16;
    case 30: return 32;
    case 60: return 64;
    case 120: case 180: case 240: return 128;
    case 300: return 256;
    case 600: return 512;
    case 3600: return 4096;
    default: return 0;
    }
}

// Energy word whose period-scaled value gives `watts`.
quint16 powerWord(double watts, int period)
{
    const int n = powerFactorN(period);
    return n ? clampWord(watts * 10.0 * period / n) : 0;
}

quint8 recordSizeOf(quint8 type)
{
    return (type == 3 || type == 6 || type == 7 || type == 10) ? 4 : 2;
}

} // namespace

SimulatedLogger::SimulatedLogger(const LoggerConfig &config, const FaultConfig &faults)
    : cfg(config), faultCfg(faults), rng(config.seed)
{
    configRegs.fill(0);
    live.fill(0);
    configRegs[CFG_TYPE] = cfg.deviceType;
    configRegs[CFG_VERSION] = cfg.version;
    setAddress(cfg.address);
    configRegs[CFG_MEMORY] = cfg.memorySizeCode;
    configRegs[CFG_PERIOD] = cfg.periodCode;
    const QDateTime start = cfg.startTime.toUTC();
    if (start.isValid()) {
        const QDate d = start.date();
        const QTime t = start.time();
        const int fields[6] = {d.year() % 100, d.month(), d.day(), t.hour(), t.minute(), t.second()};
        for (int i = 0; i < 6; ++i)
            configRegs[size_t(CFG_START + i)] = toBcd(quint8(fields[i]));
    }
    configRegs[CFG_CALIBRATION + 0] = quint8(cfg.calibrationA);
    configRegs[CFG_CALIBRATION + 1] = quint8(cfg.calibrationA >> 8);
    configRegs[CFG_CALIBRATION + 2] = quint8(cfg.calibrationB);
    configRegs[CFG_CALIBRATION + 3] = quint8(cfg.calibrationB >> 8);
    live[LIVE_BATTERY] = cfg.batteryCode;
    resizeMemory();

    // Only the records still held in the memory are generated.
    const quint32 used = cfg.usedBytes & COUNTER_MASK;
    const quint32 size = recordSize();
    const quint32 records = used / size;
    const quint32 held = memorySize() / size;
    for (quint32 n = records > held ? records - held : 0; n < records; ++n)
        writeRecord(n);
    setUsedBytes(used);
    refreshLive();
}

int SimulatedLogger::periodSeconds(quint8 periodCode)
{
    return periodCode < 14 ? periodTable[periodCode] : 0;
}

quint8 SimulatedLogger::recordSize() const
{
    return recordSizeOf(configRegs[CFG_TYPE]);
}

quint32 SimulatedLogger::memorySize() const
{
    return configRegs[CFG_MEMORY] == 4 ? 0x40000 : 0x20000;
}

quint32 SimulatedLogger::memoryTop() const
{
    return memorySize() - 1;
}

void SimulatedLogger::resizeMemory()
{
    recordMemory.resize(memorySize(), 0xFF);
}

quint32 SimulatedLogger::usedBytes() const
{
    return quint32(configRegs[CFG_USED]) | quint32(configRegs[CFG_USED + 1]) << 8
           | quint32(configRegs[CFG_USED + 2]) << 16;
}

void SimulatedLogger::setUsedBytes(quint32 bytes)
{
    configRegs[CFG_USED] = quint8(bytes);
    configRegs[CFG_USED + 1] = quint8(bytes >> 8);
    configRegs[CFG_USED + 2] = quint8(bytes >> 16);
}

quint16 SimulatedLogger::secondsInPeriod() const
{
    return quint16(live[LIVE_SECONDS] | live[LIVE_SECONDS + 1] << 8);
}

quint32 SimulatedLogger::counter() const
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | live[size_t(LIVE_COUNTER + i)];
    return value;
}

void SimulatedLogger::setCounter(quint32 value)
{
    for (int i = 0; i < 4; ++i)
        live[size_t(LIVE_COUNTER + i)] = quint8(value >> (8 * i));
}

quint16 SimulatedLogger::recordWord(quint32 recordIndex, int word) const
{
    const quint32 pos = (recordIndex * recordSize() + quint32(2 * word)) & memoryTop();
    return quint16(recordMemory[pos] << 8 | recordMemory[(pos + 1) & memoryTop()]);
}

quint64 SimulatedLogger::campaignStartOfDay() const
{
    const int h = fromBcd(configRegs[CFG_START + 3]);
    const int m = fromBcd(configRegs[CFG_START + 4]);
    const int s = fromBcd(configRegs[CFG_START + 5]);
    return quint64((h * 3600 + m * 60 + s) % 86400);
}

void SimulatedLogger::writeRecord(quint32 recordIndex)
{
    const quint8 type = configRegs[CFG_TYPE];
    const int period = std::max(1, periodSeconds(configRegs[CFG_PERIOD]));
    const quint64 t = campaignStartOfDay() + quint64(recordIndex) * quint64(period);
    const quint32 seed = cfg.seed;
    const double temp = temperatureAt(seed, t);
    const quint16 calA = quint16(configRegs[CFG_CALIBRATION] | configRegs[CFG_CALIBRATION + 1] << 8);
    const quint16 calB = quint16(configRegs[CFG_CALIBRATION + 2] | configRegs[CFG_CALIBRATION + 3] << 8);
    quint16 a = 0, b = 0;
    switch (type) {
    case 1: a = signedWord(temp * 16); break;
    case 2: a = clampWord(period * 0.2 * (1.0 + 0.5 * noise(seed, t, 4))); break;
    case 3: a = signedWord(temp * 100 + 3960); b = humidityWord(humidityAt(seed, t)); break;
    case 4: case 9: a = powerWord(powerAt(seed, t), period); break;
    case 5: a = signedWord(temp * 256 - double(qint16(calA))); break;
    case 6: a = signedWord(temp * 8); b = signedWord((temp + 5) * 8); break;
    case 7:
        a = powerWord(powerAt(seed, t), period);
        b = calB ? clampWord((230.0 + noise(seed, t, 5)) * 25 * 2300 / (2.0 * calB)) : 0;
        break;
    case 8: a = quint16(lampOnSeconds(seed, t, period)); break;
    case 10: a = signedWord(temp * 60 / (0.125 * 3.93 * 1.09)); b = signedWord(temp * 8); break;
    default: a = quint16(mix(quint64(seed) << 32 ^ recordIndex)); break;
    }
    const quint32 top = memoryTop();
    const quint32 pos = recordIndex * recordSize();
    recordMemory[pos & top] = quint8(a >> 8);
    recordMemory[(pos + 1) & top] = quint8(a);
    if (recordSize() == 4) {
        recordMemory[(pos + 2) & top] = quint8(b >> 8);
        recordMemory[(pos + 3) & top] = quint8(b);
    }
    if (type == 2 || type == 8)
        setCounter(counter() + a);
}

void SimulatedLogger::appendRecords(quint64 count)
{
    const quint32 size = recordSize();
    const quint64 held = memorySize() / size;
    quint32 next = usedBytes() / size;
    if (count > held) {
        // Skipped records would be overwritten anyway.
        next = quint32(((quint64(next) + (count - held)) * size & COUNTER_MASK) / size);
        count = held;
    }
    for (quint64 i = 0; i < count; ++i) {
        writeRecord(next);
        // A counter left between records is realigned to whole records.
        next = quint32(((quint64(next) + 1) * size & COUNTER_MASK) / size);
    }
    setUsedBytes(quint32(quint64(next) * size & COUNTER_MASK));
}

void SimulatedLogger::advance(double seconds)
{
    if (!recording || seconds <= 0)
        return;
    const int period = periodSeconds(configRegs[CFG_PERIOD]);
    if (period <= 0)
        return;
    const double total = secondsInPeriod() + fraction + seconds;
    const double whole = std::floor(total / period);
    const double rest = total - whole * period;
    appendRecords(quint64(std::min(whole, 1e15)));
    const double restSeconds = std::floor(rest);
    live[LIVE_SECONDS] = quint8(quint16(restSeconds));
    live[LIVE_SECONDS + 1] = quint8(quint16(restSeconds) >> 8);
    fraction = rest - restSeconds;
    refreshLive();
}

void SimulatedLogger::setClock(qint64 nowMs)
{
    if (!clockStarted) {
        clockStarted = true;
        lastMs = nowMs;
        lastRequestMs = nowMs;
        return;
    }
    if (nowMs > lastMs) {
        advance(double(nowMs - lastMs) / 1000.0 * cfg.timeScale);
        lastMs = nowMs;
    }
    checkIdle(nowMs);
}

void SimulatedLogger::checkIdle(qint64 nowMs)
{
    if (!sleeping && cfg.sleepAfterIdleMs > 0 && nowMs - lastRequestMs >= cfg.sleepAfterIdleMs)
        sleeping = true;
}

void SimulatedLogger::setAddress(quint32 address)
{
    cfg.address = address;
    for (int i = 0; i < 4; ++i)
        configRegs[size_t(CFG_ADDRESS + i)] = quint8(address >> (24 - 8 * i));
}

void SimulatedLogger::setSleeping(bool asleep)
{
    sleeping = asleep;
    if (!asleep)
        lastRequestMs = lastMs;
}

void SimulatedLogger::putLive(int reg, quint32 value, int bytes)
{
    for (int i = 0; i < bytes && reg + i < 256; ++i)
        if (!pinned[size_t(reg + i)])
            live[size_t(reg + i)] = quint8(value >> (8 * i));
}

void SimulatedLogger::refreshLive()
{
    const quint8 type = configRegs[CFG_TYPE];
    const int period = std::max(1, periodSeconds(configRegs[CFG_PERIOD]));
    const quint64 t = campaignStartOfDay() + quint64(usedBytes() / recordSize()) * quint64(period)
                      + secondsInPeriod();
    const quint32 seed = cfg.seed;
    const double temp = temperatureAt(seed, t);
    const quint16 calA = quint16(configRegs[CFG_CALIBRATION] | configRegs[CFG_CALIBRATION + 1] << 8);
    const quint16 calB = quint16(configRegs[CFG_CALIBRATION + 2] | configRegs[CFG_CALIBRATION + 3] << 8);
    switch (type) {
    case 1: putLive(LIVE_PRIMARY, clampWord(temp * 16), 2); break;
    case 3:
        putLive(LIVE_PRIMARY, signedWord(temp * 100 + 3960), 2);
        putLive(LIVE_SECOND, humidityWord(humidityAt(seed, t)), 2);
        break;
    case 5: putLive(LIVE_PRIMARY, quint16(std::lround(temp * 256) - qint16(calA)), 2); break;
    case 6: case 10: {
        // Battery word u gives floor(18310 / u) / 10 volts; channels read as multiples of u.
        const double volts = 3.0 + 0.15 * std::min<int>(live[LIVE_BATTERY], 4);
        const quint16 u = quint16(18310 / (volts * 10) - 0.5);
        putLive(LIVE_BATTERY_WORD, u, 2);
        putLive(LIVE_PRIMARY, quint16(u + (u / 4) * (1 + noise(seed, t, 6))), 2);
        putLive(LIVE_SECOND, quint16(u + (u / 4) * (1 + noise(seed, t, 7))), 2);
        break;
    }
    case 4: case 7: case 9: {
        const double watts = powerAt(seed, t);
        const double volts = 230.0 + noise(seed, t, 5);
        const double amps = watts / (volts * 0.9);
        putLive(LIVE_COUNTER, quint32(std::lround(watts * 10)), 3);  // validity bit clear
        const double vraw = calB ? volts * 2300 * 256 * 25 / calB : 0;
        const quint32 k = calA <= 0x0FFF ? calA : calA + 0x1000u;
        const double iraw = k ? amps * calB * 89.7 * 256 / k * 16 : 0;
        putLive(LIVE_CURRENT, quint32(std::clamp(iraw, 0.0, double(0xFFFFFF))), 3);
        putLive(LIVE_VOLTAGE, quint32(std::clamp(vraw, 0.0, double(0x7FFFFF))), 3);
        break;
    }
    case 8: {
        const bool on = lampOnAt(seed, t);
        putLive(LIVE_PRIMARY, on ? quint32(t % 1800) : 0, 2);
        putLive(LIVE_SECOND, quint32(on ? 180 + 20 * noise(seed, t, 8) : 6 + 4 * noise(seed, t, 8)), 1);
        putLive(LIVE_SECOND + 1, on ? 1 : 0, 1);
        break;
    }
    default: break;
    }
}

void SimulatedLogger::setLiveValue(quint32 reg, const QByteArray &bytes)
{
    // Pinning only holds off the live values' drift; clock and counter are written directly.
    for (int i = 0; i < bytes.size(); ++i) {
        const quint32 address = reg + quint32(i);
        if (address < 0x100)
            pinned[address] = true;
        writeByte(address, quint8(bytes[i]));
    }
}

quint8 SimulatedLogger::readByte(quint32 address) const
{
    const quint32 offset = address & 0xFFFFFF;
    switch (address >> 24) {
    case 0x00: return offset < 0x100 ? live[offset] : 0xFF;
    case 0x01: return offset < 0x100 ? configRegs[offset] : 0xFF;
    case 0x02: return recordMemory[offset & memoryTop()];
    default: return 0xFF;
    }
}

void SimulatedLogger::writeByte(quint32 address, quint8 value)
{
    const quint32 offset = address & 0xFFFFFF;
    switch (address >> 24) {
    case 0x00:
        if (offset < 0x100)
            live[offset] = value;
        break;
    case 0x01:
        if (offset >= 0x100)
            break;
        configRegs[offset] = value;
        if (offset == CFG_MEMORY)
            resizeMemory();
        break;
    case 0x02:
        recordMemory[offset & memoryTop()] = value;
        break;
    default:
        break;
    }
}

void SimulatedLogger::restartCampaign()
{
    // Start time, period and counter are in the registers as the program wrote them.
    fraction = 0;
    recording = true;
    refreshLive();
}

double SimulatedLogger::draw()
{
    return double(rng()) / 4294967296.0;
}

bool SimulatedLogger::chance(double rate)
{
    return rate > 0 && draw() < rate;
}

bool SimulatedLogger::parseRequest(const QByteArray &stuffedBody, LoggedRequest &request)
{
    if (stuffedBody.size() > MAX_BODY)
        return false;
    quint8 body[REQUEST_PAYLOAD_LENGTH + 2];
    int length = 0;
    for (int i = 0; i < stuffedBody.size(); ++i) {
        quint8 byte = quint8(stuffedBody[i]);
        if (byte == START_CHAR || byte == END_CHAR)
            return false;
        if (byte == ESCAPE_CHAR) {
            if (++i >= stuffedBody.size())
                return false;
            byte = quint8(stuffedBody[i]) ^ STUFFING_MASK;
        }
        if (length == int(sizeof body))
            return false;
        body[length++] = byte;
    }
    if (length != int(sizeof body))
        return false;
    const quint16 crc = quint16(body[10] | body[11] << 8);
    if (crc16(body, REQUEST_PAYLOAD_LENGTH) != crc)
        return false;
    if (body[4] != FC_WRITE_BYTE && body[4] != FC_READ_BLOCKS)
        return false;
    request.deviceAddress = quint32(body[0]) << 24 | quint32(body[1]) << 16 | quint32(body[2]) << 8 | body[3];
    request.function = body[4];
    request.registerAddress = quint32(body[5]) << 24 | quint32(body[6]) << 16 | quint32(body[7]) << 8 | body[8];
    request.argument = body[9];
    request.answered = false;
    return true;
}

QByteArray SimulatedLogger::buildAnswer(const QByteArray &data) const
{
    QByteArray payload;
    payload.reserve(10 + data.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        payload.append(char(quint8(cfg.address >> shift)));
    payload.append(char(FC_RESPONSE));
    payload.append(4, '\0');
    payload.append(data);
    FrameBuffer frame;
    buildFrame(frame, reinterpret_cast<const quint8 *>(payload.constData()), int(payload.size()));
    return QByteArray(reinterpret_cast<const char *>(frame.data.data()), frame.length);
}

void SimulatedLogger::handleRequest(const LoggedRequest &request, qint64 nowMs, QByteArray &out, bool &unplug)
{
    LoggedRequest entry = request;
    ++heard;
    const bool forUs = request.deviceAddress == 0 || request.deviceAddress == cfg.address;
    if (!forUs) {
        log.append(entry);
        return;
    }
    lastRequestMs = nowMs;
    if (faultCfg.unplugAfterRequests >= 0 && heard > quint64(faultCfg.unplugAfterRequests)) {
        faultCfg.unplugAfterRequests = -1;
        unplug = true;
        log.append(entry);
        return;
    }

    QByteArray data;
    bool unanswered = false;
    if (request.function == FC_WRITE_BYTE) {
        const qint64 reg = request.registerAddress;
        unanswered = reg == faultCfg.unansweredWritesTo;
        if (reg != faultCfg.ignoreWritesTo) {
            writeByte(request.registerAddress, request.argument);
            if (reg >= 0x01000000 + CFG_USED && reg <= 0x01000000 + CFG_USED + 2)
                recording = false;  // memory erased: nothing is recorded until the new start
            else if (reg == LIVE_SECONDS + 1)
                restartCampaign();
        }
        data.append(char(request.argument));
        data.append(BLOCK_SIZE - 1, '\0');
    } else {
        unanswered = request.registerAddress == faultCfg.unansweredReadsOf && faultCfg.unansweredReadCount != 0;
        if (unanswered && faultCfg.unansweredReadCount > 0)
            --faultCfg.unansweredReadCount;
        int blocks = std::clamp<int>(request.argument, 1, MAX_BLOCKS);
        if (chance(faultCfg.wrongBlockRate))
            blocks += (blocks == 1 || (rng() & 1)) ? 1 : -1;
        data.resize(blocks * BLOCK_SIZE);
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(readByte(request.registerAddress + quint32(i)));
    }

    const bool dropped = faultCfg.silent || unanswered || chance(faultCfg.dropAnswerRate);
    if (!dropped) {
        QByteArray answer = buildAnswer(data);
        if (faultCfg.corruptByteRate > 0)
            for (char &byte : answer)
                if (chance(faultCfg.corruptByteRate))
                    byte = char(quint8(byte) ^ (1u << (rng() % 8)));
        if (chance(faultCfg.noiseRate)) {
            for (int i = 0; i < faultCfg.noiseBytes; ++i) {
                quint8 byte = quint8(rng());
                out.append(char(byte == END_CHAR ? 0x00 : byte));
            }
        }
        out.append(answer);
        entry.answered = true;
    }
    log.append(entry);

    if (faultCfg.unplugAfterRequests >= 0 && heard >= quint64(faultCfg.unplugAfterRequests)) {
        faultCfg.unplugAfterRequests = -1;
        unplug = true;
    }
    if (chance(faultCfg.sleepRate))
        sleeping = true;
}

void SimulatedLogger::handleFrame(qint64 nowMs, QByteArray &out, bool &unplug)
{
    LoggedRequest request;
    if (parseRequest(pending, request))
        handleRequest(request, nowMs, out, unplug);
    pending.clear();
}

Exchange SimulatedLogger::receive(const char *bytes, qint64 count, qint64 nowMs)
{
    Exchange exchange;
    setClock(nowMs);
    if (!bytes || count <= 0)
        return exchange;
    received += quint64(count);
    for (qint64 i = 0; i < count && !exchange.unplug; ++i) {
        const quint8 byte = quint8(bytes[i]);
        if (byte == PREAMBLE_BYTE) {
            if (++ffRun >= cfg.wakeRunLength && sleeping)
                setSleeping(false);
        } else if (ffRun > 0) {
            ffRunLengths.append(ffRun);
            ffRun = 0;
        }
        if (sleeping) {
            inFrame = false;
            continue;
        }
        if (byte == START_CHAR) {
            inFrame = true;
            pending.clear();
        } else if (!inFrame) {
            continue;
        } else if (byte == END_CHAR) {
            inFrame = false;
            handleFrame(nowMs, exchange.answer, exchange.unplug);
        } else if (pending.size() < MAX_BODY) {
            pending.append(char(byte));
        } else {
            inFrame = false;  // too long for a request
            pending.clear();
        }
    }
    sent += quint64(exchange.answer.size());
    return exchange;
}

} // namespace sim
