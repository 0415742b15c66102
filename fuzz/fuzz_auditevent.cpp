// verify's reading of one stored audit event on arbitrary column texts: an answer that names
// the event, or an event whose link and content hold together; never a crash.
// Input: lines; the first nine are the columns (id, occurred_at, user_name, host,
// program_version, kind, address, details, hash; a line "NULL" is SQL NULL, a missing line
// too), the tenth the hash of the event before it.

#include "auditevent.h"
#include "fuzzsupport.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QList>
#include <QRegularExpression>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QList<QByteArray> lines = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\n');
    QVector<QVariant> columns;
    for (int i = 0; i < Archive::AUDIT_EVENT_COLUMNS; ++i) {
        const QByteArray line = lines.value(i, "NULL");
        columns.append(line == "NULL" ? QVariant() : QVariant(QString::fromUtf8(line)));
    }
    const QString previous = QString::fromUtf8(lines.value(Archive::AUDIT_EVENT_COLUMNS));
    const Archive::CheckedEvent event = Archive::checkEvent(columns, previous);

    FUZZ_CHECK(event.hash == columns[8].toString());
    if (!event.problem.isEmpty()) {
        FUZZ_CHECK(event.problem.startsWith(QStringLiteral("audit event %1: ").arg(event.id)));
        FUZZ_CHECK(event.downloadId == 0);
        return 0;
    }
    // Accepted: every column there, a hash of 64 hex digits, details a JSON object.
    static const QRegularExpression hash(QStringLiteral("^[0-9a-fA-F]{64}$"));
    FUZZ_CHECK(hash.match(event.hash).hasMatch());
    for (const QVariant &column : columns)
        FUZZ_CHECK(!column.isNull());
    FUZZ_CHECK(QJsonDocument::fromJson(columns[7].toString().toUtf8()).isObject());
    const bool download = columns[5].toString() == QLatin1String("downloadStored");
    FUZZ_CHECK(download == (event.downloadId > 0));
    if (download)
        FUZZ_CHECK(qint64(event.details.value(QStringLiteral("downloadId")).toDouble()) == event.downloadId);
    // The same event after another one is no longer the same link.
    FUZZ_CHECK(!Archive::checkEvent(columns, previous + QLatin1Char('0')).problem.isEmpty());
    return 0;
}
