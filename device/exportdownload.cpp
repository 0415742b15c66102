#include "exportdownload.h"

#include "outputfile.h"

namespace Device {

SaveResult saveExport(OutputFile &out, const LoggerStatus &status, const RecordMemory &memory,
                      const std::function<bool()> &keepGoing)
{
    QString error;
    const bool written = writeExport(out, status, memory, keepGoing, &error);
    const bool stopped = keepGoing && !keepGoing();
    if (!stopped && written && out.commit())
        return SaveResult::Saved;
    out.cancel();
    return stopped || (!written && error.isEmpty()) ? SaveResult::Stopped : SaveResult::WriteFailed;
}

quint64 exportRecords(const RecordMemory &memory)
{
    return memory.params.endAddress / memory.params.recordSize;
}

} // namespace Device
