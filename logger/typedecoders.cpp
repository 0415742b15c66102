#include "typedecoders.h"

#include "livereadings.h"
#include "quantities.h"
#include "records.h"
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

// Unit and decimals come from the table of quantities, the same for every type.
LiveValue value(const char *name, double v, bool known = true)
{
    const Quantity *q = quantityNamed(name);
    Q_ASSERT(q);
    return LiveValue{q->name, known ? v : 0.0, q->unit, q->decimals, known};
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
    values.append(value("t1", t1, known && answers.r40.ok));
    values.append(value("t2", t2, known));
    values.append(value("batteryVoltage", battery, known));
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

} // namespace

double sixteenthsOfDegree(double raw)
{
    return raw * 0.0625;
}

double hygroTemperature(double raw)
{
    return (raw - 3960) / 100.0;
}

float relativeHumidity(double raw)
{
    const float rh = float(raw * (raw * -0.0000028 + 0.0405) - 4.0);
    return rh > 100 ? 100 : rh < 0 ? 0 : rh;
}

double calibratedTemperature(int calibrationA, int raw)
{
    return (calibrationA + raw) / 256.0;
}

namespace RecordValue {

double sixteenths(quint16 word, const RecordPassParams &)
{
    return sixteenthsOfDegree(qint16(word));
}

double hygroTemperature(quint16 word, const RecordPassParams &)
{
    return ::hygroTemperature(qint16(word));
}

double humidity(quint16 word, const RecordPassParams &)
{
    return relativeHumidity(qint16(word));
}

double periodScaled(quint16 word, const RecordPassParams &params)
{
    return periodScaledValue(word, params.periodSeconds);
}

double calibrated(quint16 word, const RecordPassParams &params)
{
    return calibratedTemperature(qint16(params.calibrationA), qint16(word));
}

double eighths(quint16 word, const RecordPassParams &)
{
    return qint16(word) * 0.125;
}

double typeS(quint16 word, const RecordPassParams &)
{
    return qint16(word) * 0.125 * 3.93 * 1.09;
}

double voltage(quint16 word, const RecordPassParams &params)
{
    return qint16(word) * 2 / 25.0 * params.calibrationB / 2300.0;
}

double count(quint16 word, const RecordPassParams &)
{
    return qint16(word);
}

} // namespace RecordValue

namespace LiveDecode {

// The live word is unsigned here, unlike the stored one.
void sixteenthsTemperature(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r40.ok)
        values.append(value("temperature", sixteenthsOfDegree(word16(answers.r40, 0))));
}

void pulses(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r44.ok)
        values.append(value("pulses", word32(answers.r44, 4)));
}

void hygro(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r40.ok)
        values.append(value("temperature", ::hygroTemperature(qint16(word16(answers.r40, 0)))));
    if (answers.r52.ok)
        values.append(value("humidity", relativeHumidity(qint16(word16(answers.r52, 0)))));
}

void wattmeter(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values)
{
    quint32 power = 0;
    if (answers.r44.ok) {
        const quint32 raw = answers.r44.p[6] >= 0x80 ? 0 : word16(answers.r44, 4);
        power = raw / 10;
        values.append(value("activePower", power));
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
    values.append(value("voltage", volts, known));
    values.append(value("current", amps, known));
    values.append(value("powerFactor", powerFactor, known));
}

// The live word is unsigned here, unlike the stored one.
void calibratedTemperature(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r40.ok)
        values.append(value("temperature", ::calibratedTemperature(status.calibrationASigned(), word16(answers.r40, 0))));
}

void thermocoupleK(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    thermocoupleValues(answers, 225, values);
}

void thermocoupleS(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    thermocoupleValues(answers, 1078, values);
}

void lamp(const LoggerStatus &, const LiveAnswers &answers, QList<LiveValue> &values)
{
    if (answers.r40.ok) {
        values.append(value("onTime", word16(answers.r40, 0)));
        values.append(value("totalOnTime", word32(answers.r40, 8)));
    }
    if (answers.r52.ok) {
        values.append(value("light", answers.r52.p[0]));
        values.append(value("lampOn", answers.r52.p[1] != 0 ? 1 : 0));
    }
}

} // namespace LiveDecode

namespace LiveText {

QString temperature(const QList<LiveValue> &values, const QString &current)
{
    if (const LiveValue *t = find(values, "temperature"))
        return shown(*t, degrees);
    return current;
}

QString pulses(const QList<LiveValue> &values, const QString &current)
{
    if (const LiveValue *pulses = find(values, "pulses"))
        return QString::number(quint32(pulses->value)) + QStringLiteral(" pulses");
    return current;
}

QString hygro(const QList<LiveValue> &values, const QString &current)
{
    QString text = temperature(values, current);
    if (const LiveValue *rh = find(values, "humidity"))
        text += newLine + shown(*rh, QStringLiteral("%"));
    return text;
}

QString wattmeter(const QList<LiveValue> &values, const QString &current)
{
    QString text = current;
    if (const LiveValue *power = find(values, "activePower"))
        text = QStringLiteral("Active Power:") + shown(*power, QStringLiteral("W"));
    const LiveValue *volts = find(values, "voltage");
    if (!volts)
        return text;
    return text + newLine + QStringLiteral("Voltage:") + shown(*volts, QStringLiteral("V")) + newLine
           + QStringLiteral("Current:") + shown(*find(values, "current"), QStringLiteral("A")) + newLine
           + QStringLiteral("Power Factor:") + shown(*find(values, "powerFactor"), QString());
}

QString thermocouple(const QList<LiveValue> &values, const QString &current)
{
    const LiveValue *t1 = find(values, "t1");
    if (!t1)
        return current;
    return QStringLiteral("T1:") + shown(*t1, degrees) + newLine + QStringLiteral("T2:")
           + shown(*find(values, "t2"), degrees) + newLine + QStringLiteral("U Bat:")
           + shown(*find(values, "batteryVoltage"), QString());
}

QString lamp(const QList<LiveValue> &values, const QString &current)
{
    QString text = current;
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

} // namespace LiveText
