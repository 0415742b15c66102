#ifndef VANTOREL_EXPORTDOWNLOAD_H
#define VANTOREL_EXPORTDOWNLOAD_H

// The export file of a downloaded record memory, written whole or not at all, for the
// download routine of every front end (archive/campaigndownload.h).

#include "loggerdevice.h"

class OutputFile;

namespace Device {

enum class SaveResult { Saved, Stopped, WriteFailed };

// Writes the export file into `out` (opened) and puts it in place. Stopped when `keepGoing`
// said stop, WriteFailed with out.errorMessage() saying why; either way nothing is left and
// an earlier file of that name is kept.
SaveResult saveExport(OutputFile &out, const LoggerStatus &status, const RecordMemory &memory,
                      const std::function<bool()> &keepGoing);

// Records in the export file of `memory`.
quint64 exportRecords(const RecordMemory &memory);

} // namespace Device

#endif
