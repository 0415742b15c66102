#ifndef VANTOREL_WINDOWFIXTURE_H
#define VANTOREL_WINDOWFIXTURE_H

#include "testsupport.h"

#include <QLabel>

class MainWindow;

// A main window in a fresh working directory, attached to a simulated logger.
class LoggerWindow
{
public:
    explicit LoggerWindow(sim::LoggerConfig config = {}, const sim::FaultConfig &faults = {},
                          const QByteArray &extraConfig = {}, const sim::LineConfig &line = {});
    ~LoggerWindow();

    ScratchDirectory dir;
    std::unique_ptr<sim::PtyLogger> logger;
    std::unique_ptr<MainWindow> window;

    QString portPath() const { return logger->linkPath(); }
    QLabel *label(const char *labelName) const;
    QString text(const char *labelName) const { return label(labelName) ? label(labelName)->text() : "<no label>"; }
    QString comStatus() const { return text("comStatus"); }
    QTimer *refreshTimer() const;
    QWidget *central() const;
    QWidget *dialog(const char *objectName) const;  // a top-level widget of that name
    // Waits for a refresh that shows the logger (COM OK and a record count).
    bool waitForRefresh(int timeoutMs = 10000);
    // Waits for `count` more complete refreshes.
    bool waitForRefreshes(int count, int timeoutMs = 15000);
};

#endif
