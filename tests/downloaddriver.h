#ifndef VANTOREL_DOWNLOADDRIVER_H
#define VANTOREL_DOWNLOADDRIVER_H

// Driving "Read Data" as a user does, and the file that must come out of it.

#include "windowfixture.h"

QByteArray readFile(const QString &path);
// The export file as it must be, computed from the simulator's own memory and registers.
QByteArray expectedExport(sim::PtyLogger &logger, const QByteArray &header);

// Answers the save dialog with `path` (an empty path cancels it), and its overwrite
// question with Yes, recording the path it proposed.
struct SaveDialogAnswer {
    QString proposed;
    std::unique_ptr<ModalAnswerer> dialog, overwrite;
    explicit SaveDialogAnswer(const QString &path);
};

ModalAnswerer::Matcher progressDialog();
std::unique_ptr<ModalAnswerer> answerOutcome();  // OK to the box that ends every download
// A logger with a frozen clock, serial number 00012345 and that many bytes recorded.
sim::LoggerConfig frozenLogger(int type, quint32 usedBytes);
// Presses "Read Data" and waits for the outcome box and the window back to polling.
bool download(LoggerWindow &w, const ModalAnswerer &outcome);
int blockReads(sim::PtyLogger &logger);  // record-memory reads the logger heard
// A patient user: OK to every "Error COM, retry ?" once the adapter is plugged in again.
std::unique_ptr<QTimer> answerErrorCom(sim::PtyLogger &logger);

#endif
