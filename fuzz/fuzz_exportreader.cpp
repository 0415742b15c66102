// The export file reader on arbitrary bytes: it either refuses them with a message that
// names the file and a line within them, or returns columns of equal length.

#include "campaignstatistics.h"
#include "fuzzsupport.h"

#include <QByteArray>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::silenceQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    ExportData parsed;
    QString error;
    if (!parseExportText(text, QStringLiteral("f.tsv"), parsed, error)) {
        FUZZ_CHECK(error.startsWith(QStringLiteral("f.tsv, line ")));
        const int line = error.mid(12).section(QLatin1Char(':'), 0, 0).toInt();
        FUZZ_CHECK(line >= 1 && line <= text.count('\n') + 2);
        return 0;
    }
    FUZZ_CHECK(parsed.columnCount() >= 1 && parsed.columnNames.size() == parsed.units.size());
    FUZZ_CHECK(parsed.rowKinds.size() == parsed.rowCount() && parsed.values.size() == size_t(parsed.columnCount()));
    for (const auto &column : parsed.values)
        FUZZ_CHECK(column.size() == parsed.rowCount());
    // Statistics and the reduction take whatever was read.
    const CampaignStatistics statistics = computeStatistics(parsed, {{0.0, 10.0}});
    FUZZ_CHECK(statistics.records == qint64(parsed.rowCount()));
    if (statistics.firstStamp != ExportData::NO_TIME) {
        const std::vector<QPointF> points =
            reduceMinMax(parsed.times, parsed.values[0], statistics.firstStamp, statistics.lastStamp, 7);
        FUZZ_CHECK(points.size() <= 2 * parsed.rowCount());
    }
    return 0;
}
