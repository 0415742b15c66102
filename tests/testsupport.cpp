#include "testsupport.h"

#include "statusdisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QMutex>
#include <QTest>

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
    previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &message) {
        QMutexLocker lock(&captureMutex);
        captured.append(message);
    });
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&captureMutex);
    return captured;
}

ModalAnswerer::ModalAnswerer(Matcher matches, Action act, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer.get(), &QTimer::timeout, [this, matches, act, clock, timeoutMs] {
        if (clock.elapsed() > timeoutMs)
            return timer->stop();
        // A box opened from inside another modal loop is not always the active one.
        QList<QWidget *> candidates = QApplication::topLevelWidgets();
        candidates.prepend(QApplication::activeModalWidget());
        for (QWidget *w : std::as_const(candidates)) {
            if (!w || !w->isModal() || !w->isVisible() || !matches(w))
                continue;
            if (auto *box = qobject_cast<QMessageBox *>(w))
                text = box->windowTitle() + QStringLiteral("|") + box->text();
            answered = true;
            timer->stop();
            return act(w);
        }
    });
    timer->start(10);
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

Archive::Event lastArchivedEvent()
{
    QString error;
    const auto store = Archive::Store::open({Archive::Location::defaultSqlitePath()}, &error);
    const QVector<Archive::Event> events = store ? store->events(std::nullopt, &error) : QVector<Archive::Event>();
    return events.isEmpty() ? Archive::Event() : events.last();
}

QString loggerStartText(sim::PtyLogger &logger)
{
    return logger.read<QString>([](sim::SimulatedLogger &l) {
        return startTimeFromBcd(l.configRegisters().data() + 0x30).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    });
}
