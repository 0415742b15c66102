#include "signedreport.h"

#include "archivedcampaign.h"
#include "outputfile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>

namespace {

const QString SHA256 = QStringLiteral("sha256");

bool writeWhole(const QString &path, const QByteArray &bytes, QString &error)
{
    OutputFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    error = QStringLiteral("cannot write ") + file.errorMessage();
    return false;
}

// The report's origin as an earlier event of it recorded: logger, download, export file.
struct Origin {
    quint32 address = 0;
    QJsonObject details;
};

QJsonObject signedDetails(const QString &path, const QByteArray &pdf, const QJsonObject &origin,
                          const Signing::Credentials &credentials, const Signing::SignatureRequest &request)
{
    std::vector<Signing::SignatureCheck> checks;
    QString ignored;
    Signing::checkSignatures(pdf, checks, &ignored);
    QJsonObject details{{QStringLiteral("file"), QFileInfo(path).absoluteFilePath()},
                        {SHA256, sha256Hex(pdf)},
                        {QStringLiteral("signature"), int(checks.size())},
                        {QStringLiteral("signer"), credentials.commonName()},
                        {QStringLiteral("account"), request.account},
                        {QStringLiteral("certificateSha256"), credentials.fingerprint()},
                        {QStringLiteral("meaning"), Signing::meaningName(request.meaning)},
                        {QStringLiteral("reason"), request.reason},
                        {QStringLiteral("signedAt"), request.at.toOffsetFromUtc(request.at.offsetFromUtc()).toString(Qt::ISODate)}};
    for (const char *key : {"downloadId", "exportFile", "exportSha256"})
        details.insert(QLatin1String(key), origin.value(QLatin1String(key)));
    return details;
}

bool record(const EventRecorder &recorder, quint32 address, const QJsonObject &details, QString &error)
{
    if (recorder(Archive::EventKind::ReportSigned, address, details, error))
        return true;
    error = QStringLiteral("the archive could not record the signature: ") + error;
    return false;
}

// The latest report event whose file had this SHA-256.
bool findOrigin(const Archive::Location &location, const QString &sha256, Origin &origin, QString &error)
{
    const std::unique_ptr<Archive::Store> store = Archive::Store::open(location, &error);
    if (!store)
        return false;
    const QVector<Archive::Event> events = store->events(std::nullopt, &error);
    for (auto e = events.crbegin(); e != events.crend(); ++e) {
        const bool report = e->kind == Archive::EventKind::ReportWritten || e->kind == Archive::EventKind::ReportSigned;
        if (report && e->details.value(SHA256).toString() == sha256) {
            origin = {e->address, e->details};
            return true;
        }
    }
    if (error.isEmpty())
        error = QStringLiteral("the archive %1 knows no report with this file's SHA-256 (written without the archive, "
                               "or changed since)").arg(location.display());
    return false;
}

bool readWhole(const QString &path, QByteArray &bytes, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        return false;
    }
    bytes = file.readAll();
    return true;
}

} // namespace

bool fileSha256(const QString &path, QString &sha256, QString &error)
{
    QByteArray bytes;
    if (!readWhole(path, bytes, error))
        return false;
    sha256 = sha256Hex(bytes);
    return true;
}

SignOutcome writeSignedReport(const EventRecorder &recorder, const QString &path, const ExportData &data,
                              const CampaignStatistics &statistics, const ReportSubject &subject,
                              const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                              QString &error)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!paintPdfReport(buffer, data, statistics, subject, error))
        return SignOutcome::Refused;
    const QByteArray pdf = Signing::signReport(buffer.data(), credentials, request, &error);
    if (pdf.isEmpty())
        return SignOutcome::Refused;
    if (!writeWhole(path, pdf, error))
        return SignOutcome::FileFailed;
    QJsonObject origin = reportDetails(path, data, subject);
    if (!record(recorder, loggerAddress(data), signedDetails(path, pdf, origin, credentials, request), error))
        return SignOutcome::NotRecorded;
    return SignOutcome::Written;
}

