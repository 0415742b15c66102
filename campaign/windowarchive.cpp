#include "windowarchive.h"

#include "archiveddownload.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace {
// A step this short shows only the busy cursor.
constexpr int SHOW_WAIT_AFTER_MS = 300;
const QString busyText = QStringLiteral("the archive is in use by another step of this window; try again when it is done");

bool isUserInput(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}
} // namespace

// While a step waits: the busy cursor at once, clicks and keys held back, and after a moment
// a modal note of what it waits for. Closing a window stays possible: each one that a step
// may run in is safe to close meanwhile (a closed main window ends the program once the
// step is over).
class WindowArchive::Waiting : public QObject
{
public:
    Waiting(QWidget *window, const QString &where) : window(window)
    {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        qApp->installEventFilter(this);
        QTimer::singleShot(SHOW_WAIT_AFTER_MS, this, [this, where] { show(where); });
    }
    ~Waiting() override
    {
        delete note;
        qApp->removeEventFilter(this);
        QApplication::restoreOverrideCursor();
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override { return isUserInput(event); }

private:
    void show(const QString &where)
    {
        note = new QProgressDialog(QStringLiteral("Waiting for the archive (%1)...").arg(where), QString(), 0, 0, window);
        note->setObjectName(QStringLiteral("archiveWait"));
        note->setWindowTitle(QStringLiteral("Archive"));
        note->setWindowModality(Qt::ApplicationModal);
        note->setMinimumDuration(0);
        note->show();
    }

    QPointer<QWidget> window;
    QPointer<QProgressDialog> note;
};

WindowArchive::WindowArchive(QObject *parent) : QObject(parent), opener(new QThread(this)), openerContext(new QObject)
{
    opener->setObjectName(QStringLiteral("archive opener"));
    openerContext->moveToThread(opener);
    QObject *context = openerContext;
    connect(opener, &QThread::finished, context, [context] { delete context; }, Qt::DirectConnection);
    opener->start();
}

WindowArchive::~WindowArchive()
{
    store.reset();
    opener->quit();
    opener->wait();
}

Archive::Location WindowArchive::location()
{
    return Archive::Location::fromSettings();
}

WindowArchive::Lease::Lease(Lease &&other) noexcept : owner(std::exchange(other.owner, nullptr)), store(other.store)
{
}

WindowArchive::Lease::~Lease()
{
    if (owner)
        owner->inUse = false;
}

WindowArchive::Lease WindowArchive::lease(QWidget *window, QString *error)
{
    error->clear();
    const Archive::Location where = location();
    if (!where.enabled())
        return Lease(nullptr, nullptr);
    if (inUse) {
        *error = busyText;
        return Lease(nullptr, nullptr);
    }
    inUse = true;
    const Waiting waiting(window, where.display());
    Archive::Store *const used = acquire(error);
    if (!used)
        inUse = false;
    return Lease(used ? this : nullptr, used);
}

bool WindowArchive::run(QWidget *window, const Step &step, QString *error)
{
    error->clear();
    const Archive::Location where = location();
    if (!where.enabled())
        return true;
    if (inUse) {
        *error = busyText;
        return false;
    }
    inUse = true;
    const auto release = qScopeGuard([this] { inUse = false; });
    const Waiting waiting(window, where.display());
    QString openError;
    Archive::Store *const used = acquire(&openError);
    if (!used || !step(*used, error)) {
        error->prepend(openError.isEmpty() || !used ? openError : openError + QStringLiteral("; "));
        return false;
    }
    // Kept in the spool: told as the archive not reached.
    *error = openError;
    return openError.isEmpty();
}

EventRecorder WindowArchive::recorder(QWidget *window)
{
    return [this, window](Archive::EventKind kind, quint32 address, const QJsonObject &details, QString &error) {
        return run(window, [&](Archive::Store &s, QString *e) { return s.logEvent(kind, address, details, e); }, &error);
    };
}

Archive::Store *WindowArchive::acquire(QString *error)
{
    const Archive::Location where = location();
    if (store && (storeUrl != where.url || spooled))
        store.reset();
    // A connection that failed since its last step (a server restarted, a link cut, a call
    // given up) is opened anew rather than failing the step for nothing.
    QString failure;
    if (store && (store->head(&failure), !failure.isEmpty()))
        store.reset();
    if (!store) {
        store = openInBackground(where, error);
        storeUrl = where.url;
        spooled = store && !error->isEmpty();
        if (store)
            store->setAnswerWhileWaiting(true);
    }
    return store.get();
}

std::unique_ptr<Archive::Store> WindowArchive::openInBackground(const Archive::Location &where, QString *error)
{
    // Opening waits for the server without handling the caller's events: not on this thread.
    struct Opening {
        std::unique_ptr<Archive::Store> store;
        QString error;
        bool done = false;
    };
    const auto opening = std::make_shared<Opening>();
    QMetaObject::invokeMethod(openerContext, [this, opening, where] {
        opening->store = Archive::openStore(where, &opening->error);
        QMetaObject::invokeMethod(this, [opening] { opening->done = true; }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
    while (!opening->done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    *error = opening->error;
    return std::move(opening->store);
}
