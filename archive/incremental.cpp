#include "incremental.h"

#include "devicetypes.h"
#include "statusdisplay.h"

#include <QCryptographicHash>

namespace Archive {

namespace {

constexpr quint32 BLOCK = 64;   // a read request's bytes

quint32 roundUp(quint32 bytes)
{
    return (bytes + BLOCK - 1) / BLOCK * BLOCK;
}

quint32 storedSize(const LoggerStatus &status)
{
    const quint32 top = memoryTopFor(status.memorySizeCode);
    return status.usedBytes > top ? top + 1 : roundUp(status.usedBytes);
}

bool sameCampaign(const LoggerStatus &a, const LoggerStatus &b)
{
    return a.address == b.address && a.deviceType == b.deviceType && a.startTime == b.startTime
        && a.periodCode == b.periodCode && a.memorySizeCode == b.memorySizeCode
        && a.calibrationA == b.calibrationA && a.calibrationB == b.calibrationB;
}

ReadPlan fullRead(const QString &why)
{
    ReadPlan plan;
    plan.whyFull = why;
    return plan;
}

} // namespace

ReadPlan planRead(const LoggerStatus &now, const Download *previous)
{
    if (!previous)
        return fullRead(QStringLiteral("no earlier download of this campaign in the archive"));
    const LoggerStatus &then = previous->status;
    if (!sameCampaign(now, then))
        return fullRead(QStringLiteral("the archived download is of another campaign"));
    // Without a start time two campaigns cannot be told apart.
    if (!now.startTime.isValid())
        return fullRead(QStringLiteral("the logger's start time is not valid"));
    if (now.usedBytes < then.usedBytes)
        return fullRead(QStringLiteral("the logger holds fewer bytes than at the last download"));
    if (then.usedBytes == 0)
        return fullRead(QStringLiteral("nothing of this campaign was archived yet"));
    if (quint32(previous->image.size()) != storedSize(then)
        || QCryptographicHash::hash(previous->image, QCryptographicHash::Sha256) != previous->sha256)
        return fullRead(QStringLiteral("the archived image does not match its size or hash"));

    ReadPlan plan;
    plan.full = false;
    // The block before the one the last download ended in too: at least its last 64 bytes again.
    plan.from = then.usedBytes < BLOCK ? 0 : (then.usedBytes / BLOCK - 1) * BLOCK;
    plan.to = roundUp(now.usedBytes);
    plan.checkEnd = then.usedBytes;
    const quint32 memorySize = memoryTopFor(now.memorySizeCode) + 1;
    // The block to compare would already be overwritten.
    if (plan.to - plan.from > memorySize)
        return fullRead(QStringLiteral("more than the whole memory was recorded since the last download"));
    return plan;
}

bool mergeImage(const ReadPlan &plan, const LoggerStatus &now, const QByteArray &archived, std::vector<quint8> &image)
{
    const quint32 top = memoryTopFor(now.memorySizeCode);
    const auto *old = reinterpret_cast<const quint8 *>(archived.constData());
    const quint32 held = quint32(archived.size());
    for (quint32 address = plan.from; address < plan.checkEnd; ++address) {
        const quint32 position = address & top;
        if (position >= held || position >= image.size() || image[position] != old[position])
            return false;
    }
    const quint32 readLength = plan.to - plan.from;
    const quint32 firstRead = plan.from & top;
    for (quint32 position = 0; position < held && position < image.size(); ++position)
        if (((position - firstRead) & top) >= readLength)
            image[position] = old[position];
    return true;
}

QByteArray storedImage(const LoggerStatus &status, const std::vector<quint8> &image)
{
    const quint32 size = qMin<quint32>(storedSize(status), quint32(image.size()));
    return QByteArray(reinterpret_cast<const char *>(image.data()), qsizetype(size));
}

quint64 newRecords(const LoggerStatus &now, const Download *previous)
{
    const quint32 size = recordSizeOf(now.deviceType);
    const quint32 before = previous && sameCampaign(now, previous->status) && now.usedBytes >= previous->status.usedBytes
        ? previous->status.usedBytes : 0;
    return now.usedBytes / size - before / size;
}

} // namespace Archive
