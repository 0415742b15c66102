#ifndef VANTOREL_WINDOWARCHIVE_H
#define VANTOREL_WINDOWARCHIVE_H

// The archive of the windows: one connection for their life, to the archive config.ini
// names, opened again when that place changes or the connection stops answering. The window
// never waits on the interface thread: the store's calls handle the window's events while
// they wait, and so does opening it. While a step of the window's own waits, a busy cursor
// and "Waiting for the archive (...)" say so, and the user's clicks and keys to the
// program's windows are held back, so that no second step starts on the store in use.

#include "archive.h"
#include "archivedcampaign.h"

#include <QObject>

#include <functional>
#include <memory>

class QThread;
class QWidget;

class WindowArchive : public QObject
{
    Q_OBJECT

public:
    explicit WindowArchive(QObject *parent = nullptr);
    ~WindowArchive() override;

    // The store kept for a caller that makes its own calls under its own guards (a download,
    // behind its modal progress dialog). Null with `error` empty when the archive is off.
    class Lease
    {
    public:
        Lease(Lease &&other) noexcept;
        Lease &operator=(Lease &&) = delete;
        ~Lease();
        Archive::Store *get() const { return store; }

    private:
        friend class WindowArchive;
        Lease(WindowArchive *owner, Archive::Store *store) : owner(owner), store(store) {}
        WindowArchive *owner;
        Archive::Store *store;
    };
    // The wait for the connection is shown over `window`.
    Lease lease(QWidget *window, QString *error);

    // One step of the window on the store, the wait shown over `window`. True at once when
    // the archive is off; false with `error` when it cannot be reached or the step failed.
    using Step = std::function<bool(Archive::Store &store, QString *error)>;
    bool run(QWidget *window, const Step &step, QString *error);
    // An event recorded through run().
    EventRecorder recorder(QWidget *window);

    bool busy() const { return inUse; }   // a step or a lease holds the store
    // Where config.ini places the archive now.
    static Archive::Location location();

private:
    class Waiting;
    Archive::Store *acquire(QString *error);
    std::unique_ptr<Archive::Store> openInBackground(const Archive::Location &where, QString *error);

    std::unique_ptr<Archive::Store> store;
    QString storeUrl;        // where `store` is connected
    bool spooled = false;    // `store` is the spool of a server that did not answer: tried again at each use
    bool inUse = false;      // a step or a lease holds the store
    QThread *opener;         // opens stores, so that a silent server does not hold the window
    QObject *openerContext;  // lives in `opener`
};

#endif
