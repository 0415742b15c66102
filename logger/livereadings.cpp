#include "livereadings.h"

#include "registers.h"

LiveAnswer &LiveAnswers::forRegister(quint32 reg)
{
    switch (reg) {
    case Register::liveValue: return r40;
    case Register::counterValue: return r44;
    case Register::secondValue: return r52;
    case Register::wattmeterRaw: return r53;
    default: {
        static LiveAnswer scratch;
        scratch = LiveAnswer();
        return scratch;
    }
    }
}

const LiveAnswer &LiveAnswers::forRegister(quint32 reg) const
{
    return const_cast<LiveAnswers *>(this)->forRegister(reg);
}

QList<LiveRead> liveReadPlan(quint8 deviceType)
{
    QList<LiveRead> plan;
    if (const DeviceType *type = deviceTypeInfo(deviceType))
        for (const LiveRead *read = type->liveReads; read->blocks != 0; ++read)
            plan.append(*read);
    return plan;
}

QList<LiveValue> liveValues(const LoggerStatus &status, const LiveAnswers &answers)
{
    QList<LiveValue> values;
    if (const DeviceType *type = deviceTypeInfo(status.deviceType))
        type->liveValues(status, answers, values);
    return values;
}

QString liveReadingText(const LoggerStatus &status, const LiveAnswers &answers, const QString &current)
{
    const DeviceType *type = deviceTypeInfo(status.deviceType);
    return type ? type->liveText(liveValues(status, answers), current) : current;
}

QString liveLine(const QString &windowText)
{
    return windowText.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts).join(QStringLiteral(", "));
}

QString liveValuesLine(quint8 deviceType, const QList<LiveValue> &values)
{
    const DeviceType *type = deviceTypeInfo(deviceType);
    return type ? liveLine(type->liveText(values, QStringLiteral("-"))) : QStringLiteral("-");
}
