#ifndef VANTOREL_CLOCK_H
#define VANTOREL_CLOCK_H

#include <QDateTime>

#include <functional>

// The PC's present time, replaceable so that tests can fix "now".
namespace Clock {
QDateTime now();
void setSource(std::function<QDateTime()> source);  // an empty function restores the real clock
} // namespace Clock

#endif
