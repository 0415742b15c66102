// Export files read back, their statistics and the reduction for the chart.

#include "campaignstatistics.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "records.h"

#include <QtTest>

namespace {

const QByteArray header1 = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\r\nDate\t\xB0" "C\r\n";
const QByteArray header3 = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n";

// Every value as text, each followed by a space; each row ends in '|', "o|" after an overflow.
QString cells(const ExportData &data)
{
    QString text;
    for (size_t r = 0; r < data.rowCount(); ++r) {
        for (const auto &column : data.values)
            text += QString::number(column[r]) + QLatin1Char(' ');
        text += data.rowKinds[r] == ExportData::Overflow ? "o|" : "|";
    }
    return text;
}

ExportData parsed(const QByteArray &text)
{
    ExportData data;
    QString error;
    return parseExportText(text, QStringLiteral("t.tsv"), data, error) ? data : ExportData();
}

} // namespace

class TestExportReader : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");  // cells, or the start of the message
        QTest::newRow("CR LF, Latin-1") << header1 + "26/11/2014 16:52:00\t21.5\r\n" << "21.5 |";
        QTest::newRow("LF, UTF-8 with mark")
            << QByteArray("\xEF\xBB\xBFVantorel\n\t1234\n\tVantorel Temp\nDate\t\xC2\xB0" "C\n01/01/2015 00:00:00\t-3.2\n\n") << "-3.2 |";
        QTest::newRow("placeholder, overflow of 2 bytes")
            << header1 + "26/11/2014 16:52:00\t-\r\n26/11/2014 16:53:00\toverflow\t\r\n" << "nan |nan o|";
        QTest::newRow("overflow of 4 bytes, padded") << header3 + "29/02/2016 23:59:59\toverflow\toverflow\t\t\r\n" << "nan nan o|";
        QTest::newRow("truncated header") << QByteArray("Vantorel\t\r\n\t1234\r\n\tVantorel Temp\r\n") << "t.tsv, line 4:";
        QTest::newRow("binary garbage") << QByteArray("\x7F" "ELF\x02\x01\x00\x00\x00\n\xFF\xFE", 12) << "t.tsv, line 1:";
        QTest::newRow("units against names") << header3.left(header3.size() - 6) + "\r\n" << "t.tsv, line 4:";
        QTest::newRow("wrong column count") << header3 + "26/11/2014 16:52:00\t21.5\r\n" << "t.tsv, line 5:";
        QTest::newRow("bad date") << header1 + "26/11/2014 16:52:00\t1\r\n29/02/2015 10:00:00\t1\r\n" << "t.tsv, line 6:";
        QTest::newRow("comma decimal") << header1 + "26/11/2014 16:52:00\t21,5\r\n" << "t.tsv, line 5:";
        QTest::newRow("huge line") << header1 + QByteArray(3 << 20, '7') << "t.tsv, line 5:";
    }

    void read()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        ExportData data;
        QString error;
        const bool ok = parseExportText(text, QStringLiteral("t.tsv"), data, error);
        QCOMPARE(ok ? cells(data) : error.left(expected.size()), expected);
        QVERIFY(!ok || data.units.first() == QStringLiteral("\u00B0C"));
    }

    // What a download of each type writes, wrapped or not, reads back line for line (the
    // wrapped ones run over several chunks of the reader).
    void everyTypeWritten_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<quint32>("usedBytes");
        for (int type = 0; type <= 10; ++type) {
            QTest::addRow("type %d", type) << type << 4000u;
            QTest::addRow("type %d wrapped", type) << type << 0x20100u;
        }
    }

    void everyTypeWritten()
    {
        QFETCH(int, type);
        QFETCH(quint32, usedBytes);
        std::vector<quint8> image(MEMORY_IMAGE_SIZE);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = quint8(i * 7919 >> 3);
        RecordPassParams params;
        params.deviceType = quint8(type);
        params.recordSize = recordSizeOf(quint8(type));
        params.periodSeconds = 60;
        params.endAddress = usedBytes;
        params.memoryWrapped = usedBytes > params.topAddress;
        params.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);
        QByteArray text = exportHeader(0x12345, quint8(type));
        RecordPass pass(params, image.data());
        pass.writeLines(text, 1 << 20);
        const ExportData data = parsed(text);
        QCOMPARE(quint64(data.rowCount()), pass.lineCount());
        QCOMPARE(data.deviceType, quint8(type == 5 ? 1 : type == 9 ? 4 : type));
        QCOMPARE(qint64(std::count(data.rowKinds.begin(), data.rowKinds.end(), ExportData::Overflow)),
                 qint64(text.count("overflow")) / data.columnCount());
    }

    void statistics_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");
        // Minimum 1 first at 00:00, maximum 9 first at 00:02, mean 30/6; a value stands for the minute up to
        // the next stamp, the last one for the step before it; "-" neither counts nor ends the run above 8.
        QTest::newRow("limits 2 and 8")
            << header1 + "01/01/2015 00:00:00\t1\n01/01/2015 00:01:00\t5\n01/01/2015 00:02:00\t9\n"
                         "01/01/2015 00:03:00\t-\n01/01/2015 00:04:00\t9\n01/01/2015 00:05:00\t5\n"
                         "01/01/2015 00:06:00\t1\n"
            << "6 1 01/01/2015 00:00:00 9 01/01/2015 00:02:00 5.00 5.64 120 120 3";
        // Straight from below to above and back: three excursions.
        QTest::newRow("below, above, below")
            << header1 + "01/01/2015 00:00:00\t1\n01/01/2015 00:01:00\t9\n01/01/2015 00:02:00\t1\n"
            << "3 1 01/01/2015 00:00:00 9 01/01/2015 00:01:00 3.67 4.60 120 60 3";
        // exp(-10000/293.15) and exp(-10000/303.15) averaged: 26.26, above the mean of 25.
        QTest::newRow("mean kinetic temperature")
            << header1 + "01/01/2015 00:00:00\t20\n01/01/2015 00:10:00\t30\n"
            << "2 20 01/01/2015 00:00:00 30 01/01/2015 00:10:00 25.00 26.26 0 1200 1";
        QTest::newRow("no kinetic temperature but for \u00B0C")
            << QByteArray("Vantorel\n\t1\n\tVantorel Impulse\nDate\tPulses\n01/01/2015 00:00:00\t20\n")
            << "1 20 01/01/2015 00:00:00 20 01/01/2015 00:00:00 20.00 nan 0 0 1";
    }

    void statistics()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, expected);
        const ExportData data = parsed(text);
        const ColumnStatistics s = computeStatistics(data, {{2.0, 8.0}}).columns.at(0);
        const QString got = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8 %9 %10").arg(s.count).arg(s.minimum)
            .arg(stampText(s.minimumTime)).arg(s.maximum).arg(stampText(s.maximumTime)).arg(s.mean, 0, 'f', 2)
            .arg(s.meanKinetic, 0, 'f', 2).arg(s.secondsBelow).arg(s.secondsAbove).arg(s.excursions);
        QCOMPARE(got, expected);
    }

    void reduction_data()
    {
        QTest::addColumn<int>("buckets");
        QTest::newRow("one column") << 1;
        QTest::newRow("ten columns") << 10;
        QTest::newRow("more columns than rows") << 5000;
    }

    // Spikes of one row survive, a gap stays a gap, and the points stay few and in order.
    void reduction()
    {
        QFETCH(int, buckets);
        std::vector<qint64> times(2000);
        std::vector<double> values(2000);
        for (size_t i = 0; i < times.size(); ++i) {
            times[i] = 1000 + qint64(i) * 60;
            values[i] = std::sin(double(i) / 50.0);
        }
        values[123] = 5;
        values[1777] = -7;
        std::fill(values.begin() + 400, values.begin() + 420, std::nan(""));
        const std::vector<QPointF> points = reduceMinMax(times, values, times.front(), times.back(), buckets);
        for (const QPointF &spike : {QPointF(times[123] * 1000.0, 5), QPointF(times[1777] * 1000.0, -7)})
            QCOMPARE(std::count(points.begin(), points.end(), spike), 1);
        QCOMPARE(std::count_if(points.begin(), points.end(), [](const QPointF &p) { return std::isnan(p.y()); }), 1);
        QVERIFY(points.size() <= size_t(std::min(2 * buckets + 4, 2000)));
        QVERIFY(std::is_sorted(points.begin(), points.end(), [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); }));
    }
};

QTEST_GUILESS_MAIN(TestExportReader)
#include "tst_exportreader.moc"
