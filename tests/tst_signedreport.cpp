// Signed reports with certificates made here by openssl: poppler's pdfsig and pdftotext read
// them, a second signature keeps the first valid, the archive records each, verify-report
// finds a changed byte, and every bad input leaves no file and records nothing.

#include "archive.h"
#include "campaignwindow.h"
#include "testsupport.h"

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QCryptographicHash>
#include <QPdfWriter>
#include <QPainter>
#include <QProcess>
#include <QTest>

namespace {

const QByteArray exportText = "Vantorel\t\r\n\t1234\r\n\tVantorel Temp\tHumidity\r\nDate\t\xB0" "C\t%RH\r\n"
                              "26/11/2014 16:53:00\t1.5\t40.0\r\n26/11/2014 16:54:00\t5.0\t45.0\r\n";

struct Run { int exitCode = -1; QByteArray out, err; };

// A program run in `dir` as the account "qa-operator" in Paris (UTC+01:00 in December).
Run run(const QString &program, const QStringList &args, const QString &dir)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("USER", "qa-operator");
    environment.insert("TZ", "Europe/Paris");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir);
    process.start(program, args);
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QString sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// pdfsig exits 0 whatever it finds: its lines say it.
QStringList signatureStates(const QString &pdf, const QString &dir)
{
    QStringList states;
    for (const QByteArray &line : run("pdfsig", {pdf}, dir).out.split('\n')) {
        if (line.contains("Signature Validation:"))
            states << (line.contains("Signature is Valid.") ? "valid" : "invalid");
        if (line.contains("document signed"))
            states << (line.contains("Total document signed") ? "total" : "partial");
    }
    return states;
}

// Certificates, keys and a PKCS#12 file, all valid now but where the name says otherwise.
struct Signers {
    explicit Signers(const QString &dir) : dir(dir)
    {
        const QStringList key = {"-newkey", "rsa:2048", "-passout", "pass:secret"};
        ready = openssl(QStringList{"req", "-x509", "-days", "30", "-subj", "/CN=Jane Doe", "-keyout", "jane.key", "-out", "jane.pem"} + key)
                && openssl({"req", "-x509", "-days", "30", "-subj", "/CN=John Roe", "-newkey", "rsa:2048", "-noenc",
                            "-keyout", "john.key", "-out", "john.pem"})
                && openssl({"pkcs12", "-export", "-in", "john.pem", "-inkey", "john.key", "-out", "john.p12", "-passout", "pass:p12"})
                && dated("expired", "20200101000000Z", "20210101000000Z") && dated("future", "20990101000000Z", "21000101000000Z");
        ready = ready && writeFile(dir + "/pass", "secret\n") && writeFile(dir + "/wrong", "Secret\n")
                && writeFile(dir + "/p12pass", "p12");
    }
    bool openssl(const QStringList &args) { return run("openssl", args, dir).exitCode == 0; }
    // A self-signed certificate valid only between the two times (openssl req cannot date back).
    bool dated(const QString &name, const QString &from, const QString &to)
    {
        return QDir(dir).mkpath("ca") && writeFile(dir + "/ca/index", {}) && writeFile(dir + "/ca/serial", "01\n")
               && writeFile(dir + "/ca.cnf", "[ca]\ndefault_ca=d\n[d]\ndatabase=ca/index\nnew_certs_dir=ca\nserial=ca/serial\n"
                                             "default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n")
               && openssl({"req", "-new", "-subj", "/CN=" + name, "-newkey", "rsa:2048", "-noenc", "-keyout", name + ".key",
                           "-out", name + ".csr"})
               && openssl({"ca", "-batch", "-notext", "-config", "ca.cnf", "-selfsign", "-keyfile", name + ".key", "-in",
                           name + ".csr", "-out", name + ".pem", "-startdate", from, "-enddate", to});
    }
    QString fingerprint(const QString &certificate)
    {
        const QByteArray out = run("openssl", {"x509", "-in", certificate, "-noout", "-fingerprint", "-sha256"}, dir).out;
        return QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed()).remove(':').toLower();
    }
    QString dir;
    bool ready = false;
};

