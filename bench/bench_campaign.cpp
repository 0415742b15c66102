// The campaign window on large files: reading an export file of 65536 lines and the
// 8.4-million-line wrapped counter (time and peak memory), statistics, a zoom redraw of
// the largest, and its PDF report.

#include "campaignreport.h"
#include "campaignwindow.h"
#include "devicetypes.h"
#include "exportfile.h"
#include "exportfilereader.h"
#include "records.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <vector>

namespace {

long peakRssMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

bool writeExport(const QString &path, const std::vector<quint8> &image, quint8 type, quint32 top, quint32 used,
                 int period)
{
    RecordPassParams params;
    params.deviceType = type;
    params.recordSize = recordSizeOf(type);
    params.periodSeconds = period;
    params.topAddress = top;
    params.endAddress = used;
    params.memoryWrapped = used > top;
    params.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer = exportHeader(0x1234, type);
    RecordPass pass(params, image.data());
    while (!pass.atEnd()) {
        pass.writeLines(buffer, 8192);
        if (file.write(buffer) != buffer.size())
            return false;
        buffer.resize(0);
    }
    return file.commit();
}

double msSince(const QElapsedTimer &timer)
{
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir dir;
    std::vector<quint8> image(MEMORY_IMAGE_SIZE);
    QRandomGenerator random(20141126);
    // A slowly varying temperature: the chart and the statistics see a realistic shape.
    for (size_t i = 0; i + 1 < image.size(); i += 2) {
        const int raw = 320 + int(80 * std::sin(double(i) / 4000.0)) + int(random.bounded(4));
        image[i] = quint8(raw >> 8);
        image[i + 1] = quint8(raw);
    }
    const QString small = dir.filePath(QStringLiteral("small.tsv"));
    const QString large = dir.filePath(QStringLiteral("large.tsv"));
    if (!writeExport(small, image, 1, 0x3FFFF, 0x20000, 60) || !writeExport(large, image, 1, 0x1FFFF, 0xFFFFFF, 1))
        return 1;
    out << "peak RSS before reading MiB: " << peakRssMiB() << "\n";

    QString error;
    for (int round = 0; round < 3; ++round) {
        ExportData data;
        QElapsedTimer timer;
        timer.start();
        if (!readExportFile(small, data, error))
            return out << error << "\n", 1;
        out << "open 65536 lines ms: " << QString::number(msSince(timer), 'f', 1) << " (target < 300)\n";
    }

    ExportData data;
    QElapsedTimer timer;
    timer.start();
    if (!readExportFile(large, data, error))
        return out << error << "\n", 1;
    out << "open " << data.rowCount() << " lines (" << QFileInfo(large).size() / (1 << 20)
        << " MiB) ms: " << QString::number(msSince(timer), 'f', 0) << " (target < 5000)\n";
    timer.restart();
    const CampaignStatistics statistics = computeStatistics(data, {{0.0, 25.0}});
    out << "statistics ms: " << QString::number(msSince(timer), 'f', 0) << "\n";
    out << "peak RSS after reading MiB: " << peakRssMiB() << " (target < 400)\n";
    out.flush();

    CampaignWindow window;
    window.resize(1280, 800);
    window.show();
    timer.restart();
    window.setCampaign(std::move(data));
    window.repaint();
    out << "window shown ms: " << QString::number(msSince(timer), 'f', 0) << "\n";
    const qint64 first = window.statistics().firstStamp;
    const qint64 last = window.statistics().lastStamp;
    const qint64 span = last - first;
    double worst = 0;
    const std::pair<qint64, qint64> ranges[] = {
        {first, last}, {first, first + span / 2}, {last - 65536, last}, {last - 3600, last},
        {first + span / 3, first + span / 3 + 3600}, {first, last}};
    for (const auto &range : ranges) {
        timer.restart();
        window.showRange(range.first, range.second);
        window.repaint();
        const double ms = msSince(timer);
        worst = std::max(worst, ms);
        out << "zoom to " << (range.second - range.first) << " s: " << QString::number(ms, 'f', 1) << " ms, "
            << window.drawnPoints() << " points\n";
    }
    out << "zoom redraw worst ms: " << QString::number(worst, 'f', 1) << " (target < 50)\n";

    timer.restart();
    if (!writePdfReport(dir.filePath(QStringLiteral("report.pdf")), window.campaign(), window.statistics(), {}, error))
        return out << error << "\n", 1;
    out << "PDF report ms: " << QString::number(msSince(timer), 'f', 0) << "\n";
    out << "peak RSS MiB: " << peakRssMiB() << "\n";
    return 0;
}
