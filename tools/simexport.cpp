// Writes the export file that a download of a simulated logger gives, without the
// window: the simulator's record memory through the same record pass and header as
// "Read Data". For the run script's picture of the campaign window.
//   vantorel-sim-export FILE.tsv [TYPE [RECORDS [PERIOD_CODE]]]

#include "devicetypes.h"
#include "exportfile.h"
#include "outputfile.h"
#include "periods.h"
#include "records.h"
#include "simulatedlogger.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        QTextStream(stderr) << "usage: vantorel-sim-export FILE.tsv [TYPE [RECORDS [PERIOD_CODE]]]\n";
        return 2;
    }
    sim::LoggerConfig config;
    config.deviceType = quint8(arguments.value(2, QStringLiteral("3")).toUInt());
    config.periodCode = quint8(arguments.value(4, QStringLiteral("7")).toUInt());
    config.usedBytes = arguments.value(3, QStringLiteral("300")).toUInt() * recordSizeOf(config.deviceType);
    sim::SimulatedLogger logger(config);

    RecordPassParams params;
    params.deviceType = config.deviceType;
    params.recordSize = logger.recordSize();
    params.periodSeconds = periodSeconds(config.periodCode);
    params.calibrationA = config.calibrationA;
    params.calibrationB = config.calibrationB;
    params.topAddress = logger.memoryTop();
    params.endAddress = logger.usedBytes();
    params.memoryWrapped = params.endAddress > params.topAddress;
    params.startTime = config.startTime;

    std::vector<quint8> image(MEMORY_IMAGE_SIZE);
    const std::vector<quint8> &memory = logger.memory();
    std::copy_n(memory.begin(), std::min(image.size(), memory.size()), image.begin());
    QByteArray text = exportHeader(config.address, config.deviceType);
    RecordPass pass(params, image.data());
    while (!pass.atEnd())
        pass.writeLines(text, 65536);
    OutputFile file(arguments[1]);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        QTextStream(stderr) << file.errorMessage() << '\n';
        return 1;
    }
    return 0;
}
