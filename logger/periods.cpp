#include "periods.h"

namespace {

struct Period {
    int seconds;
    const char *label;
};

// Indexed by the logger's period code.
const Period periods[PERIOD_COUNT] = {
    {1, "1 s"},      {2, "2 s"},    {5, "5 s"},    {10, "10 s"},   {15, "15 s"},
    {20, "20 s"},    {30, "30 s"},  {60, "1 min"}, {600, "10 min"}, {3600, "1 h"},
    {120, "2 min"},  {180, "3 min"}, {240, "4 min"}, {300, "5 min"},
};

// Indexed by combo position, which follows period length.
const int comboCodes[PERIOD_COUNT] = {0, 1, 2, 3, 4, 5, 6, 7, 10, 11, 12, 13, 8, 9};
const char *const comboTexts[PERIOD_COUNT] = {"1s",   "2s",   "5s",   "10s",  "15s",
                                              "20s",  "30s",  "1min", "2min", "3min",
                                              "4min", "5min", "10min", "1h"};

} // namespace

bool isValidPeriodCode(int code)
{
    return code >= 0 && code < PERIOD_COUNT;
}

int periodSeconds(int code)
{
    return isValidPeriodCode(code) ? periods[code].seconds : 0;
}

QString periodLabel(int code)
{
    return isValidPeriodCode(code) ? QString::fromLatin1(periods[code].label) : QString();
}

int comboIndexToPeriodCode(int index)
{
    return index >= 0 && index < PERIOD_COUNT ? comboCodes[index] : -1;
}

int periodCodeToComboIndex(int code)
{
    for (int index = 0; index < PERIOD_COUNT; ++index) {
        if (comboCodes[index] == code)
            return index;
    }
    return -1;
}

QString periodComboText(int index)
{
    return index >= 0 && index < PERIOD_COUNT ? QString::fromLatin1(comboTexts[index]) : QString();
}

int periodScaleFactor(int seconds)
{
    switch (seconds) {
    case 1: return 1;
    case 2: return 2;
    case 5: return 4;
    case 10: return 8;
    case 15:
    case 20: return 16;
    case 30: return 32;
    case 60: return 64;
    case 120:
    case 180:
    case 240: return 128;   // 240 s is 128 on the logger too, not 256
    case 300: return 256;
    case 600: return 512;
    case 3600: return 4096;
    default: return 0;
    }
}
