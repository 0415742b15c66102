#ifndef VANTOREL_TESTSUPPORT_H
#define VANTOREL_TESTSUPPORT_H

#include "ptylogger.h"

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

// A fresh working directory (config.ini lives there) for the test's lifetime.
class ScratchDirectory
{
public:
    ScratchDirectory() : previous(QDir::currentPath()) { QDir::setCurrent(dir.path()); }
    ~ScratchDirectory() { QDir::setCurrent(previous); }
    QString path() const { return dir.path(); }
    QString filePath(const QString &name) const { return dir.filePath(name); }
    void writeConfig(const QByteArray &iniText);

private:
    QTemporaryDir dir;
    QString previous;
};

// Places in `directory` that refuse what is written there (as root): tmp/ a 64 KiB tmpfs almost
// filled by an earlier file tmp/NAME, ro/ a read-only tmpfs, and `full` a device node that
// refuses every write, as /dev/full does, without putting the machine's own at risk.
struct RefusingPlaces {
    RefusingPlaces(const QString &directory, const QString &name);
    ~RefusingPlaces();
    bool untouched() const;   // the earlier file alone and unchanged in tmp/, the device still one
    QDir dir;
    QString name;
    bool ready = false;
};

// A simulated logger on a pty whose link lives in `directory`.
std::unique_ptr<sim::PtyLogger> startLogger(const QString &directory, const sim::LoggerConfig &config = {},
                                            const sim::FaultConfig &faults = {}, const sim::LineConfig &line = {});

// Collects the debug output, of every thread, while it lives.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture() { qInstallMessageHandler(previous); }
    QStringList lines() const;
    bool contains(const QString &text) const { return !lines().filter(text).isEmpty(); }

private:
    QtMessageHandler previous;
};

// Answers the next modal widget that `matches` with `act`, as a user would, polling
// until `timeoutMs`. Returns at once; check `done()` later.
class ModalAnswerer
{
public:
    using Matcher = std::function<bool(QWidget *)>;
    using Action = std::function<void(QWidget *)>;
    ModalAnswerer(Matcher matches, Action act, int timeoutMs = 30000);
    bool done() const { return answered; }
    QString seenText() const { return text; }  // title|text of the message box answered

private:
    std::unique_ptr<QTimer> timer = std::make_unique<QTimer>();
    bool answered = false;
    QString text;
};

ModalAnswerer::Matcher messageBoxTitled(const QString &title);
ModalAnswerer::Action clickButton(int standardButton);  // a QMessageBox::StandardButton

// Spins the event loop until `condition` holds or `timeoutMs` passes.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 10000);

#endif
