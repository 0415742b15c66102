#ifndef VANTOREL_CAMPAIGNDOWNLOAD_H
#define VANTOREL_CAMPAIGNDOWNLOAD_H

// The download of a logger's campaign into its export file, through the archive, for every
// front end: the window, vantorel-cli read (one port or all) and the station. The front end
// opens the file (so that a place that cannot be written costs no download), says what it
// decides through the policy and the callbacks, and tells the user what the report says.

#include "archiveddownload.h"

class OutputFile;

namespace Archive {

enum class FileOutcome {
    Written,      // the file is in place
    LineFailed,   // a block could not be read after every round of wake-ups: no file
    Interrupted,  // stopped by the user or the service: no file
    FileFailed,   // the file could not be written: no file, an earlier one kept
};

// Rounds of wake-ups for a block that keeps failing; the count starts again at each block read.
constexpr int BLOCK_RETRIES = 3;

struct DownloadPolicy {
    bool forceFull = false;             // the whole memory, even when the archive holds the campaign
    int blockRetries = BLOCK_RETRIES;   // negative: no limit, `retrying` decides (the window asks)
};

// What the front end is waiting for, so that a window can say it.
enum class DownloadStep { OpeningArchive, ReadingLogger, StoringDownload, WritingFile, RecordingFile };

struct DownloadCallbacks {
    std::function<void(quint32 bytesRead, quint32 bytesToRead)> progress;  // after each request
    std::function<bool()> cancelled;          // after each request and between slices of the file
    std::function<bool(quint32 failedAt)> retrying;   // another round for the block at that byte? absent: yes
    std::function<void(DownloadStep)> step;
};

struct CampaignDownload {
    FileOutcome outcome = FileOutcome::Interrupted;
    ReadReport read;            // incremental or why full, new records, bytes read, download id
    quint64 records = 0;        // in the file written
    quint64 newRecords = 0;     // of those, not downloaded before (all of them without an archive)
    QString file;               // absolute path of the file, or "standard output"
    quint32 failedAt = 0;       // byte of the block that could not be read
    QString error;              // for the user, when not Written; FileFailed: the file and the system's reason
    QString archiveError;       // the file is written, but the archive step failed
};

// `out` is open. `store`: the archive already open (the window keeps one), else the one at
// `archive` is opened for this download. An archive that fails never fails the download.
CampaignDownload downloadCampaign(ManageSerialPort &port, const LoggerStatus &status, OutputFile &out,
                                  const Location &archive, Store *store, const DownloadPolicy &policy,
                                  const DownloadCallbacks &callbacks);

} // namespace Archive

#endif
