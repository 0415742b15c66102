// The campaign window on an export file, its limits in config.ini, and the PDF report.

#include "archive.h"
#include "campaignwindow.h"
#include "downloaddriver.h"
#include "mainwindow.h"
#include "version.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

namespace {

// A wrapped memory: the first record was lost.
const QByteArray header = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n";
const QByteArray fileText = header + "26/11/2014 16:52:00\toverflow\toverflow\r\n26/11/2014 16:53:00\t1.5\t40.0\r\n"
                                     "26/11/2014 16:54:00\t5.0\t45.0\r\n26/11/2014 16:55:00\t9.5\t50.0\r\n";

QString writeFile(const ScratchDirectory &scratch, const QByteArray &text)
{
    QFile file(scratch.filePath(QStringLiteral("1234_261114_165200.tsv")));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? file.fileName() : QString();
}

CampaignWindow *shownCampaignWindow()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<CampaignWindow *>(widget) && widget->isVisible())
            return qobject_cast<CampaignWindow *>(widget);
    return nullptr;
}

} // namespace

class TestCampaign : public QObject
{
    Q_OBJECT

private slots:
    void windowShowsFileAndRemembersLimits()
    {
        ScratchDirectory scratch;
        // A letter O: no limit, and said so.
        scratch.writeConfig("[CAMPAIGN_LIMITS]\nTYPE3_COLUMN2_HIGH=4O\n[ARCHIVE]\nURL=trail.sqlite\n");
        const QString path = writeFile(scratch, fileText);
        CampaignWindow window;
        window.show();
        QVERIFY(window.openFile(path));
        auto *records = window.findChild<QTableView *>();
        QCOMPARE(records->model()->rowCount(), 4);
        QCOMPARE(records->model()->index(0, 2).data().toString(), QStringLiteral("overflow"));
        QVERIFY(window.drawnPoints() >= 3);
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("summary"))->text().contains("TYPE3_COLUMN2_HIGH = "));

        // A limit typed in the table counts at once and is there for the next file of that type.
        auto *table = window.findChild<QTableWidget *>();
        table->item(StatisticsTable::UPPER_LIMIT_ROW, 0)->setText(QStringLiteral("8"));
        QCOMPARE(table->item(StatisticsTable::UPPER_LIMIT_ROW + 2, 0)->text(), QStringLiteral("00:01:00"));
        QString error;
        const auto trail = Archive::Store::open({scratch.filePath("trail.sqlite")}, &error)->events(0x1234, &error);
        QCOMPARE(trail.size(), 1);
        QCOMPARE(trail[0].details["high"].toDouble(), 8.0);
        CampaignWindow again;
        QVERIFY(again.openFile(path));
        QCOMPARE(again.statistics().columns[0].limits.high, 8.0);
    }

    // "Show last download" waits for a download that completed, then shows its file.
    void lastDownload()
    {
        LoggerWindow w(frozenLogger(3, 1200));
        QVERIFY(w.waitForRefresh());
        auto *show = w.window->findChild<QAction *>(QStringLiteral("actionShowLastDownload"));
        QVERIFY(!show->isEnabled());
        SaveDialogAnswer save(w.dir.filePath(QStringLiteral("campaign.tsv")));
        auto outcome = answerOutcome();
        QVERIFY(download(w, *outcome));
        QVERIFY(show->isEnabled());
        show->trigger();
        QVERIFY(shownCampaignWindow());
        QCOMPARE(shownCampaignWindow()->findChild<QTableView *>()->model()->rowCount(), 300);
    }

    // `vantorel FILE.tsv` where no port opens: the campaign window at once, and no modal dialog over it.
    void startedWithAFile()
    {
        ScratchDirectory scratch;
        MainWindow main(writeFile(scratch, fileText));
        main.show();
        QVERIFY(waitFor([] { return shownCampaignWindow(); }));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }

    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("limit");
        QTest::addColumn<QString>("expected");   // records, lost, first record, duration, upper limit of column 1
        QTest::newRow("wrapped, limit by title") << fileText << "Vantorel Temp (\u00B0C)=:8" << "4 1 2014-11-26T16:53:00 120 8";
        QTest::newRow("no time stamps, limit by number")
            << QByteArray("Vantorel\n\t1\n\tVantorel Temp\nDate\t\xB0" "C\n-\t1.0\n") << "1=0:" << "1 0  0 0";
        QTest::newRow("header only") << header << "2=1:2" << "0 0  0 0";
    }

    // vantorel-cli without a display or a runtime directory: the report on standard output
    // and nothing else said, a place it cannot write, the statistics as one JSON line.
    void commandLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, limit);
        QFETCH(QString, expected);
        ScratchDirectory scratch;
        const QString file = writeFile(scratch, text);
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        cli.setProcessEnvironment(environment);
        const auto run = [&](const QStringList &arguments) {
            cli.start(QStringLiteral(VANTOREL_CLI), arguments);
            return cli.waitForFinished(60000) ? cli.exitCode() : -1;
        };
        QCOMPARE(run({"report", file, "-o", "-"}), 0);
        const QByteArray bytes = cli.readAllStandardOutput();
        const QRegularExpression page(QStringLiteral("/Type /Page\\b"));  // not /Pages
        QVERIFY(bytes.startsWith("%PDF") && page.match(QString::fromLatin1(bytes)).hasMatch());
        QCOMPARE(cli.readAllStandardError(), QByteArray());
        QCOMPARE(run({"report", file, "-o", scratch.filePath("no/such.pdf")}), 3);
        QCOMPARE(run({"stats", file, "--json", "--limit", limit}), 0);
        const QByteArray out = cli.readAllStandardOutput();
        const QJsonObject o = QJsonDocument::fromJson(out).object();
        QVERIFY(out.endsWith("}\n") && out.count('\n') == 1);
        QCOMPARE(QStringList({QString::number(o["records"].toInt()), QString::number(o["lostRecords"].toInt()), o["firstRecord"].toString(),
                              QString::number(o["durationSeconds"].toInt()), QString::number(o["columns"][0]["upperLimit"].toDouble())}).join(' '),
                 expected);
        QCOMPARE(run({"--version"}), 0);
        QCOMPARE(cli.readAllStandardOutput(), QByteArray("vantorel-cli " VANTOREL_VERSION "\n"));
    }
};

QTEST_MAIN(TestCampaign)
#include "tst_campaign.moc"
