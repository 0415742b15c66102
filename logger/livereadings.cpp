#include "livereadings.h"

#include "devicetypes.h"
#include "registers.h"
#include "statusdisplay.h"

namespace {

const QString degrees = QString(QChar(0xB0)) + QLatin1Char('C');
const QString newLine = QStringLiteral("\r\n");
const QString unknown = QStringLiteral("-");

quint16 word16(const LiveAnswer &answer, int at)
{
    return quint16(answer.p[at] | answer.p[at + 1] << 8);
}

quint32 word24(const LiveAnswer &answer, int at)
{
    return quint32(answer.p[at]) | quint32(answer.p[at + 1]) << 8 | quint32(answer.p[at + 2]) << 16;
}

quint32 word32(const LiveAnswer &answer, int at)
{
    return word24(answer, at) | quint32(answer.p[at + 3]) << 24;
}

QString wattmeterText(const LoggerStatus &status, const LiveAnswers &answers, QString text)
{
    quint32 power = 0;
    if (answers.r44.ok) {
        const quint32 raw = answers.r44.p[6] >= 0x80 ? 0 : word16(answers.r44, 4);
        power = raw / 10;
        text = QStringLiteral("Active Power:") + fixedText(power, 1) + QLatin1Char('W');
    }
    if (!answers.r53.ok)
        return text;

    text += newLine;
    if (status.calibrationB == 0)
        return text + QStringLiteral("Voltage:-\r\nCurrent:-\r\nPower Factor:-");

    const quint32 vRaw = answers.r53.p[5] >= 0x80 ? 0 : word24(answers.r53, 3);
    const quint32 iRaw = word24(answers.r53, 0);
    const float vQuotient = float(vRaw / 25.0);
    const float volts = float(double(status.calibrationB) * vQuotient / 2300.0 / 256.0);

    const quint32 k = status.calibrationA <= 0x0FFF ? status.calibrationA : status.calibrationA + 0x1000u;
    const quint32 iScaled = (k * (iRaw >> 4)) >> 8;   // wraps modulo 2^32 like the logger's
    const float amps = float(iScaled / double(status.calibrationB) / 89.7);

    double powerFactor = 0;
    if (amps > 0 && volts > 0)
        powerFactor = qBound(0.0, power / double(volts) / double(amps), 1.0);

    return text + QStringLiteral("Voltage:") + fixedText(volts, 2) + QStringLiteral("V\r\n")
           + QStringLiteral("Current:") + fixedText(amps, 2) + QStringLiteral("A\r\n")
           + QStringLiteral("Power Factor:") + fixedText(powerFactor, 2);
}

QString thermocoupleText(const LiveAnswers &answers, quint32 t1Factor, const QString &current)
{
    if (!answers.r52.ok)
        return current;
    const quint16 u = word16(answers.r52, 2);
    const quint16 a = word16(answers.r52, 0);
    QString t1 = unknown, t2 = unknown, battery = unknown;
    if (u != 0) {
        // Quotient first, then the factor, in 16 bits: the logger's own arithmetic.
        t2 = fixedText(quint16(a / u * 225u), 1) + degrees;
        if (answers.r40.ok)
            t1 = fixedText(quint16(word16(answers.r40, 0) / u * t1Factor), 1) + degrees;
        battery = fixedText((18310u / u) / 10.0, 1);
    }
    return QStringLiteral("T1:") + t1 + newLine + QStringLiteral("T2:") + t2 + newLine
           + QStringLiteral("U Bat:") + battery;
}

QString lampText(const LiveAnswers &answers, QString text)
{
    if (answers.r40.ok) {
        const quint32 total = word32(answers.r40, 8);
        const QString totalText = total <= 3599 ? QString::number(total) + QStringLiteral(" s")
                                                : fixedText(total / 3600.0, 1) + QStringLiteral(" h");
        text = QStringLiteral("ON Time:") + QString::number(word16(answers.r40, 0)) + QStringLiteral(" s")
               + newLine + QStringLiteral("Total ON Time:") + totalText;
    }
    if (answers.r52.ok) {
        text += newLine + QStringLiteral("light: ") + QString::number(answers.r52.p[0])
                + (answers.r52.p[1] != 0 ? QStringLiteral("Lamp ON") : QStringLiteral("Lamp OFF"));
    }
    return text;
}

} // namespace

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
    switch (deviceType) {
    case 1:
    case 5: return {{Register::liveValue, 1, true}};
    case 2: return {{Register::counterValue, 1, true}};
    case 3: return {{Register::liveValue, 1, false}, {Register::secondValue, 1, false}};
    case 4:
    case 7:
    case 9: return {{Register::counterValue, 1, false}, {Register::wattmeterRaw, 1, true}};
    case 6:
    case 10: return {{Register::secondValue, 1, true}, {Register::liveValue, 1, false}};
    case 8: return {{Register::liveValue, 2, false}, {Register::secondValue, 1, false}};
    default: return {};
    }
}

QString liveReadingText(const LoggerStatus &status, const LiveAnswers &answers, const QString &current)
{
    switch (status.deviceType) {
    case 1:
        if (!answers.r40.ok)
            return current;
        return fixedText(word16(answers.r40, 0) * 0.0625, 1) + degrees;
    case 2:
        if (!answers.r44.ok)
            return current;
        return QString::number(word32(answers.r44, 4)) + QStringLiteral(" pulses");
    case 3: {
        QString text = current;
        if (answers.r40.ok)
            text = fixedText((qint16(word16(answers.r40, 0)) - 3960) / 100.0, 1) + degrees;
        if (answers.r52.ok) {
            const double h = qint16(word16(answers.r52, 0));
            float rh = float(h * (h * -0.0000028 + 0.0405) - 4.0);
            rh = rh > 100 ? 100 : rh < 0 ? 0 : rh;
            text += newLine + fixedText(rh, 1) + QLatin1Char('%');
        }
        return text;
    }
    case 4:
    case 7:
    case 9: return wattmeterText(status, answers, current);
    case 5:
        if (!answers.r40.ok)
            return current;
        return fixedText((status.calibrationASigned() + word16(answers.r40, 0)) / 256.0, 1) + degrees;
    case 6: return thermocoupleText(answers, 225, current);
    case 10: return thermocoupleText(answers, 1078, current);
    case 8: return lampText(answers, current);
    default: return current;
    }
}
