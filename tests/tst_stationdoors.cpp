// The station's doors: vantorel-cli serve against clients that misbehave, HTTPS and passwords
// from --web-config checked with curl, and the shipped unit's command line as an unprivileged user.

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

// A station with no logger on a free port, `extra` added to its arguments.
struct Station {
    explicit Station(const QStringList &extra = {}) : port(freePort())
    {
        process.start(QStringLiteral(VANTOREL_CLI), QStringList{"serve", "--no-archive", "--listen", QStringLiteral("127.0.0.1:%1").arg(port)} + extra);
        ready = process.waitForStarted(10000) && waitFor([this] {
                    QTcpSocket s;
                    s.connectToHost(QHostAddress::LocalHost, port);
                    return process.state() != QProcess::Running || s.waitForConnected(1000);
                }, 20000) && process.state() == QProcess::Running;
    }
    ~Station() { process.terminate(); process.waitForFinished(10000); }
    qint64 residentKiB() const
    {
        const QByteArray status = run(QStringLiteral("cat"), {QStringLiteral("/proc/%1/status").arg(process.processId())});
        return QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+)")).match(QString::fromLatin1(status)).captured(1).toLongLong();
    }
    quint16 port;
    QProcess process;
    bool ready = false;
};

// Sends `request` on a fresh connection; all that comes until the station closes it (10 s at most).
QByteArray exchange(quint16 port, const QByteArray &request, bool *closed = nullptr)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.waitForConnected(5000);
    socket.write(request);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 10000) {
        socket.waitForReadyRead(200);
        answer += socket.readAll();
    }
    if (closed)
        *closed = socket.state() != QAbstractSocket::ConnectedState;
    return answer + socket.readAll();
}

} // namespace

class tst_StationDoors : public QObject
{
    Q_OBJECT

    std::unique_ptr<Station> plain, secure;   // shared by the rows of a test
    QTemporaryDir tlsDir;

private slots:
    void cleanupTestCase() { plain.reset(), secure.reset(); }

