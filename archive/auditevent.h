#ifndef VANTOREL_AUDITEVENT_H
#define VANTOREL_AUDITEVENT_H

// How `verify` reads one stored audit event: whatever a damaged or edited database holds,
// an answer that names the event, never a crash. Pure, for the verify walk and its fuzzing.

#include <QJsonObject>
#include <QString>
#include <QVariant>
#include <QVector>

namespace Archive {

// The event's columns as stored, in the order id, occurred_at, user_name, host,
// program_version, kind, address, details, hash (a null QVariant: SQL NULL).
constexpr int AUDIT_EVENT_COLUMNS = 9;

struct CheckedEvent {
    qint64 id = 0;
    QString problem;           // the first thing wrong with it, e.g. "audit event 4: its hash is not 64 hex digits"
    QString hash;              // as stored: what the next event links to
    qint64 downloadId = 0;     // the download a valid DownloadStored event records, else 0
    QJsonObject details;       // of a DownloadStored event
};

// `previousHash`: the stored hash of the event before it (empty for the first).
CheckedEvent checkEvent(const QVector<QVariant> &columns, const QString &previousHash);

} // namespace Archive

#endif
