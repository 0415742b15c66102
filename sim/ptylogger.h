#ifndef VANTOREL_SIM_PTYLOGGER_H
#define VANTOREL_SIM_PTYLOGGER_H

// The simulated logger on a pseudo-terminal, answering from its own thread. Its slave is
// reachable under a symbolic link, as a real adapter would be under /dev.

#include "simulatedlogger.h"

#include <QString>

#include <functional>
#include <memory>

namespace sim {

// With pacing, an answer starts once every byte received so far could have crossed the
// line (so the 2385 bytes of wake-up bursts delay the next answer by about 207 ms at
// 115200 bit/s) and goes out no faster than the line. The latency applies either way.
struct LineConfig {
    int baudRate = 0;              // > 0: paced at that rate, 10 bits a byte
    int answerLatencyUs = 0;       // pause between a request and its answer
};

class PtyLogger
{
public:
    PtyLogger(const QString &linkPath, const LoggerConfig &config = LoggerConfig(),
              const FaultConfig &faults = FaultConfig(), const LineConfig &line = LineConfig());
    ~PtyLogger();  // stops and removes the link

    bool start();  // false (with errorString) when the pty or link cannot be made
    void stop();
    QString errorString() const;
    QString linkPath() const;

    // The link goes away (a pulled-out adapter: the pty is closed) / comes back on a fresh pty.
    void unplug();
    void replug();
    bool isPlugged() const;

    // Runs `f` on the logger with the answering thread held off, its clock brought up to
    // now first. `f` may call this object's other members.
    void withLogger(const std::function<void(SimulatedLogger &)> &f);
    template <typename T> T read(const std::function<T(SimulatedLogger &)> &f)
    {
        T value{};
        withLogger([&](SimulatedLogger &logger) { value = f(logger); });
        return value;
    }

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sim

#endif
