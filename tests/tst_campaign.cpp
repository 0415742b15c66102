// The campaign window on an export file, its limits in config.ini, and the PDF report.

#include "campaigncommands.h"
#include "campaignreport.h"
#include "campaignwindow.h"
#include "downloaddriver.h"
#include "mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QTableView>
#include <QTableWidget>
#include <QtTest>

namespace {

const QByteArray fileText = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"
                            "26/11/2014 16:52:00\t1.5\t40.0\r\n26/11/2014 16:53:00\toverflow\toverflow\r\n"
                            "26/11/2014 16:54:00\t5.0\t45.0\r\n26/11/2014 16:55:00\t9.5\t50.0\r\n";

QString writeFile(const ScratchDirectory &scratch, const QByteArray &text)
{
    const QString path = scratch.filePath(QStringLiteral("1234_261114_165200.tsv"));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() ? path : QString();
}

} // namespace

class TestCampaign : public QObject
{
    Q_OBJECT

private slots:
    void windowShowsFileAndRemembersLimits()
    {
        ScratchDirectory scratch;
        const QString path = writeFile(scratch, fileText);
        CampaignWindow window;
        window.show();
        QVERIFY(window.openFile(path));
        auto *records = window.findChild<QTableView *>();
        QCOMPARE(records->model()->rowCount(), 4);
        QCOMPARE(records->model()->index(1, 2).data().toString(), QStringLiteral("overflow"));
        QVERIFY(window.drawnPoints() >= 3);

        // A limit typed in the table counts at once and is there for the next file of that type.
        auto *table = window.findChild<QTableWidget *>();
        table->item(StatisticsTable::UPPER_LIMIT_ROW, 0)->setText(QStringLiteral("8"));
        QCOMPARE(window.statistics().columns[0].secondsAbove, 60);
        QCOMPARE(table->item(StatisticsTable::UPPER_LIMIT_ROW + 2, 0)->text(), QStringLiteral("00:01:00"));
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

    void report_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("two columns") << fileText;
        QTest::newRow("no time stamps") << QByteArray("Vantorel\n\t1\n\tVantorel Temp\nDate\t\xB0" "C\n-\t1.0\n");
    }

    void report()
    {
        QFETCH(QByteArray, text);
        ScratchDirectory scratch;
        const QString pdf = scratch.filePath(QStringLiteral("report.pdf"));
        QCOMPARE(runReportCommand({writeFile(scratch, text), QStringLiteral("-o"), pdf}), 0);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const QRegularExpression page(QStringLiteral("/Type /Page\\b"));  // not /Pages
        QVERIFY(bytes.startsWith("%PDF") && page.match(QString::fromLatin1(bytes)).hasMatch());
        // Nowhere to write: an error, not a crash.
        QCOMPARE(runReportCommand({writeFile(scratch, text), QStringLiteral("-o"), scratch.filePath("no/such.pdf")}), 1);
    }
};

QTEST_MAIN(TestCampaign)
#include "tst_campaign.moc"
