#include "exportdownload.h"

#include <QSaveFile>

namespace Device {

bool saveExportFile(const QString &path, const LoggerStatus &status, const RecordMemory &memory,
                    const std::function<bool()> &keepGoing, QString *error)
{
    error->clear();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (!writeExport(file, status, memory, keepGoing, error) || (keepGoing && !keepGoing())) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

quint64 exportRecords(const RecordMemory &memory)
{
    return memory.params.endAddress / memory.params.recordSize;
}

} // namespace Device
