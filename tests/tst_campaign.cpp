// The campaign window on an export file, its limits in config.ini, and the PDF report.

#include "archive.h"
#include "campaignwindow.h"
#include "downloaddriver.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

namespace {

const QByteArray fileText = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"
                            "26/11/2014 16:52:00\t1.5\t40.0\r\n26/11/2014 16:53:00\toverflow\toverflow\r\n"
                            "26/11/2014 16:54:00\t5.0\t45.0\r\n26/11/2014 16:55:00\t9.5\t50.0\r\n";

QString writeFile(const ScratchDirectory &scratch, const QByteArray &text)
{
    QFile file(scratch.filePath(QStringLiteral("1234_261114_165200.tsv")));
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? file.fileName() : QString();
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
        QCOMPARE(records->model()->index(1, 2).data().toString(), QStringLiteral("overflow"));
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
        CampaignWindow *window = nullptr;
        for (QWidget *widget : QApplication::topLevelWidgets())
            window = window ? window : qobject_cast<CampaignWindow *>(widget);
        QVERIFY(window && window->isVisible());
        QCOMPARE(window->findChild<QTableView *>()->model()->rowCount(), 300);
    }

    void commandLine_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("records");
        QTest::newRow("two columns") << fileText << 4;
        QTest::newRow("no time stamps") << QByteArray("Vantorel\n\t1\n\tVantorel Temp\nDate\t\xB0" "C\n-\t1.0\n") << 1;
    }

    // vantorel-cli without a display: the report, a place it cannot write, the statistics.
    void commandLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, records);
        ScratchDirectory scratch;
        const QString file = writeFile(scratch, text);
        QProcess cli;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        cli.setProcessEnvironment(environment);
        const auto run = [&](const QStringList &arguments) {
            cli.start(QStringLiteral(VANTOREL_CLI), arguments);
            return cli.waitForFinished(60000) ? cli.exitCode() : -1;
        };
        QCOMPARE(run({"report", file, "-o", scratch.filePath("report.pdf")}), 0);
        const QByteArray bytes = readFile(scratch.filePath("report.pdf"));
        const QRegularExpression page(QStringLiteral("/Type /Page\\b"));  // not /Pages
        QVERIFY(bytes.startsWith("%PDF") && page.match(QString::fromLatin1(bytes)).hasMatch());
        QCOMPARE(run({"report", file, "-o", scratch.filePath("no/such.pdf")}), 3);
        QCOMPARE(run({"stats", file, "--json"}), 0);
        QCOMPARE(QJsonDocument::fromJson(cli.readAllStandardOutput())["records"].toInt(), records);
    }
};

QTEST_MAIN(TestCampaign)
#include "tst_campaign.moc"
