#ifndef VANTOREL_RECORDS_H
#define VANTOREL_RECORDS_H

#include "loggerstatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QtGlobal>

#include <memory>

constexpr quint32 MEMORY_IMAGE_SIZE = 0x40000;

// floor(N * floor(word / 10) / period); 0 for a period length not in the table.
double periodScaledValue(quint16 word, int periodSeconds);

struct RecordPassParams {
    quint8 deviceType = 0;
    quint8 recordSize = 2;
    int periodSeconds = 0;
    quint16 calibrationA = 0;
    quint16 calibrationB = 0;
    bool memoryWrapped = false;
    quint32 endAddress = 0;       // usedBytes
    quint32 topAddress = 0x1FFFF;
    QDateTime startTime;
};

// The pass of a download of that logger: topAddress from memorySizeCode, wrapped when
// usedBytes is above it, recordSize as the last status display set it.
RecordPassParams recordPassParams(const LoggerStatus &status);

// True for a record lost to the wrap-around, written as "overflow".
bool isOverflowRecord(const RecordPassParams &params, quint32 readAddress);

// Turns the memory image into the record lines of the export file, oldest first:
// "dd/MM/yyyy hh:mm:ss", TAB, values, CR LF. Lines are produced in slices so that a
// caller can write them out and keep its window alive. The image must outlive the pass;
// bytes past its end read as 0, a recordSize other than 4 counts as 2, and an invalid
// start time stamps every line "-". Stamps step by plain arithmetic on the start's
// date and time of day, whatever its time zone setting.
class RecordPass
{
public:
    RecordPass(const RecordPassParams &params, const quint8 *memoryImage /* MEMORY_IMAGE_SIZE bytes */);
    ~RecordPass();

    bool atEnd() const;
    quint64 linesWritten() const;
    quint64 lineCount() const;               // lines of the whole pass
    // Appends up to maxLines lines to `out`. Reuse one buffer (out.resize(0) between
    // slices keeps its capacity) so that memory stays flat.
    void writeLines(QByteArray &out, int maxLines);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// One record line, as the pass writes it (the slow, obvious way; for tests and tools).
// The caller steps recordTime and clears firstRecord after a line that is not overflow.
QByteArray writeRecordLine(const RecordPassParams &params, const quint8 *memoryImage,
                           quint32 readAddress, const QDateTime &recordTime, bool firstRecord);

#endif
