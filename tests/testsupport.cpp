#include "testsupport.h"

#include <QApplication>
#include <QAbstractButton>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QMutex>
#include <QPointer>
#include <QTest>
#include <QTimer>

ScratchDirectory::ScratchDirectory() : previous(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
}

ScratchDirectory::~ScratchDirectory()
{
    QDir::setCurrent(previous);
}

void ScratchDirectory::writeConfig(const QByteArray &iniText)
{
    QFile file(dir.filePath(QStringLiteral("config.ini")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText);
}

std::unique_ptr<sim::PtyLogger> startLogger(const QString &directory, const sim::LoggerConfig &config,
                                            const sim::FaultConfig &faults, const sim::LineConfig &line)
{
    auto logger = std::make_unique<sim::PtyLogger>(directory + QStringLiteral("/ttyLOGGER"), config, faults, line);
    if (!logger->start())
        qFatal("simulated logger: %s", qPrintable(logger->errorString()));
    return logger;
}

namespace {
QMutex captureMutex;
QStringList captured;
} // namespace

DebugCapture::DebugCapture()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
    previous = qInstallMessageHandler(&DebugCapture::handler);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(previous);
}

void DebugCapture::handler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    QMutexLocker lock(&captureMutex);
    captured.append(message);
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

bool DebugCapture::contains(const QString &text) const
{
    const QStringList all = lines();
    for (const QString &line : all)
        if (line.contains(text))
            return true;
    return false;
}

void DebugCapture::clear()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
}

struct ModalAnswerer::Private {
    Matcher matches;
    Action act;
    QTimer timer;
    QElapsedTimer clock;
    int timeoutMs = 0;
    bool done = false;
    QString text;
};

ModalAnswerer::ModalAnswerer(Matcher matches, Action act, int timeoutMs) : d(std::make_shared<Private>())
{
    d->matches = std::move(matches);
    d->act = std::move(act);
    d->timeoutMs = timeoutMs;
    d->clock.start();
    std::weak_ptr<Private> weak = d;
    QObject::connect(&d->timer, &QTimer::timeout, [weak]() {
        auto p = weak.lock();
        if (!p || p->done)
            return;
        if (p->clock.elapsed() > p->timeoutMs) {
            p->timer.stop();
            return;
        }
        QList<QWidget *> candidates{QApplication::activeModalWidget()};
        const auto tops = QApplication::topLevelWidgets();
        for (QWidget *w : tops)
            if (w->isModal())
                candidates.append(w);
        for (QWidget *w : std::as_const(candidates)) {
            if (!w || !w->isVisible() || !p->matches(w))
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(w))
                p->text = box->windowTitle() + QStringLiteral("|") + box->text();
            p->done = true;
            p->timer.stop();
            p->act(w);
            return;
        }
    });
    d->timer.start(10);
}

ModalAnswerer::~ModalAnswerer() = default;

bool ModalAnswerer::done() const
{
    return d->done;
}

QString ModalAnswerer::seenText() const
{
    return d->text;
}

ModalAnswerer::Matcher messageBoxTitled(const QString &title)
{
    return [title](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        return box && box->windowTitle() == title;
    };
}

ModalAnswerer::Action clickButton(int standardButton)
{
    return [standardButton](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box)
            return;
        if (QAbstractButton *button = box->button(QMessageBox::StandardButton(standardButton)))
            QTimer::singleShot(0, button, &QAbstractButton::click);
    };
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(5);
    }
    return true;
}
