// "Read Data" as the window runs it: its progress dialog, and the ways a download ends
// without a file. The read-out and the file itself are the device tests'.

#include "downloaddriver.h"

#include "archive.h"
#include "clock.h"
#include "exportfile.h"
#include "mainwindow.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonObject>
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
    void repeatDownload_data();
    void repeatDownload();
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
    // The cancel ends it: no question about an empty file name, the export folder kept.
    QCOMPARE(cannotOpen.seenText(), QString());
    QVERIFY(outcome->seenText().contains("Download cancelled"));
    QCOMPARE(blockReads(*w.logger), 0);
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(), QString("/nonexistent/elsewhere"));
}

void tst_Download::repeatDownload_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<quint32>("usedBytes");  // at the first download
    QTest::addColumn<QString>("between");    // what happens before the second, 60 records later
    QTest::addColumn<int>("reads");          // its block reads
    QTest::addColumn<int>("firstProgress");
    QTest::newRow("only what is new") << 1 << 1000u << "" << 4 << 25;
    QTest::newRow("a new campaign: full read") << 1 << 1000u << "new campaign" << 2 << 53;
    QTest::newRow("a changed last block: full read") << 1 << 1000u << "changed last block" << 4 + 18 << 25;
    QTest::newRow("full read checked") << 1 << 1000u << "full" << 18 << 5;
    QTest::newRow("archive failing: a box, the file all the same") << 1 << 1000u << "blocked" << 18 << 5;
}

// Byte for byte the file and archived image of a full read, whatever was read.
void tst_Download::repeatDownload()
{
    QFETCH(int, type);
    QFETCH(quint32, usedBytes);
    QFETCH(QString, between);
    LoggerWindow w(frozenLogger(type, usedBytes));
    QVERIFY(w.waitForRefresh());
    {
        SaveDialogAnswer save(w.dir.filePath("first.tsv"));
        QVERIFY(download(w, *answerOutcome()));
    }
    w.logger->withLogger([&](sim::SimulatedLogger &l) {
        if (between == "new campaign")
            l.configRegisters()[0x35] = 0x01, l.setUsedBytes(0);   // started a second later
        if (between == "changed last block")
            l.memory()[usedBytes - 1] ^= 0xFF;
        l.addRecords(60);
        l.faults().splitChunk = 8, l.faults().chunkGapUs = 5000;   // slow enough to see the first progress
    });
    w.window->findChild<QAction *>("actionFullRead")->setChecked(between == "full");
    if (between == "blocked")
        QSettings("config.ini", QSettings::IniFormat).setValue("ARCHIVE/URL", w.dir.filePath("config.ini/archive.sqlite"));
    const QString path = w.dir.filePath("second.tsv");
    SaveDialogAnswer save(path);
    QList<int> progress;
    ModalAnswerer watchProgress(progressDialog(), [&](QWidget *dialog) {
        QObject::connect(dialog->findChild<QProgressBar *>(), &QProgressBar::valueChanged, [&](int v) { progress.append(v); });
    });
    ModalAnswerer archiveBox(messageBoxTitled("Archive"), clickButton(QMessageBox::Ok), 60000);
    const int readsBefore = blockReads(*w.logger);
    QVERIFY(download(w, *answerOutcome()));
    QTEST(blockReads(*w.logger) - readsBefore, "reads");
    QTEST(progress.value(progress.indexOf(0) + 1), "firstProgress");
    QCOMPARE(archiveBox.done(), between == "blocked");
    QCOMPARE(readFile(path), expectedExport(*w.logger, exportHeader(0x12345, quint8(type))));

    const QJsonObject exported = lastArchivedEvent().details;
    const QString exportedPath = w.dir.filePath(between == "blocked" ? "first.tsv" : "second.tsv");
    QCOMPARE(exported.value("file").toString(), exportedPath);
    QCOMPARE(exported.value("sha256").toString(), QCryptographicHash::hash(readFile(exportedPath), QCryptographicHash::Sha256).toHex());
    if (between == "blocked")
        return;
    QString error;
    const auto stored = Archive::Store::open({Archive::Location::defaultSqlitePath()}, &error)->download(qint64(exported.value("downloadId").toDouble()), &error);
    const auto [memory, used] = w.logger->read<std::pair<std::vector<quint8>, quint32>>([](sim::SimulatedLogger &l) { return std::make_pair(l.memory(), l.usedBytes()); });
    QVERIFY(stored);
    QCOMPARE(stored->image, QByteArray(reinterpret_cast<const char *>(memory.data()), qMin<int>(int(memory.size()), int(used + 63) / 64 * 64)));
}

QTEST_MAIN(tst_Download)
#include "tst_download.moc"