QVector<Archive::Event> signedEvents(const QString &archive)
{
    QString error;
    QVector<Archive::Event> events;
    if (auto store = Archive::Store::open({archive}, &error))
        for (const Archive::Event &e : store->events(std::nullopt, &error))
            if (e.kind == Archive::EventKind::ReportSigned)
                events << e;
    return events;
}

} // namespace

class TestSignedReport : public QObject
{
    Q_OBJECT

private slots:
    // An archived download reported and signed for review, then signed again for approval
    // with a PKCS#12 file: both valid, both shown, both recorded; a changed byte is found.
    void reviewThenApproval()
    {
        ScratchDirectory dir;
        Signers signers(dir.path());
        QVERIFY(signers.ready);
        const QString archive = dir.filePath("archive.sqlite");
        QByteArray image(4032, '\0');
        for (int i = 0; i < image.size(); ++i)
            image[i] = char(i * 7 % 251);
        LoggerStatus s;
        s.address = 0x12345, s.deviceType = 7, s.version = 12, s.memorySizeCode = 4, s.periodCode = 7;
        s.startTime = QDateTime(QDate(2024, 3, 1), QTime(8, 0)), s.calibrationA = 0xFFF0, s.calibrationB = 2300, s.usedBytes = 4000;
        QString error;
        QCOMPARE(Archive::Store::open({archive}, &error)->storeDownload(s, image, &error), 1);
        const QString exportSha = sha256(run(VANTOREL_CLI, {"archive", "export", "1", "-o", "-", "--archive", archive}, dir.path()).out);

        const QStringList common = {"--archive", archive};
        Run r = run(VANTOREL_CLI, QStringList{"report", "--download", "1", "-o", "r.pdf", "--sign", "--meaning", "review",
                                              "--reason", "Cold chain checked", "--cert", "jane.pem", "--key", "jane.key",
                                              "--passphrase-file", "pass"} + common, dir.path());
        QVERIFY2(r.exitCode == 0, r.err);
        QCOMPARE(signatureStates("r.pdf", dir.path()), QStringList({"total", "valid"}));
        const QByteArray reviewed = fileBytes(dir.filePath("r.pdf"));
        r = run(VANTOREL_CLI, QStringList{"sign", "r.pdf", "--meaning", "approval", "--pkcs12", "john.p12",
                                          "--passphrase-file", "p12pass"} + common, dir.path());
        QVERIFY2(r.exitCode == 0, r.err);
        QCOMPARE(signatureStates("r.pdf", dir.path()), QStringList({"partial", "valid", "total", "valid"}));
        const QByteArray approved = fileBytes(dir.filePath("r.pdf"));
        QVERIFY(approved.startsWith(reviewed));

        const QString text = QString::fromUtf8(run("pdftotext", {"r.pdf", "-"}, dir.path()).out).simplified();
        QRegularExpression dates("Date: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d UTC\\+01:00");
        QVERIFY2(text.contains("Signed by: Jane Doe Account: qa-operator Date:")
                     && text.contains("Meaning: review Reason: Cold chain checked Signed by: John Roe Account: qa-operator")
                     && text.contains("Meaning: approval Reason: -") && text.count(dates) == 2, qPrintable(text));
        QVERIFY2(text.contains("Export file SHA-256 " + exportSha) && text.contains("Archived download 1"), qPrintable(text));

        const QVector<Archive::Event> events = signedEvents(archive);
        QCOMPARE(events.size(), 2);
        QCOMPARE(run(VANTOREL_CLI, QStringList{"archive", "log"} + common, dir.path()).out.count("\treportSigned\t"), 2);
        const QStringList recorded = {events[0].details["signer"].toString(), events[0].details["meaning"].toString(),
                                      events[0].details["reason"].toString(), events[0].details["account"].toString(),
                                      events[1].details["signer"].toString(), events[1].details["meaning"].toString()};
        QCOMPARE(recorded, QStringList({"Jane Doe", "review", "Cold chain checked", "qa-operator", "John Roe", "approval"}));
        QCOMPARE(events[0].details["certificateSha256"].toString(), signers.fingerprint("jane.pem"));
        QCOMPARE(events[1].details["sha256"].toString(), sha256(approved));
        QCOMPARE(events[0].details["sha256"].toString(), sha256(reviewed));
        QCOMPARE(events[1].details["downloadId"].toInt(), 1);
        QCOMPARE(events[1].address, 0x12345u);

        r = run(VANTOREL_CLI, QStringList{"verify-report", "r.pdf"} + common, dir.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.out.count("valid, "), 2);
        QVERIFY2(r.out.contains("signature 2: valid, John Roe, approval,") && r.out.contains("whole file, audit event 3\n"), r.out);

        // One byte changed where both signatures cover it; one byte added after the last; a
        // hex digit of the last signature in lower case, which only the archive's hash sees.
        QByteArray lower = approved;
        qsizetype digit = lower.lastIndexOf("/Contents<") + 10;
        QVERIFY(digit > 10);
        while (!QByteArray("ABCDEF").contains(lower[digit]))
            ++digit;
        lower[digit] = char(lower[digit] - 'A' + 'a');
        QByteArray flipped = approved;
        flipped[flipped.size() / 4] = char(flipped[flipped.size() / 4] ^ 1);
        for (const QByteArray &altered : {flipped, approved + ' ', lower}) {
            QVERIFY(altered != approved && writeFile(dir.filePath("altered.pdf"), altered));
            r = run(VANTOREL_CLI, QStringList{"verify-report", "altered.pdf"} + common, dir.path());
            QCOMPARE(r.exitCode, 1);
            if (altered == flipped) {
                QCOMPARE(signatureStates("altered.pdf", dir.path()), QStringList({"partial", "invalid", "total", "invalid"}));
                QVERIFY2(r.out.startsWith("signature 1: INVALID (") && r.out.contains("signature 2: INVALID ("), r.out);
            }
        }
    }

