#ifndef VANTOREL_ARCHIVESCHEMA_H
#define VANTOREL_ARCHIVESCHEMA_H

// The archive's tables, one schema for SQLite and PostgreSQL: standard SQL, explicit ids
// (no engine's own counters), times as ISO 8601 text, hashes as lowercase hex. Only the
// image column's type and the triggers that keep images and audit trail append-only are
// written per engine.

#include <QList>
#include <QStringList>

namespace Archive {

// The key of the transaction lock every writer of a PostgreSQL archive takes.
constexpr int POSTGRES_WRITER_LOCK = 0x56544F52;

// The statements that take an archive from schema version `from` to `to` (0: an empty database).
QStringList schemaUpgrade(int from, int to, bool postgres);

// The triggers that keep rows append-only: name -> the statement that creates it.
struct Trigger { QString name, table, create; };
QList<Trigger> appendOnlyTriggers(bool postgres);
// What runs before the triggers can be made again (PostgreSQL: their function).
QStringList triggerSupport(bool postgres);

} // namespace Archive

#endif
