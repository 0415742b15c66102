#include "loggerdevice.h"

#include "campaign.h"
#include "clock.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "frame.h"
#include "manageserialport.h"
#include "periods.h"
#include "registers.h"
#include "statusdisplay.h"

#include <QFileDevice>

#include <algorithm>

namespace {
constexpr quint32 READ_BACK_ATTEMPTS = 2;
constexpr quint8 BLOCKS_PER_READ = 8;
constexpr quint32 BYTES_PER_READ = BLOCK_SIZE * BLOCKS_PER_READ;
constexpr quint32 READ_ATTEMPTS = 5;
constexpr int LINES_PER_SLICE = 65536;

quint16 le16(const quint8 *p) { return quint16(p[0] | (p[1] << 8)); }
} // namespace

namespace Device {

bool wakeUp(ManageSerialPort &port, int attempts)
{
    for (int attempt = 0; attempt < attempts; ++attempt)
        if (port.wakeUpDevice())
            return true;
    return false;
}

StatusOutcome readStatus(ManageSerialPort &port, LoggerStatus &s, quint32 attempts)
{
    StatusOutcome outcome;
    outcome.identified = port.readBlocksRetry(0, Register::identityProbe, 1, attempts);
    if (!outcome.identified)
        return outcome;
    s.address = port.replyAddress();

    auto read = [&](quint32 reg) { return port.readBlocksRetry(s.address, reg, 1, attempts); };
    const quint8 *p = port.replyData();

    if (!read(Register::identity))
        return outcome;
    s.deviceType = p[0];
    s.version = p[1];
    s.memorySizeCode = p[6];

    if (!read(Register::period))
        return outcome;
    s.periodCode = p[0];

    if (!read(Register::startTime))
        return outcome;
    s.startTime = startTimeFromBcd(p);

    if (!read(Register::calibration))
        return outcome;
    s.calibrationA = le16(p);
    s.calibrationB = le16(p + 2);

    if (!read(Register::usedBytes))
        return outcome;
    s.usedBytes = quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16;

    if (!read(Register::secondsInPeriod))
        return outcome;
    s.secondsInPeriod = le16(p);
    outcome.complete = true;
    return outcome;
}

LiveOutcome readLive(ManageSerialPort &port, LoggerStatus &s, quint32 attempts)
{
    LiveOutcome outcome;
    outcome.batteryRead = port.readBlocksRetry(s.address, Register::battery, 1, attempts);
    if (outcome.batteryRead)
        s.batteryCode = port.replyData()[0];
    completeStatus(s);

    outcome.knownType = deviceTypeInfo(s.deviceType) != nullptr;
    if (!outcome.knownType)
        return outcome;
    for (const LiveRead &liveRead : liveReadPlan(s.deviceType)) {
        LiveAnswer &answer = outcome.answers.forRegister(liveRead.reg);
        answer.ok = port.readBlocksRetry(s.address, liveRead.reg, liveRead.blocks, attempts);
        if (answer.ok)
            std::copy(port.replyData(), port.replyData() + BLOCK_SIZE * liveRead.blocks, answer.p.begin());
        if (!answer.ok && liveRead.stopOnFailure)
            break;
    }
    if (acknowledgesLiveReading(s.deviceType) && outcome.answers.r40.ok)
        port.writeByteNoReply(s.address, Register::counterValue, 1);
    return outcome;
}

DownloadResult readRecordMemory(ManageSerialPort &port, const LoggerStatus &s, RecordMemory &memory,
                                const DownloadCallbacks &callbacks)
{
    const RecordPassParams params = recordPassParams(s);
    const quint32 endAddress = params.memoryWrapped ? params.topAddress + 1 : s.usedBytes;
    return readRecordMemoryRange(port, s, memory, 0, endAddress, callbacks);
}

DownloadResult readRecordMemoryRange(ManageSerialPort &port, const LoggerStatus &s, RecordMemory &memory,
                                     quint32 from, quint32 to, const DownloadCallbacks &callbacks)
{
    RecordPassParams &params = memory.params;
    params = recordPassParams(s);
    // From the type just read, not from an older display: the columns must match the header.
    params.recordSize = recordSizeOf(s.deviceType);
    memory.image.resize(MEMORY_IMAGE_SIZE);

    Q_ASSERT(from % BYTES_PER_READ == 0);  // a request never runs past the end of the memory
    const quint32 length = to > from ? to - from : 0;
    quint32 done = 0;
    while (done < length) {
        const quint32 position = (from + done) & params.topAddress;
        if (!port.readBlocksRetry(s.address, Register::recordMemory + position, BLOCKS_PER_READ, READ_ATTEMPTS)) {
            if (!callbacks.retryFailedBlock || !callbacks.retryFailedBlock())
                return DownloadResult::GaveUp;
            wakeUp(port);
            continue;
        }
        const quint8 *data = port.replyData();
        std::copy(data, data + BYTES_PER_READ, memory.image.begin() + position);
        done += BYTES_PER_READ;
        if (callbacks.progress)
            callbacks.progress(done, length);
        if (callbacks.cancelled && callbacks.cancelled())
            return DownloadResult::Cancelled;
    }
    return DownloadResult::Complete;
}

bool writeExport(QIODevice &out, const LoggerStatus &status, const RecordMemory &memory,
                 const std::function<bool()> &keepGoing, QString *error)
{
    if (error)
        error->clear();
    QByteArray text = exportHeader(status.address, status.deviceType);
    RecordPass pass(memory.params, memory.image.data());
    for (;;) {
        pass.writeLines(text, LINES_PER_SLICE);
        // A short write (a full disk) leaves no error for a later close to see.
        if (out.write(text) != text.size()) {
            if (error) {
                const auto *file = qobject_cast<const QFileDevice *>(&out);
                *error = (file ? file->fileName() + QStringLiteral(": ") : QString())
                    + QStringLiteral("only part of the file could be written (") + out.errorString()
                    + QStringLiteral(")");
            }
            return false;
        }
        text.resize(0);
        if (pass.atEnd())
            return true;
        if (keepGoing && !keepGoing())
            return false;
    }
}

bool programNewCampaign(ManageSerialPort &port, const LoggerStatus &status, int periodCode, QDateTime *start)
{
    const quint32 address = status.address;
    const quint8 code = quint8(periodCode);

    const bool written = port.writeByte(address, Register::period, code);
    const bool readBack = port.readBlocksRetry(address, Register::period, 1, READ_BACK_ATTEMPTS);
    bool good = written && readBack && port.replyData()[0] == code;

    if (good)
        for (quint32 i = 0; i < 3 && good; ++i)
            good = port.writeByte(address, Register::usedBytes + i, 0);
    if (good && hasRunningCounter(status.deviceType))
        for (quint32 i = 0; i < 4 && good; ++i)
            good = port.writeByte(address, Register::counter + i, 0);
    if (!good)
        return false;

    const AlignedStart aligned = alignedStart(Clock::now(), periodSeconds(periodCode));
    if (start)
        *start = aligned.start;
    const StartClockBytes clock = startClockBytes(aligned.start);
    for (int i = 0; i < 6; ++i)
        if (!port.writeByte(address, Register::startFieldsInWriteOrder[i], clock.bytes[i]))
            return false;
    if (!port.writeByte(address, Register::secondsInPeriod, quint8(aligned.remainder & 0xFF)))
        return false;
    return port.writeByte(address, Register::secondsInPeriod + 1, quint8(aligned.remainder >> 8));
}

} // namespace Device
