#ifndef VANTOREL_TYPEDECODERS_H
#define VANTOREL_TYPEDECODERS_H

// The small pure decoders the device-type table points at: the value of a stored record's
// word, the values of a live reading and the text the window shows of them. A formula used
// by both the records and the live reading is written once, here.

#include <QList>
#include <QString>
#include <QtGlobal>

struct LiveAnswers;
struct LiveValue;
struct LoggerStatus;
struct RecordPassParams;

// Formulas shared by records and live readings, on the raw integer word.
double sixteenthsOfDegree(double raw);                       // raw / 16
double hygroTemperature(double raw);                         // (raw - 3960) / 100
float relativeHumidity(double raw);                          // single precision, clamped to 0..100
double calibratedTemperature(int calibrationA, int raw);     // (A + raw) / 256

// Value of one record column from its big-endian word (A for the first column, B for the
// second); the word is signed unless the name says otherwise.
namespace RecordValue {
double sixteenths(quint16 word, const RecordPassParams &params);
double hygroTemperature(quint16 word, const RecordPassParams &params);
double humidity(quint16 word, const RecordPassParams &params);
double periodScaled(quint16 word, const RecordPassParams &params);   // unsigned
double calibrated(quint16 word, const RecordPassParams &params);
double eighths(quint16 word, const RecordPassParams &params);
double typeS(quint16 word, const RecordPassParams &params);
double voltage(quint16 word, const RecordPassParams &params);
double count(quint16 word, const RecordPassParams &params);
} // namespace RecordValue

// The values of one refresh from the answers of the live reads; a value whose read failed
// is left out.
namespace LiveDecode {
void sixteenthsTemperature(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void pulses(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void hygro(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void wattmeter(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void calibratedTemperature(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void thermocoupleK(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void thermocoupleS(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
void lamp(const LoggerStatus &status, const LiveAnswers &answers, QList<LiveValue> &values);
} // namespace LiveDecode

// The live reading label from those values; `current` is the label's text before.
namespace LiveText {
QString temperature(const QList<LiveValue> &values, const QString &current);
QString pulses(const QList<LiveValue> &values, const QString &current);
QString hygro(const QList<LiveValue> &values, const QString &current);
QString wattmeter(const QList<LiveValue> &values, const QString &current);
QString thermocouple(const QList<LiveValue> &values, const QString &current);
QString lamp(const QList<LiveValue> &values, const QString &current);
} // namespace LiveText

#endif
