#ifndef VANTOREL_PERIODS_H
#define VANTOREL_PERIODS_H

#include <QString>

// Recording periods. The logger's codes are not in order of length (8 = 10 min, 9 = 1 h,
// 10..13 = 2..5 min); the new-campaign list is.
constexpr int PERIOD_COUNT = 14;

bool isValidPeriodCode(int code);
int periodSeconds(int code);          // 0 outside 0..13
QString periodLabel(int code);        // "1 s", "10 min", ...; empty outside 0..13
int comboIndexToPeriodCode(int index); // -1 outside 0..13
int periodCodeToComboIndex(int code);  // -1 outside 0..13
QString periodComboText(int index);   // "1s", "10min", ...; empty outside 0..13
int periodScaleFactor(int seconds);   // N of the scaled record values; 0 for an unknown length

#endif
