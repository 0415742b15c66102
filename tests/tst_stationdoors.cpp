// The station's doors: vantorel-cli serve against clients that misbehave, HTTPS and passwords
// from --web-config checked with curl, and the shipped systemd unit's command line run as an
// unprivileged user.

#include "downloaddriver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <unistd.h>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

// A station with no logger, listening on a free port; `extra` added to its arguments.
struct Station {
    explicit Station(const QStringList &extra = {}) : port(freePort())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), QString());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(VANTOREL_CLI), QStringList{"serve", "--no-archive", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)} + extra);
        ready = process.waitForStarted(10000) && waitFor([this] { return process.state() != QProcess::Running || answers(); }, 20000)
                && process.state() == QProcess::Running;
    }
    ~Station()
    {
        process.terminate();
        process.waitForFinished(10000);
    }
    bool answers() const
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, port);
        return s.waitForConnected(1000);
    }
    qint64 residentKiB() const
    {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        status.open(QIODevice::ReadOnly);
        const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status.readAll()));
        return m.captured(1).toLongLong();
    }
    quint16 port;
    QProcess process;
    bool ready = false;
};

// Sends `request` on a fresh connection and returns all it gets until the station closes it.
QByteArray exchange(quint16 port, const QByteArray &request, bool *closed = nullptr)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 10000) {
        socket.waitForReadyRead(200);
        answer += socket.readAll();
    }
    answer += socket.readAll();
    if (closed)
        *closed = socket.state() != QAbstractSocket::ConnectedState;
    return answer;
}

struct Curl { int exit = -1; QByteArray out, err; };

Curl curl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral("curl"), QStringList{"-sS", "--max-time", "20"} + args);
    p.waitForFinished(30000);
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

