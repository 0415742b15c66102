// "Read Data" against the simulated logger: the file the user gets, byte for byte, and
// every way a download can end without one.

#include "downloaddriver.h"

#include "clock.h"
#include "mainwindow.h"
#include "periods.h"
#include "records.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

class tst_Download : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }
    void everyDeviceType_data();
    void everyDeviceType();
    void emptyCampaign();
    void twoBlocks();
    void wrappedMemory();
    void cancelInProgressDialog();
    void cancelInRetryBox();
    void unpluggedAndPluggedBack();
    void saveDialogCancelled();
    void unwritableDirectory();
};

void tst_Download::everyDeviceType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("names");
    QTest::addColumn<QByteArray>("units");
    QTest::newRow("1") << 1 << QByteArray("Vantorel Temp") << QByteArray("\xB0" "C");
    QTest::newRow("2") << 2 << QByteArray("Vantorel Impulse") << QByteArray("Pulses");
    QTest::newRow("3") << 3 << QByteArray("Vantorel Temp\tHumidity") << QByteArray("\xB0" "C\t%RH");
    QTest::newRow("4") << 4 << QByteArray("Inline Wattmeter") << QByteArray("Watts");
    QTest::newRow("5") << 5 << QByteArray("Vantorel Temp") << QByteArray("\xB0" "C");
    QTest::newRow("6") << 6 << QByteArray("type K1\ttype K2") << QByteArray("\xB0" "C\t\xB0" "C");
    QTest::newRow("7") << 7 << QByteArray("Wattmeter\tV") << QByteArray("Watts\tVolts");
    QTest::newRow("8") << 8 << QByteArray("Vantorel Lamp") << QByteArray("Seconds");
    QTest::newRow("9") << 9 << QByteArray("Inline Wattmeter") << QByteArray("Watts");
    QTest::newRow("10") << 10 << QByteArray("type S\ttype K") << QByteArray("\xB0" "C\t\xB0" "C");
    QTest::newRow("unknown") << 0 << QByteArray("Unknown data type") << QByteArray("?");
}

void tst_Download::everyDeviceType()
{
    QFETCH(int, type);
    QFETCH(QByteArray, names);
    QFETCH(QByteArray, units);

    LoggerWindow w(frozenLogger(type, 1200));
    QVERIFY(w.waitForRefresh() || type == 0);
    QVERIFY(w.waitForRefreshes(1));
    Clock::setSource([] { return QDateTime(QDate(2014, 12, 5), QTime(9, 7, 3)); });

    const QString path = w.dir.filePath("campaign.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(outcome->done());
    QCOMPARE(outcome->seenText(), QString("Read Data|<font color=green>Download Complete</font>"));
    QCOMPARE(save.proposed, QDir(w.dir.path()).absoluteFilePath("00012345_051214_090703.tsv"));

    const QByteArray header = "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
    const QByteArray file = readFile(path);
    QVERIFY(file.startsWith(header));
    QCOMPARE(file, expectedExport(*w.logger, header));
    QCOMPARE(QSettings("config.ini", QSettings::IniFormat).value("VT_DATA/DIR").toString(),
             QDir(w.dir.path()).absolutePath());
}

void tst_Download::emptyCampaign()
{
    LoggerWindow w(frozenLogger(3, 0));
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("empty.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(outcome->seenText().contains("Download Complete"));
    QCOMPARE(blockReads(*w.logger), 0);
    QCOMPARE(readFile(path), QByteArray("Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"));
}

void tst_Download::twoBlocks()
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
    QVERIFY(outcome->seenText().contains("Download Complete"));
    QCOMPARE(blockReads(*w.logger), 2);
    QCOMPARE(readFile(path).count("\r\n"), 4 + 50);
    QVERIFY(progressValues.contains(64));
    QVERIFY(progressValues.contains(100));
    for (int value : progressValues)
        QVERIFY(value <= 100);
}

void tst_Download::wrappedMemory()
{
    // 2-byte pulse records, 128 KiB, 0x20010 bytes written at 60 s: the oldest are gone.
    sim::LoggerConfig config = frozenLogger(2, 0x20010);
    config.periodCode = 7;
    LoggerWindow w(config);
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("wrapped.tsv");
    SaveDialogAnswer save(path);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(outcome->seenText().contains("Download Complete"));
    QCOMPARE(blockReads(*w.logger), 2048);

    const QList<QByteArray> lines = readFile(path).split('\n');
    QCOMPARE(lines.size() - 1, 4 + 0x20010 / 2);
    for (int record = 0; record < 10; ++record)
        QVERIFY2(lines[4 + record].endsWith("\toverflow\t\r"), lines[4 + record].constData());
    QVERIFY(lines[14].endsWith("\t0\r"));  // address 20: the first value line
    const quint16 atPositionZero = w.logger->read<quint16>([](sim::SimulatedLogger &l) {
        return quint16(l.memory()[0] << 8 | l.memory()[1]);
    });
    QVERIFY(lines[4 + 0x10000].endsWith("\t" + QByteArray::number(atPositionZero) + "\r"));
    QCOMPARE(readFile(path), expectedExport(*w.logger, "Vantorel\t\r\n\t00012345\r\n\tVantorel Impulse\r\nDate\tPulses\r\n"));
}

void tst_Download::cancelInProgressDialog()
{
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
        QTimer::singleShot(0, qobject_cast<QProgressDialog *>(dialog), &QProgressDialog::cancel);
    });
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(cancel.done());
    QVERIFY(outcome->seenText().contains("cancelled"));
    QVERIFY(!outcome->seenText().contains("Complete"));
    QVERIFY(blockReads(*w.logger) < 2048);
    QCOMPARE(readFile(path), QByteArray("the user's earlier file\r\n"));
    QCOMPARE(QDir(w.dir.path()).entryList(QStringList() << "kept.tsv*", QDir::Files).size(), 1);
}

