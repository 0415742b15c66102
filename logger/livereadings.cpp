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

LiveValue value(const char *name, double v, const char *unit, int decimals, bool known = true)
{
    return LiveValue{name, known ? v : 0.0, unit, decimals, known};
}

void wattmeterValues(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values)
{
    quint32 power = 0;
    if (answers.r44.ok) {
        const quint32 raw = answers.r44.p[6] >= 0x80 ? 0 : word16(answers.r44, 4);
        power = raw / 10;
        values.append(value("activePower", power, "W", 1));
    }
    if (!answers.r53.ok)
        return;
    const bool known = status.calibrationB != 0;
    float volts = 0, amps = 0;
    double powerFactor = 0;
    if (known) {
        const quint32 vRaw = answers.r53.p[5] >= 0x80 ? 0 : word24(answers.r53, 3);
        const quint32 iRaw = word24(answers.r53, 0);
        const float vQuotient = float(vRaw / 25.0);
        volts = float(double(status.calibrationB) * vQuotient / 2300.0 / 256.0);

        const quint32 k = status.calibrationA <= 0x0FFF ? status.calibrationA : status.calibrationA + 0x1000u;
        const quint32 iScaled = (k * (iRaw >> 4)) >> 8;   // wraps modulo 2^32 like the logger's
        amps = float(iScaled / double(status.calibrationB) / 89.7);
        if (amps > 0 && volts > 0)
            powerFactor = qBound(0.0, power / double(volts) / double(amps), 1.0);
    }
    values.append(value("voltage", volts, "V", 2, known));
    values.append(value("current", amps, "A", 2, known));
    values.append(value("powerFactor", powerFactor, "", 2, known));
}

void thermocoupleValues(const LiveAnswers &answers, quint32 t1Factor, QList<LiveValue> &values)
{
    if (!answers.r52.ok)
        return;
    const quint16 u = word16(answers.r52, 2);
    const quint16 a = word16(answers.r52, 0);
    const bool known = u != 0;
    // Quotient first, then the factor, in 16 bits: the logger's own arithmetic.
    const double t1 = known && answers.r40.ok ? quint16(word16(answers.r40, 0) / u * t1Factor) : 0;
    const double t2 = known ? quint16(a / u * 225u) : 0;
    const double battery = known ? (18310u / u) / 10.0 : 0;
    values.append(value("t1", t1, "\xC2\xB0" "C", 1, known && answers.r40.ok));
    values.append(value("t2", t2, "\xC2\xB0" "C", 1, known));
    values.append(value("batteryVoltage", battery, "V", 1, known));
}

void lampValues(const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r40.ok) {
        values.append(value("onTime", word16(answers.r40, 0), "s", 0));
        values.append(value("totalOnTime", word32(answers.r40, 8), "s", 0));
    }
    if (answers.r52.ok) {
        values.append(value("light", answers.r52.p[0], "", 0));
        values.append(value("lampOn", answers.r52.p[1] != 0 ? 1 : 0, "", 0));
    }
}

const LiveValue *find(const QList<LiveValue> &values, const char *name)
{
    for (const LiveValue &v : values)
        if (qstrcmp(v.name, name) == 0)
            return &v;
    return nullptr;
}

// "-" without a unit for a value that cannot be known.
QString shown(const LiveValue &v, const QString &unit)
{
    return v.known ? fixedText(v.value, v.decimals) + unit : unknown;
}

QString wattmeterText(const QList<LiveValue> &values, QString text)
{
    if (const LiveValue *power = find(values, "activePower"))
        text = QStringLiteral("Active Power:") + shown(*power, QStringLiteral("W"));
    const LiveValue *volts = find(values, "voltage");
    if (!volts)
        return text;
    return text + newLine + QStringLiteral("Voltage:") + shown(*volts, QStringLiteral("V")) + newLine
           + QStringLiteral("Current:") + shown(*find(values, "current"), QStringLiteral("A")) + newLine
           + QStringLiteral("Power Factor:") + shown(*find(values, "powerFactor"), QString());
}

