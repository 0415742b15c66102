// The station's alarms without ports: the file's checks, and the timing of a limit over
// readings fed at set times of the clock seam.

#include "alarms.h"
#include "clock.h"
#include "testsupport.h"

#include <QTest>

#include <cmath>

namespace {

// Seconds from the start, temperature (NaN: not known; -inf: not read; +inf: no answer, time passes).
using Steps = QList<QPair<double, double>>;

const QDateTime origin = QDateTime::fromSecsSinceEpoch(1796626679, Qt::UTC);

Station::PortReading reading(double temperature, bool up = true)
{
    Station::PortReading r;
    r.port = "ttyUSB0", r.up = up, r.batteryRead = true;
    r.status.address = 0x12345, r.status.deviceType = 1, r.status.batteryCode = 4, r.status.freeMemoryPercent = 50;
    // A value not known still carries a number, one beyond the limit.
    r.values = {LiveValue{"temperature", std::isnan(temperature) ? -14 : temperature, "", 1, !std::isnan(temperature)}};
    if (temperature == -INFINITY)
        r.values.clear();
    return r;
}

QString writeAlarms(const ScratchDirectory &dir, const QByteArray &iniText)
{
    QFile file(dir.filePath("alarms.ini"));
    if (!file.open(QIODevice::WriteOnly) || file.write(iniText) != iniText.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

std::unique_ptr<Station::Alarms> alarmsOf(const ScratchDirectory &dir, const QByteArray &iniText)
{
    QList<Station::AlarmRule> rules;
    QString error;
    if (!Station::readAlarmRules(writeAlarms(dir, iniText), &rules, &error))
        qFatal("%s", qPrintable(error));
    return std::make_unique<Station::Alarms>(rules, 1000);
}

// The kinds active, as "high,low", or "-".
QString active(const Station::Alarms &alarms)
{
    QStringList kinds;
    for (const Station::AlarmStatus &a : alarms.statuses())
        if (a.active)
            kinds << Station::alarmKindName(a.kind);
    return kinds.isEmpty() ? QStringLiteral("-") : kinds.join(',');
}

} // namespace

class tst_Alarms : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { Clock::setSource({}); }

    void limitTiming_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QStringList>("expected");   // the alarms active after each step
        const QString h = "high";
        QTest::newRow("starts after its delay, not before") << Steps{{0, -14}, {1, -14}, {2.9, -14}, {3, -14}}
                                                            << QStringList{"-", "-", "-", h};
        QTest::newRow("back inside within the delay: no start")
            << Steps{{0, -14}, {2, -15.2}, {3, -14}, {5.9, -14}, {6, -14}} << QStringList{"-", "-", "-", "-", h};
        QTest::newRow("clears only back beyond the hysteresis for clear_delay")
            << Steps{{0, -14}, {3, -14}, {4, -15.3}, {10, -15.3}, {11, -15.6}, {12.9, -15.6}, {13, -15.6}}
            << QStringList{"-", h, h, h, h, h, "-"};
        QTest::newRow("a value within the hysteresis restarts the clear delay")
            << Steps{{0, -14}, {3, -14}, {4, -15.6}, {5, -15.2}, {6, -15.6}, {7.9, -15.6}, {8, -15.6}}
            << QStringList{"-", h, h, h, h, h, "-"};
        QTest::newRow("a value that is not a number neither starts nor clears")
            << Steps{{0, -14}, {1, NAN}, {2, -14}, {4.9, -14}, {5, -14}, {6, NAN}, {60, NAN}, {61, -16}, {63, -16}}
            << QStringList{"-", "-", "-", "-", h, h, h, h, "-"};
        QTest::newRow("a logger that stops answering starts nothing") << Steps{{0, -14}, {3.5, INFINITY}} << QStringList{"-", "-"};
        QTest::newRow("a value whose read failed breaks the run")
            << Steps{{0, -14}, {1, -INFINITY}, {2, -14}, {4.9, -14}, {5, -14}} << QStringList{"-", "-", "-", "-", h};
        QTest::newRow("low limit") << Steps{{0, -31}, {3, -31}, {4, -29.4}, {6, -29.4}}
                                   << QStringList{"-", "low", "low", "-"};
    }

