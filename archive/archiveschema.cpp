#include "archiveschema.h"

namespace Archive {

namespace {

QStringList appendOnlyTriggers(bool postgres)
{
    QStringList statements;
    if (postgres)
        statements << QStringLiteral("CREATE FUNCTION vantorel_refuse_change() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
                                     "RAISE EXCEPTION 'rows of % in the VanTorel archive cannot be changed or deleted', TG_TABLE_NAME; END $$");
    for (const QString &table : {QStringLiteral("downloads"), QStringLiteral("audit_events")}) {
        if (!postgres) {
            for (const QString &change : {QStringLiteral("update"), QStringLiteral("delete")})
                statements << QStringLiteral("CREATE TRIGGER %1_no_%2 BEFORE %3 ON %1 BEGIN SELECT RAISE(ABORT, "
                                             "'rows of %1 in the VanTorel archive cannot be changed or deleted'); END")
                                  .arg(table, change, change.toUpper());
            continue;
        }
        statements << QStringLiteral("CREATE TRIGGER %1_no_update BEFORE UPDATE ON %1 FOR EACH ROW EXECUTE FUNCTION vantorel_refuse_change()").arg(table)
                   << QStringLiteral("CREATE TRIGGER %1_no_delete BEFORE DELETE ON %1 FOR EACH ROW EXECUTE FUNCTION vantorel_refuse_change()").arg(table)
                   << QStringLiteral("CREATE TRIGGER %1_no_truncate BEFORE TRUNCATE ON %1 FOR EACH STATEMENT EXECUTE FUNCTION vantorel_refuse_change()").arg(table);
    }
    return statements;
}

// Version 1: the downloads, the audit trail, their triggers.
QStringList version1(bool postgres)
{
    const QString binary = postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
    return QStringList{
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
           }
           + appendOnlyTriggers(postgres);
}

} // namespace

QStringList schemaUpgrade(int from, int to, bool postgres)
{
    // One entry per version: what takes the version before it there.
    QStringList statements;
    for (int version = from + 1; version <= to; ++version) {
        if (version == 1)
            statements += version1(postgres);
    }
    return statements;
}

} // namespace Archive