QString thermocoupleText(const QList<LiveValue> &values, const QString &current)
{
    const LiveValue *t1 = find(values, "t1");
    if (!t1)
        return current;
    return QStringLiteral("T1:") + shown(*t1, degrees) + newLine + QStringLiteral("T2:")
           + shown(*find(values, "t2"), degrees) + newLine + QStringLiteral("U Bat:")
           + shown(*find(values, "batteryVoltage"), QString());
}

QString lampText(const QList<LiveValue> &values, QString text)
{
    if (const LiveValue *on = find(values, "onTime")) {
        const quint32 total = quint32(find(values, "totalOnTime")->value);
        const QString totalText = total <= 3599 ? QString::number(total) + QStringLiteral(" s")
                                                : fixedText(total / 3600.0, 1) + QStringLiteral(" h");
        text = QStringLiteral("ON Time:") + QString::number(quint32(on->value)) + QStringLiteral(" s") + newLine
               + QStringLiteral("Total ON Time:") + totalText;
    }
    if (const LiveValue *light = find(values, "light")) {
        text += newLine + QStringLiteral("light: ") + QString::number(int(light->value))
                + (find(values, "lampOn")->value != 0 ? QStringLiteral("Lamp ON") : QStringLiteral("Lamp OFF"));
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

QList<LiveValue> liveValues(const LoggerStatus &status, const LiveAnswers &answers)
{
    QList<LiveValue> values;
    switch (status.deviceType) {
    case 1:
        if (answers.r40.ok)
            values.append(value("temperature", word16(answers.r40, 0) * 0.0625, "\xC2\xB0" "C", 1));
        break;
    case 2:
        if (answers.r44.ok)
            values.append(value("pulses", word32(answers.r44, 4), "", 0));
        break;
    case 3:
        if (answers.r40.ok)
            values.append(value("temperature", (qint16(word16(answers.r40, 0)) - 3960) / 100.0, "\xC2\xB0" "C", 1));
        if (answers.r52.ok) {
            const double h = qint16(word16(answers.r52, 0));
            float rh = float(h * (h * -0.0000028 + 0.0405) - 4.0);
            rh = rh > 100 ? 100 : rh < 0 ? 0 : rh;
            values.append(value("humidity", rh, "%RH", 1));
        }
        break;
    case 4:
    case 7:
    case 9: wattmeterValues(status, answers, values); break;
    case 5:
        if (answers.r40.ok)
            values.append(value("temperature", (status.calibrationASigned() + word16(answers.r40, 0)) / 256.0, "\xC2\xB0" "C", 1));
        break;
    case 6: thermocoupleValues(answers, 225, values); break;
    case 10: thermocoupleValues(answers, 1078, values); break;
    case 8: lampValues(answers, values); break;
    default: break;
    }
    return values;
}

QString liveReadingText(const LoggerStatus &status, const LiveAnswers &answers, const QString &current)
{
    const QList<LiveValue> values = liveValues(status, answers);
    switch (status.deviceType) {
    case 1:
    case 5:
        if (const LiveValue *t = find(values, "temperature"))
            return shown(*t, degrees);
        return current;
    case 2:
        if (const LiveValue *pulses = find(values, "pulses"))
            return QString::number(quint32(pulses->value)) + QStringLiteral(" pulses");
        return current;
    case 3: {
        QString text = current;
        if (const LiveValue *t = find(values, "temperature"))
            text = shown(*t, degrees);
        if (const LiveValue *rh = find(values, "humidity"))
            text += newLine + shown(*rh, QStringLiteral("%"));
        return text;
    }
    case 4:
    case 7:
    case 9: return wattmeterText(values, current);
    case 6:
    case 10: return thermocoupleText(values, current);
    case 8: return lampText(values, current);
    default: return current;
    }
}
