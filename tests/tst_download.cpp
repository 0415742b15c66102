// "Read Data" as the window runs it: its progress dialog, and the ways a download ends
// without a file. The read-out and the file itself are the device tests'.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"

#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSettings>
#include <QTest>
#include <QTimer>

class tst_Download : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void progressOfTwoBlocks();
    void endsWithoutFile_data();
    void endsWithoutFile();
    void saveDialogCancelled();
};

void tst_Download::progressOfTwoBlocks()
{
    // A slow answer, so that the progress of the first block can be seen.
    sim::LineConfig slow;
    slow.answerLatencyUs = 50000;
    LoggerWindow w(frozenLogger(1, 100), sim::FaultConfig(), QByteArray(), slow);
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("two.tsv");
    SaveDialogAnswer save(path);
    QList<int> progressValues;
    ModalAnswerer watchProgress(progressDialog(), [&](QWidget *dialog) {
        QObject::connect(dialog->findChild<QProgressBar *>(), &QProgressBar::valueChanged,
                         [&](int value) { progressValues.append(value); });
    });
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    QCOMPARE(readFile(path).count("\r\n"), 4 + 50);
    QCOMPARE(progressValues.mid(progressValues.indexOf(64)), (QList<int>{64, 100}));
}

void tst_Download::endsWithoutFile_data()
{
    QTest::addColumn<bool>("inRetryBox");
    QTest::newRow("Cancel in the progress dialog") << false;
    QTest::newRow("Cancel in the retry box") << true;
}

void tst_Download::endsWithoutFile()
{
    QFETCH(bool, inRetryBox);
    LoggerWindow w(frozenLogger(1, 0x1FFFF));
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("kept.tsv");
    {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("the user's earlier file\r\n");
    }
    SaveDialogAnswer save(path);
    ModalAnswerer cancel(progressDialog(), [&](QWidget *dialog) {
        // Let a few blocks through first, as a user reacting would.
        waitFor([&] { return blockReads(*w.logger) > 20; }, 5000);
        if (inRetryBox)
            w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
        else
            QTimer::singleShot(0, qobject_cast<QProgressDialog *>(dialog), &QProgressDialog::cancel);
    });
    ModalAnswerer retry(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel), 60000);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QCOMPARE(retry.done(), inRetryBox);
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=red>Download cancelled</font><br />No file was written."));
    QVERIFY(blockReads(*w.logger) < 2048);
    QCOMPARE(readFile(path), QByteArray("the user's earlier file\r\n"));
    QCOMPARE(QDir(w.dir.path()).entryList(QStringList() << "kept.tsv*", QDir::Files).size(), 1);
}

void tst_Download::saveDialogCancelled()
{
    LoggerWindow w(frozenLogger(1, 200), sim::FaultConfig(), "[VT_DATA]\nDIR=/nonexistent/elsewhere\n");
    QVERIFY(w.waitForRefresh());
    Clock::setSource([] { return QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3)); });
    SaveDialogAnswer save{QString()};
    ModalAnswerer cannotOpen(messageBoxTitled("Cannot open file"), clickButton(QMessageBox::Cancel));
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    // The dialog itself may fall back from a directory that is gone; the name stays.
    QVERIFY2(save.proposed.endsWith("/00012345_051214_090703.tsv"), qPrintable(save.proposed));
    QCOMPARE(cannotOpen.seenText(), QString("Cannot open file|File  cannot be opened, retry ?"));
    QVERIFY(!outcome->seenText().contains("Complete"));
    QCOMPARE(blockReads(*w.logger), 0);
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(), QDir::currentPath());
}

QTEST_MAIN(tst_Download)
#include "tst_download.moc"
