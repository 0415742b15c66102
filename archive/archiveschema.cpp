#include "archiveschema.h"

namespace Archive {

namespace {

// Version 1: the downloads, the audit trail, their triggers.
QStringList version1(bool postgres)
{
    const QString binary = postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    QStringList statements{
        QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"),
        QStringLiteral("CREATE TABLE downloads (id BIGINT PRIMARY KEY, address BIGINT NOT NULL, "
                       "device_type INTEGER NOT NULL, version INTEGER NOT NULL, memory_size_code INTEGER NOT NULL, "
                       "period_code INTEGER NOT NULL, start_time VARCHAR(19) NOT NULL, calibration_a INTEGER NOT NULL, "
                       "calibration_b INTEGER NOT NULL, used_bytes BIGINT NOT NULL, downloaded_at VARCHAR(20) NOT NULL, "
                       "host VARCHAR(255) NOT NULL, user_name VARCHAR(255) NOT NULL, program_version VARCHAR(32) NOT NULL, "
                       "image %1 NOT NULL, image_sha256 CHAR(64) NOT NULL)")
            .arg(binary),
        QStringLiteral("CREATE INDEX downloads_campaign ON downloads (address, device_type, start_time)"),
        QStringLiteral("CREATE TABLE audit_events (id BIGINT PRIMARY KEY, occurred_at VARCHAR(20) NOT NULL, "
                       "user_name VARCHAR(255) NOT NULL, host VARCHAR(255) NOT NULL, program_version VARCHAR(32) NOT NULL, "
                       "kind VARCHAR(32) NOT NULL, address BIGINT NOT NULL, details TEXT NOT NULL, hash CHAR(64) NOT NULL)"),
        QStringLiteral("CREATE INDEX audit_events_address ON audit_events (address)"),
    };
    statements += triggerSupport(postgres);
    for (const Trigger &trigger : appendOnlyTriggers(postgres))
        statements << trigger.create;
    return statements;
}

} // namespace

QStringList triggerSupport(bool postgres)
{
    if (!postgres)
        return {};
    return {QStringLiteral("CREATE OR REPLACE FUNCTION vantorel_refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                           "RAISE EXCEPTION 'rows of % in the VanTorel archive cannot be changed or deleted', TG_TABLE_NAME; END $$")};
}

QList<Trigger> appendOnlyTriggers(bool postgres)
{
    QList<Trigger> triggers;
    for (const QString &table : {QStringLiteral("downloads"), QStringLiteral("audit_events")}) {
        if (!postgres) {
            for (const QString &change : {QStringLiteral("update"), QStringLiteral("delete")}) {
                const QString name = QStringLiteral("%1_no_%2").arg(table, change);
                triggers.append({name, table,
                                 QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 BEGIN SELECT RAISE(ABORT, "
                                                "'rows of %3 in the VanTorel archive cannot be changed or deleted'); END")
                                     .arg(name, change.toUpper(), table)});
            }
            continue;
        }
        for (const QString &change : {QStringLiteral("update"), QStringLiteral("delete"), QStringLiteral("truncate")}) {
            const QString name = QStringLiteral("%1_no_%2").arg(table, change);
            const QString scope = change == QLatin1String("truncate") ? QStringLiteral("STATEMENT") : QStringLiteral("ROW");
            triggers.append({name, table,
                             QStringLiteral("CREATE TRIGGER %1 BEFORE %2 ON %3 FOR EACH %4 EXECUTE FUNCTION vantorel_refuse_change()")
                                 .arg(name, change.toUpper(), table, scope)});
        }
    }
    return triggers;
}

QStringList schemaUpgrade(int from, int to, bool postgres)
{
    // One entry per version: what takes the version before it there. Version 2 changes what
    // events hold, not the tables: the version number keeps older programs from writing
    // events of the old form into it.
    QStringList statements;
    for (int version = from + 1; version <= to; ++version) {
        if (version == 1)
            statements += version1(postgres);
    }
    return statements;
}

} // namespace Archive
