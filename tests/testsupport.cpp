#include "testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QMutex>
#include <QTest>

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

void ScratchDirectory::writeConfig(const QByteArray &iniText)
{
    QFile file(dir.filePath(QStringLiteral("config.ini")));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(iniText);
}

static const QByteArray earlierFile(60000, 'e');

RefusingPlaces::RefusingPlaces(const QString &directory, const QString &file) : dir(directory), name(file)
{
    const auto mount = [&](const char *place, unsigned long flags) {
        return dir.mkdir(place) && ::mount("tmpfs", QFile::encodeName(dir.filePath(place)), "tmpfs", flags, "size=64k") == 0;
    };
    QFile earlier(dir.filePath("tmp/" + name));
    ready = mount("tmp", 0) && mount("ro", MS_RDONLY) && earlier.open(QIODevice::WriteOnly)
        && earlier.write(earlierFile) == earlierFile.size() && earlier.flush()
        && ::mknod(QFile::encodeName(dir.filePath("full")), S_IFCHR | 0666, makedev(1, 7)) == 0;
}

RefusingPlaces::~RefusingPlaces()
{
    for (const char *place : {"tmp", "ro"})
        ::umount2(QFile::encodeName(dir.filePath(place)), MNT_DETACH);
}

bool RefusingPlaces::untouched() const
{
    QFile earlier(dir.filePath("tmp/" + name));
    return QDir(dir.filePath("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden) == QStringList(name)
        && earlier.open(QIODevice::ReadOnly) && earlier.readAll() == earlierFile && QFileInfo(dir.filePath("full")).exists()
        && !QFileInfo(dir.filePath("full")).isFile();
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
