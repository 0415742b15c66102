#ifndef VANTOREL_FAULTSUITE_H
#define VANTOREL_FAULTSUITE_H

// Downloads and campaign starts under one fault on the line, driven as a user who answers
// every "Error COM" box with OK, and what the program told that user set against what it
// really did: the file it wrote, the state it left in the logger.

#include "ptylogger.h"

#include <QList>
#include <QString>
#include <QStringList>

struct FaultKind {
    QString name;
    QString rate;
    // Switched on once the window shows the logger, so that only the operation meets it.
    sim::FaultConfig faults;
    sim::LineConfig line;
    // > 0: the link goes away after a random number of requests (1 to this, and never past
    // the operation's own) counted from the start of the read-out or of the start sequence.
    int unplugWithin = 0;
};

// The faults of the standard table: bytes corrupted, answers dropped, noise, chunks,
// sleep, unplug, wrong block counts, and all of the line faults at once.
QList<FaultKind> lineFaults();
// Answers that come later than the read time-out: no fault of the logger, a slow line.
FaultKind lateAnswers(int latencyMs);

struct FaultRun {
    int downloads = 1;
    int starts = 1;
    QList<int> downloadTypes{3};     // cycled
    QList<int> startTypes{2, 3, 8};  // cycled; 2 and 8 have a counter to clear
    quint32 usedBytes = 16384;
    quint8 memorySizeCode = 2;
    // Boxes in a row with no block read in between before the user gives up (Cancel).
    int patience = 50;
    quint32 seed = 1;                // of the first download; starts from seed + 500
    int operationTimeoutMs = 15 * 60 * 1000;
    bool verbose = false;            // a line per operation
};

struct DownloadOutcome {
    quint32 seed = 0;
    int type = 0;
    bool finished = false;           // an outcome box came and the window was back
    bool completed = false;          // "Download Complete"
    bool identical = false;          // the file equals the clean download
    bool reportedFailure = false;    // an outcome box saying it did not complete
    bool fileExists = false;
    int errorBoxes = 0;
    int blocks = 0;                  // 64-byte reads a clean download needs
    int blockReads = 0;              // record-memory reads the logger heard
    bool gaveUp = false;
    bool neverShown = false;         // no refresh showed the logger before the click
    QString outcome;
    QString difference;              // first line that differs, when it does
    QStringList unexpected;          // other boxes seen
    qint64 ms = 0;
};

struct StartOutcome {
    quint32 seed = 0;
    int type = 0;
    int periodCode = 0;
    bool finished = false;           // the flow ended: dialog closed, or refused after a box
    bool completed = false;          // the dialog closed on success (no Cancel given)
    bool exact = false;              // the logger holds exactly the campaign asked for
    bool reportedFailure = false;    // the user was told and gave up
    int errorBoxes = 0;
    bool asleepAtEnd = false;
    bool neverShown = false;
    QString mismatch;
    QStringList unexpected;
    qint64 ms = 0;
};

struct FaultRow {
    FaultKind kind;
    QList<DownloadOutcome> downloads;
    QList<StartOutcome> starts;

    int downloadsCompleted() const;
    int downloadsIdentical() const;
    int downloadsReported() const;
    int startsCompleted() const;
    int startsExact() const;
    int startsReported() const;
    int errorBoxes() const;
    // Every break of the rule: complete means identical (or exact), and nothing ends
    // without the user being told; each with its seed.
    QStringList violations() const;
    QStringList details() const;     // a line per operation
};

// Needs a QApplication; runs in the calling thread's event loop.
FaultRow runFault(const FaultKind &kind, const FaultRun &run);
QStringList faultTable(const QList<FaultRow> &rows);

#endif
