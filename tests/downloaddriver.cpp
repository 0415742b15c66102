#include "downloaddriver.h"

#include "mainwindow.h"
#include "periods.h"
#include "records.h"
#include "statusdisplay.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QTest>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray expectedExport(sim::PtyLogger &logger, const QByteArray &header)
{
    std::vector<quint8> image(MEMORY_IMAGE_SIZE, 0);
    RecordPassParams p;
    logger.withLogger([&](sim::SimulatedLogger &l) {
        std::copy_n(l.memory().begin(), std::min<size_t>(l.memory().size(), image.size()), image.begin());
        p.deviceType = l.config().deviceType, p.recordSize = l.recordSize();
        p.periodSeconds = periodSeconds(l.configRegisters()[0x1A]);
        p.calibrationA = l.config().calibrationA, p.calibrationB = l.config().calibrationB;
        p.endAddress = l.usedBytes(), p.topAddress = l.memoryTop(), p.memoryWrapped = p.endAddress > p.topAddress;
        // As the window reads it: garbage there stamps every line "-".
        p.startTime = startTimeFromBcd(l.configRegisters().data() + 0x30);
    });
    QByteArray out = header;
    bool first = true;
    for (quint32 a = 0, n = 0; a < p.endAddress; a += p.recordSize, ++n) {
        const QByteArray line = writeRecordLine(p, image.data(), a, p.startTime.addSecs(qint64(n) * p.periodSeconds), first);
        first = first && line.contains("overflow");
        out += line;
    }
    return out;
}

SaveDialogAnswer::SaveDialogAnswer(const QString &path)
{
    const auto nameEdit = [](QWidget *w) {
        auto *fileDialog = qobject_cast<QFileDialog *>(w);
        return fileDialog ? fileDialog->findChild<QLineEdit *>("fileNameEdit") : nullptr;
    };
    // Answered once it shows its proposal, as a user would: type the name, press Save.
    dialog = std::make_unique<ModalAnswerer>([=](QWidget *w) { return nameEdit(w) && !nameEdit(w)->text().isEmpty(); },
                                             [=](QWidget *w) {
        auto *fileDialog = static_cast<QFileDialog *>(w);
        proposed = fileDialog->directory().absolutePath() + "/" + nameEdit(w)->text();
        nameEdit(w)->setText(path);
        QTimer::singleShot(0, fileDialog, path.isEmpty() ? &QDialog::reject : &QDialog::accept);
    });
    overwrite = std::make_unique<ModalAnswerer>([](QWidget *w) {
        auto *box = qobject_cast<QMessageBox *>(w);
        return box && box->text().contains("already exists");
    }, clickButton(QMessageBox::Yes));
}

ModalAnswerer::Matcher progressDialog()
{
    return [](QWidget *w) { return qobject_cast<QProgressDialog *>(w) != nullptr; };
}

std::unique_ptr<ModalAnswerer> answerOutcome()
{
    return std::make_unique<ModalAnswerer>(messageBoxTitled("Read Data"), clickButton(QMessageBox::Ok), 120000);
}

sim::LoggerConfig frozenLogger(int type, quint32 usedBytes)
{
    sim::LoggerConfig config;
    config.deviceType = quint8(type), config.usedBytes = usedBytes, config.timeScale = 0;
    config.address = 0x12345, config.calibrationA = 0x0F12, config.calibrationB = 0x2000;
    return config;
}

bool download(LoggerWindow &w, const ModalAnswerer &outcome)
{
    QTest::mouseClick(w.window->findChild<QPushButton *>("readButton"), Qt::LeftButton);
    return waitFor([&] { return outcome.done() && w.central()->isEnabled() && w.refreshTimer()->isActive(); },
                   120000);
}

int blockReads(sim::PtyLogger &logger)
{
    return logger.read<int>([](sim::SimulatedLogger &l) {
        return int(std::count_if(l.requests().begin(), l.requests().end(), [](const sim::LoggedRequest &r) {
            return r.function == 8 && (r.registerAddress >> 24) == 0x02;
        }));
    });
}

std::unique_ptr<QTimer> answerErrorCom(sim::PtyLogger &logger)
{
    auto timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [&logger, plugged = QElapsedTimer()]() mutable {
        if (!logger.isPlugged())
            return plugged.invalidate();
        if (!plugged.isValid())
            plugged.start();
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        // The adapter settles before the user tries again.
        if (box && box->isVisible() && box->windowTitle() == QLatin1String("Error COM") && plugged.elapsed() > 300)
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                QTimer::singleShot(0, ok, &QAbstractButton::click);
    });
    timer->start(10);
    return timer;
}