QByteArray run(const QString &program, const QStringList &args, int *exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput() + p.readAllStandardError();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class tst_StationDoors : public QObject
{
    Q_OBJECT

    std::unique_ptr<Station> plain, secure;   // shared by the rows of a test
    QTemporaryDir tlsDir;

private slots:
    void cleanupTestCase()
    {
        plain.reset();
        secure.reset();
    }

    void requestLimits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("status");      // the answer's first line
        QTest::addColumn<QByteArray>("also");        // in the answer too
        QTest::addColumn<bool>("bodyless");          // nothing after the head

        // A head of exactly `size` bytes.
        const auto head = [](int size) {
            const QByteArray start = "GET /metrics HTTP/1.1\r\nX-Pad: ";
            return start + QByteArray(size - start.size() - 4, 'p') + "\r\n\r\n";
        };
        QTest::newRow("GET /metrics") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 200")
                                      << QByteArray("text/plain; version=0.0.4") << false;
        QTest::newRow("HEAD /metrics: the head alone") << QByteArray("HEAD /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
                                                       << QByteArray("HTTP/1.1 200") << QByteArray("Content-Length: ") << true;
        QTest::newRow("HEAD /") << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << QByteArray("HTTP/1.1 200") << QByteArray("text/html") << true;
        QTest::newRow("POST") << QByteArray("POST /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("HTTP/1.1 405")
                              << QByteArray("Allow: GET, HEAD\r\n") << false;
        QTest::newRow("unknown method") << QByteArray("BREW / HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 405") << QByteArray("Allow: GET, HEAD")
                                        << false;
        QTest::newRow("other path") << QByteArray("GET /config HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 404") << QByteArray() << false;
        QTest::newRow("a body") << QByteArray("GET /metrics HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody") << QByteArray("HTTP/1.1 413")
                                << QByteArray() << false;
        QTest::newRow("a chunked body") << QByteArray("GET / HTTP/1.1\r\ntransfer-encoding: chunked\r\n\r\n0\r\n\r\n")
                                        << QByteArray("HTTP/1.1 413") << QByteArray() << false;
        QTest::newRow("length 0 is no body") << QByteArray("GET /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QByteArray("HTTP/1.1 200")
                                             << QByteArray() << false;
        QTest::newRow("head of 8 KiB exactly") << head(8192)
                                               << QByteArray("HTTP/1.1 200") << QByteArray() << false;
        QTest::newRow("head one byte over") << head(8193)
                                            << QByteArray("HTTP/1.1 431") << QByteArray() << false;
        QTest::newRow("request line over") << QByteArray("GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n") << QByteArray("HTTP/1.1 414")
                                           << QByteArray() << false;
    }
    void requestLimits()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, status);
        QFETCH(QByteArray, also);
        QFETCH(bool, bodyless);
        if (!plain)
            plain = std::make_unique<Station>();
        QVERIFY(plain->ready);
        bool closed = false;
        const QByteArray answer = exchange(plain->port, request, &closed);
        QVERIFY2(answer.startsWith(status + ' '), answer.left(200).constData());
        QVERIFY2(answer.contains(also), answer.left(400).constData());
        QVERIFY(answer.contains("Connection: close\r\n"));
        QVERIFY(closed);
        if (bodyless)
            QVERIFY(answer.endsWith("\r\n\r\n"));
    }

    // 100 clients each sending a byte a second and one sending a 100 MiB header, while a
    // scrape is made; bench_stationdoors prints the figures this bounds generously.
    void slowClientsCannotWearItDown()
    {
        Station station;
        QVERIFY(station.ready);
        QVERIFY(!exchange(station.port, "GET /metrics HTTP/1.0\r\n\r\n").isEmpty());
        const qint64 before = station.residentKiB();

        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 100; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, station.port);
            QVERIFY(slow.back()->waitForConnected(5000));
        }
        QElapsedTimer since;
        since.start();
        const QByteArray slowRequest = "GET /metrics HTTP/1.1\r\nHost: station\r\nX-Slow: ";
        int sent = 0;
        QTimer drip;
        QObject::connect(&drip, &QTimer::timeout, [&] {
            for (auto &s : slow)
                if (s->state() == QAbstractSocket::ConnectedState)
                    s->write(slowRequest.mid(sent % slowRequest.size(), 1));
            ++sent;
        });
        drip.start(1000);

        QTcpSocket huge;
        qint64 pushed = 0;
        const QByteArray chunk(1 << 20, 'h');
        QObject::connect(&huge, &QIODevice::bytesWritten, [&] {
            while (huge.bytesToWrite() < 2 * chunk.size() && pushed < 100 * chunk.size()) {
                huge.write(chunk);
                pushed += chunk.size();
            }
        });
        huge.connectToHost(QHostAddress::LocalHost, station.port);
        QVERIFY(huge.waitForConnected(5000));
        huge.write("GET /metrics HTTP/1.1\r\nX-Huge: ");

        // Over the cap of 64 the oldest waiting connections give way at once.
        const auto closedCount = [&] {
            return std::count_if(slow.begin(), slow.end(), [](const auto &s) { return s->state() != QAbstractSocket::ConnectedState; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(closedCount() >= 36, 3000);
        QVERIFY(closedCount() < 100);

        QElapsedTimer scrape;
        scrape.start();
        const QByteArray answer = exchange(station.port, "GET /metrics HTTP/1.0\r\n\r\n");
        const qint64 scrapeMs = scrape.elapsed();
        QVERIFY2(answer.startsWith("HTTP/1.1 200 "), answer.left(100).constData());
        QVERIFY2(scrapeMs < 1000, qPrintable(QString::number(scrapeMs)));
        QVERIFY2(station.residentKiB() - before < 30 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(station.residentKiB() - before)));

        QTRY_VERIFY_WITH_TIMEOUT(closedCount() == 100, 15000);
        QVERIFY2(since.elapsed() < 10000, qPrintable(QString::number(since.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(huge.state() != QAbstractSocket::ConnectedState, 10000);
        QVERIFY2(station.residentKiB() - before < 30 * 1024, qPrintable(QStringLiteral("%1 KiB").arg(station.residentKiB() - before)));
    }

    void tlsAndPasswords_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("expect");     // curl's -w output: the status, or nothing
        QTest::addColumn<bool>("metrics");

        QTest::newRow("htpasswd -B user") << QStringList{"-u", "alice:open sesame", "https://127.0.0.1:PORT/metrics"}
                                          << QByteArray("200") << true;
        QTest::newRow("python bcrypt user") << QStringList{"-u", "bob:b0b's:pass", "https://127.0.0.1:PORT/metrics"}
                                            << QByteArray("200") << true;
        QTest::newRow("HEAD with a password") << QStringList{"-I", "-u", "bob:b0b's:pass", "https://127.0.0.1:PORT/"}
                                              << QByteArray("200") << false;
        QTest::newRow("wrong password") << QStringList{"-u", "alice:open sesame!", "https://127.0.0.1:PORT/metrics"}
                                        << QByteArray("401") << false;
        QTest::newRow("another user's password") << QStringList{"-u", "alice:b0b's:pass", "https://127.0.0.1:PORT/metrics"}
                                                 << QByteArray("401") << false;
        QTest::newRow("unknown user") << QStringList{"-u", "carol:open sesame", "https://127.0.0.1:PORT/metrics"}
                                      << QByteArray("401") << false;
        QTest::newRow("no password") << QStringList{"https://127.0.0.1:PORT/metrics"} << QByteArray("401") << false;
        QTest::newRow("unknown path asks first") << QStringList{"https://127.0.0.1:PORT/x"} << QByteArray("401") << false;
        QTest::newRow("plain HTTP") << QStringList{"-u", "alice:open sesame", "http://127.0.0.1:PORT/metrics"}
                                    << QByteArray("000") << false;
    }
    void tlsAndPasswords()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, expect);
        QFETCH(bool, metrics);
        QTemporaryDir &dir = tlsDir;
        std::unique_ptr<Station> &station = secure;
        if (!station) {
            int code = 0;
            const QByteArray made = run(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                                                    "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                                                                    dir.filePath("key.pem"), "-out", dir.filePath("cert.pem")}, &code);
            QVERIFY2(code == 0, made.constData());
            const QByteArray alice = run(QStringLiteral("htpasswd"), {"-nbBC", "6", "alice", "open sesame"}, &code).trimmed();
            QVERIFY2(code == 0 && alice.startsWith("alice:$2y$"), alice.constData());
            const QByteArray bob = run(QStringLiteral("/usr/bin/python3"),
                                       {"-c", "import bcrypt; print(bcrypt.hashpw(b\"b0b's:pass\", bcrypt.gensalt(6)).decode())"}, &code).trimmed();
            QVERIFY2(code == 0 && bob.startsWith("$2b$"), bob.constData());
            QVERIFY(writeFile(dir.filePath("web.yml"), "# HTTPS and two users\ntls_server_config:\n  cert_file: cert.pem\n  key_file: "
                                                         + dir.filePath("key.pem").toUtf8() + "\nbasic_auth_users:\n  alice: '"
                                                         + alice.mid(6) + "'\n  bob: " + bob + "\n"));
            station = std::make_unique<Station>(QStringList{"--web-config", dir.filePath("web.yml")});
            QVERIFY(station->ready);
        }
        args.replaceInStrings(QStringLiteral("PORT"), QString::number(station->port));
        const Curl c = curl(QStringList{"--cacert", dir.filePath("cert.pem"), "-o", "-", "-D", "-", "-w", "\n%{http_code}"} + args);
        QVERIFY2(c.out.endsWith("\n" + expect), (c.out.right(300) + c.err).constData());
        QCOMPARE(c.out.contains("Content-Type: text/plain; version=0.0.4"), metrics);
        QCOMPARE(c.out.contains("WWW-Authenticate: Basic"), expect == "401");
    }

    void badWebConfig_data()
    {
        QTest::addColumn<QByteArray>("yaml");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");     // besides the file's name

        QTest::newRow("unknown key") << QByteArray("basic_auth_users: {}\nhttp_server_config:\n  http2: false\n") << 2 << "http_server_config";
        QTest::newRow("unknown TLS key") << QByteArray("tls_server_config:\n  cert_file: c.pem\n  key_file: k.pem\n  client_ca_file: ca.pem\n")
                                         << 2 << "tls_server_config.client_ca_file";
        QTest::newRow("no key file") << QByteArray("tls_server_config:\n  cert_file: c.pem\n") << 2 << "key_file";
        QTest::newRow("a missing certificate") << QByteArray("tls_server_config:\n  cert_file: none.pem\n  key_file: k.pem\n") << 3
                                               << "tls_server_config.cert_file";
        QTest::newRow("not a hash") << QByteArray("basic_auth_users:\n  alice: secret\n") << 2 << "basic_auth_users.alice";
        QTest::newRow("not YAML") << QByteArray("basic_auth_users: [\n") << 2 << "line ";
        QTest::newRow("no file") << QByteArray() << 3 << "cannot read";
    }
    void badWebConfig()
    {
        QFETCH(QByteArray, yaml);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString file = dir.filePath("web.yml");
        if (!yaml.isEmpty())
            QVERIFY(writeFile(file, yaml));
        QProcess p;
        p.start(QStringLiteral(VANTOREL_CLI), {"serve", "--no-archive", "--listen", QStringLiteral("127.0.0.1:%1").arg(freePort()), "--web-config", file});
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(err.contains(file) && err.contains(message), qPrintable(err));
    }

    // The unit's own command line, as a user whose home cannot be written (as a dynamic user's):
    // the archive lands in the state directory and the second download reads only what is new.
    void unitArchivesAsAnUnprivilegedUser()
    {
        QFile unitFile(QStringLiteral(VANTOREL_SOURCE_DIR "/packaging/vantorel-station.service"));
        QVERIFY(unitFile.open(QIODevice::ReadOnly));
        const QString unit = QString::fromUtf8(unitFile.readAll());
        const QRegularExpressionMatch exec = QRegularExpression(QStringLiteral("^ExecStart=(\\S+) (.*)$"), QRegularExpression::MultilineOption).match(unit);
        QVERIFY(exec.hasMatch());
        QVERIFY(unit.contains(QStringLiteral("ReadWritePaths=/run/lock")));

        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                                                      | QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup));
        const QString state = dir.filePath("state");
        QVERIFY(QDir().mkpath(state + "/vantorel-station"));
        const bool root = geteuid() == 0;
        if (root)
            QCOMPARE(run(QStringLiteral("chown"), {"-R", "nobody:nogroup", state}), QByteArray());
        else
            QVERIFY(QDir().mkpath(dir.filePath("home"))
                    && QFile::setPermissions(dir.filePath("home"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));

        sim::LoggerConfig config = frozenLogger(3, 6000);
        auto logger = std::make_unique<sim::PtyLogger>(dir.filePath("ttyV0"), config);
        QVERIFY(logger->start());
        QVERIFY(QFile::setPermissions(logger->linkPath(), QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ReadOwner
                                                              | QFileDevice::WriteOwner));

        QStringList args = QProcess::splitCommand(exec.captured(2).replace(QStringLiteral("%S"), state));
        args << "--listen" << QStringLiteral("127.0.0.1:%1").arg(freePort());
        QStringList command = QStringList{QStringLiteral(VANTOREL_CLI)} + args;
        if (root)
            command = QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"} + command;
        const auto download = [&]() -> QStringList {
            QProcess serve;
            QProcessEnvironment env;
            env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
            env.insert(QStringLiteral("HOME"), root ? QStringLiteral("/nonexistent") : dir.filePath("home"));
            env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), logger->linkPath());
            serve.setProcessEnvironment(env);
            serve.setWorkingDirectory(state + "/vantorel-station");
            serve.start(command.first(), command.mid(1));
            if (!serve.waitForStarted(10000))
                return QStringList{serve.errorString()};
            QByteArray out;
            waitFor([&] { out += serve.readAllStandardOutput(); return out.contains('\n') || serve.state() != QProcess::Running; }, 60000);
            serve.terminate();
            serve.waitForFinished(10000);
            const QString line = QString::fromUtf8(out).trimmed();
            return line.isEmpty() ? QStringList{QString::fromUtf8(serve.readAllStandardError())} : line.split(QLatin1Char('\t'));
        };
        const QStringList first = download();
        QVERIFY2(first.size() == 8 && first.last() == "read", qPrintable(first.join('|')));
        QCOMPARE(first.at(4), first.at(5));
        QVERIFY(first.at(4).toInt() > 0);
        const QStringList second = download();
        QVERIFY2(second.size() == 8 && second.last() == "read", qPrintable(second.join('|')));
        QCOMPARE(second.at(4), first.at(4));
        QCOMPARE(second.at(5), QStringLiteral("0"));
        QVERIFY(args.contains(QStringLiteral("--archive")));
        const QFileInfo archive(args.value(args.indexOf(QStringLiteral("--archive")) + 1));
        QVERIFY2(archive.isFile() && archive.size() > 0, qPrintable(archive.filePath()));
        if (root)
            QCOMPARE(archive.owner(), QStringLiteral("nobody"));

        // The unit as systemd reads it, with the built program in place of the installed one.
        if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
            return;
        QString copy = unit;
        copy.replace(exec.captured(1), QStringLiteral(VANTOREL_CLI));
        QVERIFY(writeFile(dir.filePath("vantorel-station.service"), copy.toUtf8()));
        int code = 0;
        const QByteArray verdict = run(QStringLiteral("systemd-analyze"), {"verify", "--man=no", dir.filePath("vantorel-station.service")}, &code);
        QVERIFY2(code == 0 && verdict.trimmed().isEmpty(), verdict.constData());   // it warns of what it ignores
    }
};

QTEST_MAIN(tst_StationDoors)
#include "tst_stationdoors.moc"
