#ifndef VANTOREL_WINDOWFIXTURE_H
#define VANTOREL_WINDOWFIXTURE_H

#include "testsupport.h"

#include <QLabel>
#include <QString>
#include <QTimer>

#include <memory>

class MainWindow;

// A main window in a fresh working directory, attached to a simulated logger whose clock
// stands still unless the configuration says otherwise.
class LoggerWindow
{
public:
    explicit LoggerWindow(sim::LoggerConfig config = sim::LoggerConfig(),
                          const sim::FaultConfig &faults = sim::FaultConfig(),
                          const QByteArray &extraConfig = QByteArray(),
                          const sim::LineConfig &line = sim::LineConfig());
    ~LoggerWindow();

    ScratchDirectory dir;
    std::unique_ptr<sim::PtyLogger> logger;
    std::unique_ptr<MainWindow> window;

    QString portPath() const { return logger->linkPath(); }
    QString text(const char *labelName) const;
    QLabel *label(const char *labelName) const;
    QTimer *refreshTimer() const;
    QWidget *central() const;
    QWidget *dialog(const char *objectName) const;  // a top-level dialog of this window
    // Waits for a refresh that shows the logger (COM OK and a type label).
    bool waitForRefresh(int timeoutMs = 10000);
    // Waits for `count` more complete refreshes.
    bool waitForRefreshes(int count, int timeoutMs = 15000);
    QString comStatus() const { return text("comStatus"); }
};

#endif