SignOutcome writeSignedReport(const Archive::Location &location, const QString &path, const ExportData &data,
                              const CampaignStatistics &statistics, const ReportSubject &subject,
                              const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                              QString &error)
{
    return writeSignedReport(eventRecorder(location), path, data, statistics, subject, credentials, request, error);
}

SignOutcome signReportFile(const Archive::Location &location, const QString &input, const QString &output,
                           const Signing::Credentials &credentials, const Signing::SignatureRequest &request,
                           QString &error)
{
    QByteArray original;
    if (!readWhole(input, original, error))
        return SignOutcome::FileFailed;
    std::vector<Signing::SignatureCheck> checks;
    if (!Signing::checkSignatures(original, checks, &error)) {
        error = input + QStringLiteral(": ") + error;
        return SignOutcome::Refused;
    }
    for (size_t i = 0; i < checks.size(); ++i) {
        if (!checks[i].valid) {
            error = QStringLiteral("%1: signature %2 no longer holds (%3)").arg(input).arg(i + 1).arg(checks[i].problem);
            return SignOutcome::Refused;
        }
    }
    const QByteArray pdf = Signing::signReport(original, credentials, request, &error);
    Origin origin;
    if (pdf.isEmpty() || (location.enabled() && !findOrigin(location, sha256Hex(original), origin, error))) {
        error = input + QStringLiteral(": ") + error;
        return SignOutcome::Refused;
    }
    if (!writeWhole(output, pdf, error))
        return SignOutcome::FileFailed;
    if (!record(eventRecorder(location), origin.address, signedDetails(output, pdf, origin.details, credentials, request), error))
        return SignOutcome::NotRecorded;
    return SignOutcome::Written;
}

bool ReportVerification::ok() const
{
    if (signatures.empty() || !archiveProblem.isEmpty() || !signatures.back().check.wholeFile)
        return false;
    return std::all_of(signatures.begin(), signatures.end(),
                       [](const SignatureRecord &s) { return s.check.valid && s.eventId > 0; });
}

bool verifySignedReport(const Archive::Location &location, const QString &path, ReportVerification &result,
                        QString &error, bool *unreadable)
{
    QByteArray pdf;
    *unreadable = !readWhole(path, pdf, error);
    if (*unreadable)
        return false;
    std::vector<Signing::SignatureCheck> checks;
    if (!Signing::checkSignatures(pdf, checks, &error)) {
        error = path + QStringLiteral(": ") + error;
        return false;
    }
    result = ReportVerification();
    for (const Signing::SignatureCheck &check : checks) {
        SignatureRecord signature;
        signature.check = check;
        result.signatures.push_back(signature);
    }
    if (!location.enabled()) {
        result.archiveProblem = QStringLiteral("the archive is switched off: no signature can be found recorded");
        return true;
    }
    const std::unique_ptr<Archive::Store> store = Archive::Store::open(location, &result.archiveProblem);
    if (!store)
        return true;
    const QVector<Archive::Event> events = store->events(std::nullopt, &result.archiveProblem);
    const Archive::VerifyResult chain = store->verify(&result.archiveProblem);
    if (result.archiveProblem.isEmpty() && !chain.ok)
        result.archiveProblem = QStringLiteral("the archive was altered: ") + chain.firstMismatch;
    for (SignatureRecord &signature : result.signatures) {
        const QString sha256 = sha256Hex(pdf.left(signature.check.coveredLength));
        for (const Archive::Event &e : events) {
            if (e.kind == Archive::EventKind::ReportSigned && e.details.value(SHA256).toString() == sha256
                && e.details.value(QStringLiteral("certificateSha256")).toString() == signature.check.fingerprint) {
                signature.eventId = e.id;
                signature.meaning = e.details.value(QStringLiteral("meaning")).toString();
                signature.account = e.details.value(QStringLiteral("account")).toString();
            }
        }
    }
    return true;
}
