// The window against a logger whose registers hold extremes and garbage: it keeps polling,
// shows nothing it cannot know, and downloads the memory as it is.

#include "downloaddriver.h"

#include <QTest>

namespace {

using Labels = QStringList;   // "name=text"

sim::LoggerConfig baseLogger(int type, quint32 usedBytes = 1200, int memoryCode = 2, int periodCode = 7)
{
    sim::LoggerConfig config = frozenLogger(type, usedBytes);
    config.startTime = QDateTime(QDate(2014, 11, 26), QTime(16, 52, 0), Qt::UTC);
    config.memorySizeCode = quint8(memoryCode);
    config.periodCode = quint8(periodCode);
    return config;
}

QByteArray headerFor(const QByteArray &names, const QByteArray &units)
{
    return "Vantorel\t\r\n\t00012345\r\n\t" + names + "\r\nDate\t" + units + "\r\n";
}

} // namespace

Q_DECLARE_METATYPE(sim::LoggerConfig)

class tst_BadInput : public QObject
{
    Q_OBJECT

private slots:
    void extremes_data()
    {
        QTest::addColumn<sim::LoggerConfig>("config");
        QTest::addColumn<QByteArray>("startBytes");   // not empty: written over the start registers
        QTest::addColumn<Labels>("expected");
        QTest::addColumn<QByteArray>("header");
        const QByteArray temp = headerFor("Vantorel Temp", "\xB0" "C");
        // Unknown types leave the type and live labels as they were: empty in a new window.
        QTest::newRow("type 255") << baseLogger(255) << QByteArray() << Labels{"type=", "real_txt=", "data_lab=600"}
                                  << headerFor("Unknown data type", "?");
        QTest::newRow("period 14") << baseLogger(1, 1200, 2, 14) << QByteArray() << Labels{"period_lab=-", "time_lab=-"} << temp;
        QTest::newRow("memory 4, wrapped") << baseLogger(1, 0x40012, 4) << QByteArray() << Labels{"free_mem_lab=0%"} << temp;
        QTest::newRow("memory 7, wrapped") << baseLogger(1, 0x20010, 7) << QByteArray() << Labels{"data_lab=65544"} << temp;
        QTest::newRow("used odd") << baseLogger(1, 1201) << QByteArray() << Labels{"data_lab=600"} << temp;
        QTest::newRow("start no BCD") << baseLogger(1) << QByteArray("\x14\x11\x1A\x16\x52\x00", 6)
                                      << Labels{"start_label=-", "time_lab=-"} << temp;
    }
    void extremes()
    {
        QFETCH(sim::LoggerConfig, config);
        QFETCH(QByteArray, startBytes);
        QFETCH(Labels, expected);
        QFETCH(QByteArray, header);
        LoggerWindow w(config);
        if (!startBytes.isEmpty())
            w.logger->withLogger([&](sim::SimulatedLogger &l) { l.setLiveValue(0x01000030, startBytes); });
        w.refreshTimer()->start(0);   // a refresh now, with those bytes
        QVERIFY(w.waitForRefreshes(1) && w.comStatus().contains("COM OK"));
        QCOMPARE(w.text("sn_lab"), QString("00012345"));
        for (const QString &entry : expected)
            QCOMPARE(entry.section('=', 0, 0) + '=' + w.text(entry.section('=', 0, 0).toLatin1()), entry);

        const QString path = w.dir.filePath("campaign.tsv");
        SaveDialogAnswer save(path);
        auto outcome = answerOutcome();
        QVERIFY(download(w, *outcome));
        QCOMPARE(outcome->seenText(), QStringLiteral("Read Data|<font color=green>Download Complete</font>"));
        QCOMPARE(readFile(path), expectedExport(*w.logger, header));
        QVERIFY(w.waitForRefreshes(1) && w.comStatus().contains("COM OK"));   // still polling
    }
};

QTEST_MAIN(tst_BadInput)
#include "tst_badinput.moc"
