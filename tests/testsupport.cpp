#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QMutex>
#include <QTest>
#include <QTimer>

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
QMutex captureMutex;   // the simulator's thread logs too
QStringList captured;
} // namespace

DebugCapture::DebugCapture()
{
    QMutexLocker lock(&captureMutex);
    captured.clear();
    previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        QMutexLocker lock(&captureMutex);
        captured.append(message);
    });
}

DebugCapture::~DebugCapture() { qInstallMessageHandler(previous); }

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

struct ModalAnswerer::Private {
    QTimer timer;
    bool done = false;
    QString text;
};

ModalAnswerer::ModalAnswerer(Matcher matches, Action act, int timeoutMs) : d(std::make_shared<Private>())
{
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&d->timer, &QTimer::timeout, [p = d.get(), matches, act, clock, timeoutMs] {
        if (clock.elapsed() > timeoutMs)
            return p->timer.stop();
        // A modal box opened from inside another modal loop is not always the active one.
        QList<QWidget *> candidates{QApplication::activeModalWidget()};
        for (QWidget *w : QApplication::topLevelWidgets())
            if (w->isModal())
                candidates.append(w);
        for (QWidget *w : std::as_const(candidates)) {
            if (!w || !w->isVisible() || !matches(w))
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(w))
                p->text = box->windowTitle() + QStringLiteral("|") + box->text();
            p->done = true;
            p->timer.stop();
            return act(w);
        }
    });
    d->timer.start(10);
}

bool ModalAnswerer::done() const { return d->done; }
QString ModalAnswerer::seenText() const { return d->text; }

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
        if (QAbstractButton *button = box ? box->button(QMessageBox::StandardButton(standardButton)) : nullptr)
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
        QTest::qWait(5);
    }
    return true;
}