    // The window's signed export with the certificate and key config.ini remembers, the
    // passphrase typed: a valid signature, recorded, with the meaning chosen.
    void windowExportsSignedReport()
    {
        ScratchDirectory dir;
        Signers signers(dir.path());
        QVERIFY(signers.ready && writeFile(dir.filePath("1234.tsv"), exportText));
        dir.writeConfig("[ARCHIVE]\nURL=trail.sqlite\n[SIGNING]\nCERTIFICATE=" + dir.filePath("jane.pem").toUtf8()
                        + "\nKEY=" + dir.filePath("jane.key").toUtf8() + "\n");
        CampaignWindow window;
        QVERIFY(window.openFile(dir.filePath("1234.tsv")));
        ModalAnswerer answer([](QWidget *w) { return w->objectName() == "signingDialog"; }, [](QWidget *w) {
            auto *dialog = qobject_cast<QDialog *>(w);
            dialog->findChild<QLineEdit *>("passphrase")->setText("secret");
            dialog->findChild<QComboBox *>()->setCurrentText("authorship");
            // Without the remembered paths the dialog would only warn: give up instead.
            if (dialog->findChild<QLineEdit *>("certificate")->text().isEmpty())
                return dialog->reject();
            dialog->accept();
        });
        window.findChild<QPushButton *>("signedReportButton")->click();
        QVERIFY(answer.done());
        QCOMPARE(signatureStates("1234_signed.pdf", dir.path()), QStringList({"total", "valid"}));
        const QVector<Archive::Event> events = signedEvents(dir.filePath("trail.sqlite"));
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].details["meaning"].toString(), QString("authorship"));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const QStringList report = {"report", "1234.tsv", "-o", "out.pdf", "--sign", "--meaning", "review"};
        const QStringList sign = {"--meaning", "approval", "--cert", "john.pem", "--key", "john.key", "-o", "out.pdf"};
        QTest::newRow("wrong passphrase") << report + QStringList{"--cert", "jane.pem", "--key", "jane.key", "--passphrase-file", "wrong"}
                                          << 1 << "the passphrase does not open the key";
        QTest::newRow("key of another") << report + QStringList{"--cert", "jane.pem", "--key", "john.key"} << 1
                                        << "the key does not belong to the certificate";
        QTest::newRow("expired") << report + QStringList{"--cert", "expired.pem", "--key", "expired.key"} << 1 << "has expired";
        QTest::newRow("not yet valid") << report + QStringList{"--cert", "future.pem", "--key", "future.key"} << 1 << "not yet valid";
        QTest::newRow("wrong PKCS#12 passphrase") << report + QStringList{"--pkcs12", "john.p12", "--passphrase-file", "wrong"}
                                                  << 1 << "the passphrase does not open the file";
        QTest::newRow("unwritable output") << QStringList{"report", "1234.tsv", "-o", "no/out.pdf", "--sign", "--meaning", "review",
                                                          "--cert", "john.pem", "--key", "john.key"} << 3 << "no/out.pdf";
        QTest::newRow("meaning unknown") << QStringList{"report", "1234.tsv", "-o", "out.pdf", "--sign", "--meaning", "fun",
                                                        "--cert", "john.pem", "--key", "john.key"} << 2 << "--meaning";
        QTest::newRow("sign no PDF") << QStringList{"sign", "1234.tsv"} + sign << 1 << "not a PDF";
        QTest::newRow("sign another PDF") << QStringList{"sign", "other.pdf"} + sign << 1 << "not a report of this program";
        QTest::newRow("sign unknown report") << QStringList{"sign", "unknown.pdf"} + sign << 1 << "knows no report";
        QTest::newRow("sign altered report") << QStringList{"sign", "altered.pdf"} + sign << 1 << "signature 1 no longer holds";
        QTest::newRow("verify damaged") << QStringList{"verify-report", "damaged.pdf"} << 1 << "not a PDF";
    }

    // A clear message, the exit status, no file left and nothing recorded.
    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        ScratchDirectory dir;
        Signers signers(dir.path());
        QVERIFY(signers.ready);
        QVERIFY(writeFile(dir.filePath("1234.tsv"), exportText));
        QPdfWriter other(dir.filePath("other.pdf"));
        other.setCreator("Another program");
        QPainter(&other).drawText(100, 100, "Campaign report");
        const QStringList archive = {"--archive", dir.filePath("archive.sqlite")};
        QCOMPARE(run(VANTOREL_CLI, QStringList{"report", "1234.tsv", "-o", "unknown.pdf", "--limit", "1=0:8", "--no-archive"}, dir.path()).exitCode, 0);
        QCOMPARE(run(VANTOREL_CLI, QStringList{"report", "1234.tsv", "-o", "damaged.pdf", "--sign", "--meaning", "review", "--cert",
                                               "john.pem", "--key", "john.key", "--no-archive"}, dir.path()).exitCode, 0);
        QByteArray altered = fileBytes(dir.filePath("damaged.pdf"));
        altered[altered.size() / 4] = char(altered[altered.size() / 4] ^ 1);
        QVERIFY(writeFile(dir.filePath("altered.pdf"), altered));
        QVERIFY(QFile::resize(dir.filePath("damaged.pdf"), altered.size() / 2));
        // The archive knows another report: an unknown one is not taken for it.
        QCOMPARE(run(VANTOREL_CLI, QStringList{"report", "1234.tsv", "-o", "known.pdf"} + archive, dir.path()).exitCode, 0);

        const Run r = run(VANTOREL_CLI, args + archive, dir.path());
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QVERIFY(!QFile::exists(dir.filePath("out.pdf")));
        QVERIFY(signedEvents(dir.filePath("archive.sqlite")).isEmpty());
    }
};

QTEST_MAIN(TestSignedReport)
#include "tst_signedreport.moc"
