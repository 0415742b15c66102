#ifndef VANTOREL_EXPORTDOWNLOAD_H
#define VANTOREL_EXPORTDOWNLOAD_H

// The export file of a downloaded record memory, written whole or not at all. Shared by
// vantorel-cli read and the station.

#include "loggerdevice.h"

#include <QString>

namespace Device {

// Written beside `path` and renamed over it at the end, so that a failure or a stop leaves
// an earlier file of that name as it was. False with `error` set (naming the file) when it
// cannot be written, false with `error` empty when `keepGoing` said stop.
bool saveExportFile(const QString &path, const LoggerStatus &status, const RecordMemory &memory,
                    const std::function<bool()> &keepGoing, QString *error);

// Records in the export file of `memory`.
quint64 exportRecords(const RecordMemory &memory);

} // namespace Device

#endif