    void limitTiming()
    {
        QFETCH(Steps, steps);
        QFETCH(QStringList, expected);
        ScratchDirectory dir;
        auto alarms = alarmsOf(dir, "[freezer]\nserial=12345\nquantity=temperature\nhigh=-15\nlow=-30\n"
                                    "hysteresis=0.5\ndelay=3\nclear_delay=2\n");
        QDateTime now = origin;
        Clock::setSource([&now] { return now; });
        for (int i = 0; i < steps.size(); ++i) {
            now = origin.addMSecs(qint64(steps[i].first * 1000));
            steps[i].second == INFINITY ? alarms->evaluate() : alarms->observe(reading(steps[i].second));
            QVERIFY2(active(*alarms) == expected[i], qPrintable(QStringLiteral("step %1: %2").arg(i).arg(active(*alarms))));
        }
    }

    void builtIn_data()
    {
        QTest::addColumn<int>("batteryCode");
        QTest::addColumn<bool>("batteryRead");
        QTest::addColumn<float>("freePercent");
        QTest::addColumn<double>("silentFor");       // seconds without an answer after the reading
        QTest::addColumn<QString>("expected");
        QTest::newRow("battery at its lowest level") << 2 << true << 50.f << 0. << "battery";
        QTest::newRow("battery low, not lowest") << 3 << true << 50.f << 0. << "-";
        QTest::newRow("battery not read") << 0 << false << 50.f << 0. << "-";
        QTest::newRow("memory under 10 % free") << 4 << true << 9.9f << 0. << "memory";
        QTest::newRow("memory at 10 % free") << 4 << true << 10.f << 0. << "-";
        QTest::newRow("no answer for five intervals") << 4 << true << 50.f << 5. << "offline";
        QTest::newRow("no answer for less") << 4 << true << 50.f << 4.9 << "-";
    }

    void builtIn()
    {
        QFETCH(int, batteryCode);
        QFETCH(bool, batteryRead);
        QFETCH(float, freePercent);
        QFETCH(double, silentFor);
        ScratchDirectory dir;
        auto alarms = alarmsOf(dir, "[any]\nserial=*\n");
        QDateTime now = origin;
        Clock::setSource([&now] { return now; });
        Station::PortReading r = reading(20);
        r.status.batteryCode = quint8(batteryCode), r.batteryRead = batteryRead, r.status.freeMemoryPercent = freePercent;
        alarms->observe(r);
        now = origin.addSecs(1);
        alarms->observe(reading(20, false));
        now = origin.addMSecs(qint64(silentFor * 1000));
        alarms->evaluate();
        QTEST(active(*alarms), "expected");
    }

    void badFiles_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("expected");   // after the file's name
        const QByteArray head = "[freezer]\nserial=00012345\nquantity=temperature\n";
        QTest::newRow("unknown quantity") << QByteArray("[freezer]\nserial=*\nquantity=pressure\nhigh=1\n") << "[freezer] quantity: unknown";
        QTest::newRow("unknown key") << head + "hihg=3\n" << "[freezer] hihg: unknown key";
        QTest::newRow("low not below high") << head + "high=-15\nlow=-15\n" << "[freezer] low: must be below high";
        QTest::newRow("negative delay") << head + "high=-15\ndelay=-1\n" << "[freezer] delay: must not be negative";
        QTest::newRow("limit not a number") << head + "high=cold\n" << "[freezer] high: not a number";
        QTest::newRow("no such channel") << head + "channel=3\nhigh=1\n" << "[freezer] channel:";
        QTest::newRow("serial not one") << QByteArray("[freezer]\nserial=fridge\n") << "[freezer] serial:";
        QTest::newRow("limit without quantity") << QByteArray("[freezer]\nserial=*\nhigh=1\n") << "[freezer] quantity: missing";
        QTest::newRow("ratio over 1") << head + "memory_free_below=10\n" << "[freezer] memory_free_below: takes 0 to 1";
        QTest::newRow("key outside a section") << QByteArray("serial=*\n") << "every key belongs in an alarm section";
    }

    void badFiles()
    {
        QFETCH(QByteArray, text);
        ScratchDirectory dir;
        const QString path = writeAlarms(dir, text);
        QList<Station::AlarmRule> rules;
        QString error;
        QVERIFY(!Station::readAlarmRules(path, &rules, &error));
        QFETCH(QString, expected);
        QVERIFY2(error.startsWith(path + ": " + expected), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(tst_Alarms)
#include "tst_alarms.moc"
