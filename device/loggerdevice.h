#ifndef VANTOREL_LOGGERDEVICE_H
#define VANTOREL_LOGGERDEVICE_H

// The operations on an attached logger, shared by every front end: widget-free, they run
// under a QCoreApplication. Each takes the port manager, sends exactly the requests the
// window always sent, and reports progress and asks its decisions through callbacks.

#include "livereadings.h"
#include "loggerstatus.h"
#include "records.h"

#include <QDateTime>
#include <QIODevice>
#include <QString>

#include <functional>
#include <vector>

class ManageSerialPort;

namespace Device {

constexpr int WAKE_UP_ATTEMPTS = 5;
// Tries of each status and live request, as the window always made them.
constexpr quint32 STATUS_ATTEMPTS = 2;

// Up to `attempts` wake-ups of whatever logger is on the open port.
bool wakeUp(ManageSerialPort &port, int attempts = WAKE_UP_ATTEMPTS);

// Identity, period, start time, calibration, used bytes and seconds in period.
// `identified` is set once the identity probe answered (status.address is then the
// logger's); `complete` once every block was read.
struct StatusOutcome {
    bool identified = false;
    bool complete = false;
};
StatusOutcome readStatus(ManageSerialPort &port, LoggerStatus &status, quint32 attempts = STATUS_ATTEMPTS);

// Battery and the live registers of the type, after readStatus; completes the derived
// fields of `status`. A type 1 logger is sent its post-reading byte here.
struct LiveOutcome {
    bool batteryRead = false;
    bool knownType = false;
    LiveAnswers answers;
};
LiveOutcome readLive(ManageSerialPort &port, LoggerStatus &status, quint32 attempts = STATUS_ATTEMPTS);

// The record memory, 64 bytes a request, under the caller's decisions.
struct DownloadCallbacks {
    std::function<void(quint32 bytesRead, quint32 bytesToRead)> progress;  // after each request
    std::function<bool()> cancelled;                 // asked after each request
    std::function<bool()> retryFailedBlock;          // a request failed its attempts: wake and retry?
};
enum class DownloadResult { Complete, Cancelled, GaveUp };
struct RecordMemory {
    std::vector<quint8> image = std::vector<quint8>(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams params;    // everything the record pass needs, from the status read
};
DownloadResult readRecordMemory(ManageSerialPort &port, const LoggerStatus &status, RecordMemory &memory,
                                const DownloadCallbacks &callbacks);
// Only record addresses [from, to) (`from` a multiple of 64), each at its memory position
// (address modulo the memory size), with the same requests, attempts and callbacks;
// progress runs over that range. The rest of `memory.image` is left as it was.
DownloadResult readRecordMemoryRange(ManageSerialPort &port, const LoggerStatus &status, RecordMemory &memory,
                                     quint32 from, quint32 to, const DownloadCallbacks &callbacks);

// Header and record lines into `out` in slices; `keepGoing` is asked between slices.
// False with `error` set when a write fails, false with `error` empty when stopped.
bool writeExport(QIODevice &out, const LoggerStatus &status, const RecordMemory &memory,
                 const std::function<bool()> &keepGoing, QString *error);

// The new-campaign sequence: period and its read-back, erase, counters of types 2 and 8,
// clock aligned to the period from `now()` taken after the erase. Stops at the first failure.
// `start`, when given, receives the start time written to the logger.
bool programNewCampaign(ManageSerialPort &port, const LoggerStatus &status, int periodCode, QDateTime *start = nullptr);

} // namespace Device

#endif
