#ifndef VANTOREL_MQTTOPTIONS_H
#define VANTOREL_MQTTOPTIONS_H

// serve's --mqtt and the options around it: the publisher they set up beside /metrics.

#include "monitor.h"
#include "mqttpublisher.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

#include <memory>

namespace Cli {

QList<QCommandLineOption> mqttOptions();

// Without --mqtt, nothing; else a publisher that follows `monitor`, connecting in the
// background. Success, or the exit status after a message (usage 2, a file 3).
int startMqtt(const QCommandLineParser &args, int intervalMs, Station::Monitor &monitor,
              std::unique_ptr<Station::MqttPublisher> *publisher);

} // namespace Cli

#endif
