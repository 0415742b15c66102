#ifndef VANTOREL_DOWNLOADDRIVER_H
#define VANTOREL_DOWNLOADDRIVER_H

// Driving "Read Data" as a user does: the save dialog, the boxes, and the file that must
// come out of it.

#include "windowfixture.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <memory>

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
// The outcome box at the end of every download, answered with OK.
std::unique_ptr<ModalAnswerer> answerOutcome();
// A logger with a frozen clock, serial number 00012345 and that many bytes recorded.
sim::LoggerConfig frozenLogger(int type, quint32 usedBytes);
// Presses "Read Data" and waits for the outcome box and the window back to polling.
bool download(LoggerWindow &w, const ModalAnswerer &outcome);
// Record-memory reads the logger has answered or heard.
int blockReads(sim::PtyLogger &logger);
// A patient user: OK on every "Error COM, retry ?" once the adapter is plugged in again.
std::unique_ptr<QTimer> answerErrorCom(sim::PtyLogger &logger);

#endif