    void requestLimits_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");     // its first line starts so, and it holds `also`
        QTest::addColumn<QByteArray>("also");
        const auto head = [](int size) {   // a head of exactly `size` bytes
            const QByteArray start = "GET /metrics HTTP/1.1\r\nX-Pad: ";
            return start + QByteArray(size - start.size() - 4, 'p') + "\r\n\r\n";
        };
        QTest::newRow("GET") << QByteArray("GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n") << QByteArray("200") << QByteArray("version=0.0.4");
        QTest::newRow("HEAD, a head alone") << QByteArray("HEAD /metrics HTTP/1.1\r\n\r\n") << QByteArray("200") << QByteArray("Length: ");
        QTest::newRow("HEAD /") << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << QByteArray("200") << QByteArray("text/html");
        QTest::newRow("POST") << QByteArray("POST /metrics HTTP/1.1\r\n\r\n") << QByteArray("405") << QByteArray("Allow: GET, HEAD\r\n");
        QTest::newRow("unknown method") << QByteArray("BREW / HTTP/1.1\r\n\r\n") << QByteArray("405") << QByteArray("Allow: GET, HEAD\r\n");
        QTest::newRow("other path") << QByteArray("GET /config HTTP/1.1\r\n\r\n") << QByteArray("404") << QByteArray();
        QTest::newRow("a body") << QByteArray("GET /metrics HTTP/1.1\r\nContent-Length: 4\r\n\r\nbody") << QByteArray("413") << QByteArray();
        QTest::newRow("chunked") << QByteArray("GET / HTTP/1.1\r\ntransfer-encoding: chunked\r\n\r\n0\r\n\r\n") << QByteArray("413") << QByteArray();
        QTest::newRow("length 0") << QByteArray("GET /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n") << QByteArray("200") << QByteArray();
        QTest::newRow("head of 8 KiB") << head(8192) << QByteArray("200") << QByteArray();
        QTest::newRow("one byte over") << head(8193) << QByteArray("431") << QByteArray();
        QTest::newRow("far over") << QByteArray("GET / HTTP/1.1\r\nX-Long: " + QByteArray(20000, 'l') + "\r\n\r\n") << QByteArray("431") << QByteArray();
        QTest::newRow("request line over") << QByteArray("GET /" + QByteArray(9000, 'a') + " HTTP/1.1\r\n\r\n") << QByteArray("414") << QByteArray();
    }
    void requestLimits()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, also);
        if (!plain)
            plain = std::make_unique<Station>();
        QVERIFY(plain->ready);
        bool closed = false;
        const QByteArray got = exchange(plain->port, request, &closed);
        QVERIFY2(got.startsWith("HTTP/1.1 " + answer + ' ') && got.contains(also) && got.contains("Connection: close\r\n"), got.left(300).constData());
        QVERIFY(closed);
        QVERIFY(!request.startsWith("HEAD") || got.endsWith("\r\n\r\n"));
    }

    // Clients that close their sending side after the request (printf ... | nc -N) still get the answer.
    void halfClosingClientsGetTheirAnswer()
    {
        if (!plain)
            plain = std::make_unique<Station>();
        const QByteArray answers = run(QStringLiteral("/usr/bin/python3"), {"-c", "import socket, sys\nfor i in range(40):\n"
            "    s = socket.create_connection(('127.0.0.1', int(sys.argv[1]))); s.sendall(sys.argv[2].encode()); s.shutdown(socket.SHUT_WR)\n"
            "    print(b''.join(iter(lambda: s.recv(65536), b'')).split(b'\\r')[0].decode())", QString::number(plain->port), "GET / HTTP/1.0\r\n\r\n"});
        QCOMPARE(answers.count("HTTP/1.1 200 OK\n"), 40);
    }

    // 100 clients each sending a byte a second and one a 100 MiB header, while a scrape is made;
    // bench_stationdoors prints the figures bounded generously here.
    void slowClientsCannotWearItDown()
    {
        Station station;
        QVERIFY(station.ready);
        const qint64 before = station.residentKiB();
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 100; ++i) {
            slow.push_back(std::make_unique<QTcpSocket>());
            slow.back()->connectToHost(QHostAddress::LocalHost, station.port);
            QVERIFY(slow.back()->waitForConnected(5000));
        }
        QElapsedTimer since;
        since.start();
        QTimer drip;
        QObject::connect(&drip, &QTimer::timeout, [&] {
            for (auto &s : slow)
                if (s->state() == QAbstractSocket::ConnectedState)
                    s->write("G");
        });
        drip.start(1000);
        QTcpSocket huge;
        const QByteArray chunk(1 << 20, 'h');
        qint64 pushed = 0;
        QObject::connect(&huge, &QIODevice::bytesWritten, [&] {
            for (; huge.bytesToWrite() < 2 * chunk.size() && pushed < 100 * chunk.size(); pushed += chunk.size())
                huge.write(chunk);
        });
        huge.connectToHost(QHostAddress::LocalHost, station.port);
        huge.write("GET /metrics HTTP/1.1\r\nX-Huge: ");

        // Over the cap of 64, the connections that waited longest give way at once.
        const auto closedCount = [&] {
            return std::count_if(slow.begin(), slow.end(), [](const auto &s) { return s->state() != QAbstractSocket::ConnectedState; });
        };
        QTRY_VERIFY_WITH_TIMEOUT(closedCount() >= 36, 3000);
        QElapsedTimer scrape;
        scrape.start();
        const QByteArray answer = exchange(station.port, "GET /metrics HTTP/1.0\r\n\r\n");
        QVERIFY2(answer.startsWith("HTTP/1.1 200 ") && scrape.elapsed() < 1000, qPrintable(QString::number(scrape.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(closedCount() == 100 && huge.state() != QAbstractSocket::ConnectedState, 15000);
        QVERIFY2(since.elapsed() < 10000, qPrintable(QString::number(since.elapsed())));
#ifndef __SANITIZE_ADDRESS__
        // AddressSanitizer keeps freed memory in quarantine: resident size says nothing there.
        QVERIFY2(station.residentKiB() - before < 30 * 1024, qPrintable(QString::number(station.residentKiB() - before)));
#endif
    }

    void tlsAndPasswords_data()
    {
        QTest::addColumn<QString>("args");       // curl's, split at |
        QTest::addColumn<QByteArray>("status");  // as curl tells it: 000 for no answer
        QTest::newRow("htpasswd -B user") << "-u|alice:open sesame|https://127.0.0.1:PORT/metrics" << QByteArray("200");
        QTest::newRow("python bcrypt user") << "-u|bob:b0b's:pass|https://127.0.0.1:PORT/metrics" << QByteArray("200");
        QTest::newRow("HEAD") << "-I|-u|bob:b0b's:pass|https://127.0.0.1:PORT/" << QByteArray("200");
        QTest::newRow("wrong password") << "-u|alice:open sesame!|https://127.0.0.1:PORT/metrics" << QByteArray("401");
        QTest::newRow("another's password") << "-u|alice:b0b's:pass|https://127.0.0.1:PORT/metrics" << QByteArray("401");
        QTest::newRow("unknown user") << "-u|carol:open sesame|https://127.0.0.1:PORT/metrics" << QByteArray("401");
        QTest::newRow("no password, other path") << "https://127.0.0.1:PORT/x" << QByteArray("401");
        QTest::newRow("plain HTTP") << "-u|alice:open sesame|http://127.0.0.1:PORT/metrics" << QByteArray("000");
    }
    void tlsAndPasswords()
    {
        QFETCH(QString, args);
        QFETCH(QByteArray, status);
        if (!secure) {
            int code = 0;
            const QByteArray made = run(QStringLiteral("openssl"), {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                                                                    "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", tlsDir.filePath("key.pem"),
                                                                    "-out", tlsDir.filePath("cert.pem")}, &code);
            QVERIFY2(code == 0, made.constData());
            const QByteArray alice = run(QStringLiteral("htpasswd"), {"-nbBC", "6", "alice", "open sesame"}).trimmed();
            const QByteArray bob = run(QStringLiteral("/usr/bin/python3"),
                                       {"-c", "import bcrypt; print(bcrypt.hashpw(b\"b0b's:pass\", bcrypt.gensalt(6)).decode())"}).trimmed();
            QVERIFY2(alice.startsWith("alice:$2y$") && bob.startsWith("$2b$"), (alice + bob).constData());
            QVERIFY(writeFile(tlsDir.filePath("web.yml"), "tls_server_config:\n  cert_file: cert.pem\n  key_file: " + tlsDir.filePath("key.pem").toUtf8()
                                                            + "\nbasic_auth_users:\n  alice: '" + alice.mid(6) + "'\n  bob: " + bob + "\n"));
            secure = std::make_unique<Station>(QStringList{"--web-config", tlsDir.filePath("web.yml")});
        }
        QVERIFY(secure->ready);
        const QStringList curlArgs = args.replace(QStringLiteral("PORT"), QString::number(secure->port)).split(QLatin1Char('|'));
        const QByteArray out = run(QStringLiteral("curl"), QStringList{"-s", "--cacert", tlsDir.filePath("cert.pem"), "-D", "-", "-w", "\n%{http_code}"} + curlArgs);
        QVERIFY2(out.endsWith("\n" + status), out.right(300).constData());
        QCOMPARE(out.contains("WWW-Authenticate: Basic"), status == "401");
    }

    void badWebConfig_data()
    {
        QTest::addColumn<QByteArray>("yaml");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");   // besides the file's name
        QTest::newRow("unknown key") << QByteArray("basic_auth_users: {}\nhttp_server_config:\n  http2: false\n") << 2 << "http_server_config";
        QTest::newRow("unknown TLS key") << QByteArray("tls_server_config:\n  cert_file: c.pem\n  key_file: k.pem\n  client_ca_file: ca.pem\n")
                                         << 2 << "tls_server_config.client_ca_file";
        QTest::newRow("no key file") << QByteArray("tls_server_config:\n  cert_file: c.pem\n") << 2 << "key_file";
        QTest::newRow("missing certificate") << QByteArray("tls_server_config:\n  cert_file: no.pem\n  key_file: k.pem\n") << 3 << "tls_server_config.cert_file";
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
        QVERIFY(yaml.isEmpty() || writeFile(file, yaml));
        QProcess p;
        p.start(QStringLiteral(VANTOREL_CLI), {"serve", "--no-archive", "--listen", QStringLiteral("127.0.0.1:%1").arg(freePort()), "--web-config", file});
        QVERIFY(p.waitForFinished(20000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), exitCode);
        QVERIFY2(err.contains(file) && err.contains(message), qPrintable(err));
    }

    // The unit's command line as a user whose home cannot be written (as a dynamic user's): the
    // archive lands in the state directory and the second download reads only what is new.
    void unitArchivesAsAnUnprivilegedUser()
    {
        cleanupTestCase();   // the other tests' stations stopped: nothing else competes with the downloads below
        QFile unitFile(QStringLiteral(VANTOREL_SOURCE_DIR "/packaging/vantorel-station.service"));
        QVERIFY(unitFile.open(QIODevice::ReadOnly));
        const QString unit = QString::fromUtf8(unitFile.readAll());
        const QRegularExpressionMatch exec = QRegularExpression(QStringLiteral("^ExecStart=(\\S+) (.*)$"), QRegularExpression::MultilineOption).match(unit);
        QVERIFY(exec.hasMatch() && unit.contains(QStringLiteral("ReadWritePaths=/run/lock")));
        QTemporaryDir dir;
        const QString state = dir.filePath("state"), home = dir.filePath("home");
        QVERIFY(QDir().mkpath(state + "/vantorel-station") && QDir().mkpath(home));
        const bool root = geteuid() == 0;
        QVERIFY(run(QStringLiteral("chmod"), {"-R", "go+rx", dir.path()}).isEmpty() && run(QStringLiteral("chmod"), {"a-w", home}).isEmpty());
        QVERIFY(!root || run(QStringLiteral("chown"), {"-R", "nobody:nogroup", state}).isEmpty());
        auto logger = std::make_unique<sim::PtyLogger>(dir.filePath("ttyV0"), frozenLogger(3, 6000));
        QVERIFY(logger->start() && run(QStringLiteral("chmod"), {"a+rw", logger->linkPath()}).isEmpty());

        const QStringList args = QProcess::splitCommand(exec.captured(2).replace(QStringLiteral("%S"), state))
                                 << "--listen" << QStringLiteral("127.0.0.1:%1").arg(freePort());
        QStringList command = QStringList{QStringLiteral(VANTOREL_CLI)} + args;
        if (root)
            command = QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"} + command;
        const auto download = [&] {   // the summary line of the logger's download
            QProcess serve;
            QProcessEnvironment env;
            env.insert(QStringLiteral("PATH"), qEnvironmentVariable("PATH"));
            env.insert(QStringLiteral("HOME"), root ? QStringLiteral("/nonexistent") : home);
            env.insert(QStringLiteral("VANTOREL_EXTRA_PORTS"), logger->linkPath());
            serve.setProcessEnvironment(env);
            serve.setWorkingDirectory(state + "/vantorel-station");
            serve.start(command.first(), command.mid(1));
            QByteArray out;
            waitFor([&] { return (out += serve.readAllStandardOutput()).contains('\n') || !serve.waitForStarted(10000) || serve.state() != QProcess::Running; }, 60000);
            serve.terminate();
            serve.waitForFinished(10000);
            return out.trimmed().isEmpty() ? QStringList{QString::fromUtf8(serve.readAllStandardError())} : QString::fromUtf8(out.trimmed()).split('\t');
        };
        const QStringList first = download(), second = download();
        QVERIFY2(first.size() == 8 && first.last() == "read" && first.at(4).toInt() > 0 && first.at(5) == first.at(4), qPrintable(first.join('|')));
        QVERIFY2(second.size() == 8 && second.last() == "read" && second.at(4) == first.at(4), qPrintable(second.join('|')));
        QCOMPARE(second.at(5), QStringLiteral("0"));
        const QFileInfo archive(args.value(args.indexOf(QStringLiteral("--archive")) + 1));
        QVERIFY2(archive.isFile() && (!root || archive.owner() == QStringLiteral("nobody")), qPrintable(archive.filePath()));

        // The unit as systemd reads it, the built program in place of the installed one; it warns of what it ignores.
        if (QStandardPaths::findExecutable(QStringLiteral("systemd-analyze")).isEmpty())
            return;
        QVERIFY(writeFile(dir.filePath("vantorel-station.service"), QString(unit).replace(exec.captured(1), QStringLiteral(VANTOREL_CLI)).toUtf8()));
        int code = 0;
        const QByteArray verdict = run(QStringLiteral("systemd-analyze"), {"verify", "--man=no", dir.filePath("vantorel-station.service")}, &code);
        QVERIFY2(code == 0 && verdict.trimmed().isEmpty(), verdict.constData());
    }
};

QTEST_MAIN(tst_StationDoors)
#include "tst_stationdoors.moc"
