#ifndef VANTOREL_QUANTITIES_H
#define VANTOREL_QUANTITIES_H

// What each live value is called and measured in: its key and unit as the window and the
// command line show it, its Prometheus metric in base units, the quantity an alarm names, and
// how Home Assistant classes it. Every front end reads this one table.

#include "livereadings.h"

#include <QList>

struct Quantity {
    const char *name;            // LiveValue::name, the JSON key
    const char *unit;            // UTF-8, as the window shows it; may be empty
    int decimals;                // as the window shows it
    const char *quantity;        // the metric's name without prefix and unit: "temperature"
    const char *metric;          // the Prometheus metric, in base units
    const char *help;            // its HELP text; nullptr where an earlier row of the metric has it
    const char *channel;         // the "channel" label, or nullptr
    double metricScale;          // from the window's unit to the metric's
    bool cumulative;             // only ever grows during a campaign (a counter)
    const char *haDeviceClass;   // Home Assistant's device_class, or nullptr
    const char *haUnit;          // Home Assistant's unit_of_measurement, or nullptr
    bool diagnostic;             // a diagnostic entity rather than a reading
};

// Every live value the program knows, in a fixed order, then those of statusValues().
const QList<Quantity> &liveQuantities();

// The row of a LiveValue name; nullptr for a name the table does not hold.
const Quantity *quantityNamed(const char *name);

// The value in the metric's units, rounded as the window shows it (so that 55.7 %RH is 0.557,
// not 0.5570000000000001).
double metricValue(const Quantity &quantity, const LiveValue &value);

// The value as the window shows it, as a number.
double shownValue(const LiveValue &value);

// The status fields shown beside the live values (free memory, records stored), as values.
QList<LiveValue> statusValues(const LoggerStatus &status);

// Home Assistant's state_class: a value that only grows is a total.
const char *haStateClass(const Quantity &quantity);

#endif
