// Record pass throughput: decodes a memory image and writes the lines to a file, the
// way a download ends, for a full 2-byte memory, a full 4-byte memory and a wrapped
// 24-bit counter.

#include "records.h"
#include "statusdisplay.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <vector>

namespace {

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Case {
    const char *name;
    quint8 deviceType;
    quint8 recordSize;
    quint32 topAddress;
    quint32 usedBytes;
    int periodSeconds;
};

bool runCase(const Case &c, const quint8 *image, const QString &path, QTextStream &out)
{
    RecordPassParams params;
    params.deviceType = c.deviceType;
    params.recordSize = c.recordSize;
    params.periodSeconds = c.periodSeconds;
    params.calibrationA = 0x0123;
    params.calibrationB = 0x2345;
    params.topAddress = c.topAddress;
    params.endAddress = c.usedBytes;
    params.memoryWrapped = c.usedBytes > c.topAddress;
    params.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52), Qt::UTC);

    QElapsedTimer timer;
    timer.start();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    RecordPass pass(params, image);
    QByteArray buffer;
    while (!pass.atEnd()) {
        buffer.resize(0);
        pass.writeLines(buffer, 8192);
        if (file.write(buffer) != buffer.size())
            return false;
    }
    if (!file.commit())
        return false;
    const double seconds = timer.nsecsElapsed() / 1e9;

    out << "case: " << c.name << "\n"
        << "lines: " << pass.linesWritten() << "\n"
        << "seconds: " << fixedText(seconds, 3) << "\n"
        << "lines per second: " << fixedText(pass.linesWritten() / seconds, 0) << "\n"
        << "peak RSS KiB: " << peakRssKiB() << "\n";
    out.flush();
    QFile::remove(path);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    std::vector<quint8> image(MEMORY_IMAGE_SIZE);
    QRandomGenerator random(20141126);
    for (quint8 &byte : image)
        byte = quint8(random.bounded(256));

    const Case cases[] = {
        {"65536 2-byte records (type 1)", 1, 2, 0x3FFFF, 0x20000, 60},
        {"32768 4-byte records (type 3)", 3, 4, 0x3FFFF, 0x20000, 60},
        {"wrapped counter 0xFFFFFF bytes (type 1)", 1, 2, 0x1FFFF, 0xFFFFFF, 1},
    };
    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    for (const Case &c : cases) {
        if (!runCase(c, image.data(), dir.filePath(QStringLiteral("records.tsv")), out))
            return 1;
    }
    return 0;
}