void tst_Download::cancelInRetryBox()
{
    LoggerWindow w(frozenLogger(4, 4000));
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("kept.tsv");
    {
        QFile existing(path);
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("earlier");
    }
    SaveDialogAnswer save(path);
    ModalAnswerer silence(progressDialog(), [&](QWidget *) {
        w.logger->withLogger([](sim::SimulatedLogger &l) { l.faults().silent = true; });
    });
    ModalAnswerer retry(messageBoxTitled("Error COM"), clickButton(QMessageBox::Cancel), 60000);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(retry.done());
    QCOMPARE(retry.seenText(), QString("Error COM|Error COM, retry ?"));
    QVERIFY(!outcome->seenText().contains("Complete"));
    QCOMPARE(readFile(path), QByteArray("earlier"));
}

void tst_Download::unpluggedAndPluggedBack()
{
    const sim::LoggerConfig config = frozenLogger(3, 20000);
    sim::FaultConfig faults;
    LoggerWindow w(config, faults);
    QVERIFY(w.waitForRefresh());
    const QString path = w.dir.filePath("replugged.tsv");
    SaveDialogAnswer save(path);
    ModalAnswerer pull(progressDialog(), [&](QWidget *) {
        w.logger->withLogger([](sim::SimulatedLogger &l) {
            l.faults().unplugAfterRequests = int(l.requests().size()) + 40;
            l.faults().replugAfterMs = 1000;
        });
    });
    // The user waits until the adapter is back, then answers OK.
    QElapsedTimer sincePlugged;
    ModalAnswerer retry(
        [&](QWidget *widget) {
            if (!messageBoxTitled("Error COM")(widget) || !w.logger->isPlugged())
                return false;
            if (!sincePlugged.isValid())
                sincePlugged.start();
            return sincePlugged.elapsed() > 1500;
        },
        clickButton(QMessageBox::Ok), 60000);
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(retry.done());
    QVERIFY(outcome->seenText().contains("Download Complete"));
    QCOMPARE(readFile(path), expectedExport(*w.logger, "Vantorel\t\r\n\t00012345\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"));
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

void tst_Download::unwritableDirectory()
{
    LoggerWindow w(frozenLogger(1, 200));
    QVERIFY(w.waitForRefresh());
    // A directory that does not exist cannot be written, not even by root.
    const QString path = w.dir.filePath("missing/campaign.tsv");
    SaveDialogAnswer save(path);
    // Retry once, as a user hoping it was temporary, then give up.
    std::unique_ptr<ModalAnswerer> second;
    ModalAnswerer first(messageBoxTitled("Cannot open file"), [&](QWidget *box) {
        second = std::make_unique<ModalAnswerer>(messageBoxTitled("Cannot open file"), clickButton(QMessageBox::Cancel));
        clickButton(QMessageBox::Retry)(box);
    });
    auto outcome = answerOutcome();
    QVERIFY(download(w, *outcome));
    QVERIFY(first.done());
    QVERIFY(second && second->done());
    QCOMPARE(second->seenText(), "Cannot open file|File " + path + " cannot be opened, retry ?");
    QVERIFY(!outcome->seenText().contains("Complete"));
    QVERIFY(!QFile::exists(path));
}

QTEST_MAIN(tst_Download)
#include "tst_download.moc"
