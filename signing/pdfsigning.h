#ifndef VANTOREL_PDFSIGNING_H
#define VANTOREL_PDFSIGNING_H

// Signatures on this program's PDF reports. Each is added as an incremental update, so that
// every earlier one stays valid: a signature field whose appearance is the signature's
// visible block, and a detached CMS signature (SHA-256, signing time, the certificate
// embedded) over the whole file but its own contents.

#include <QByteArray>
#include <QDateTime>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace Signing {

class Credentials;

// What a signature means (21 CFR 11.50).
enum class Meaning { Review, Approval, Responsibility, Authorship };
QStringList meaningNames();                           // "review", "approval", ...
QString meaningName(Meaning meaning);
std::optional<Meaning> meaningFromName(const QString &name);

struct SignatureRequest {
    Meaning meaning = Meaning::Review;
    QString reason;       // may be empty
    QString account;      // the login on this computer that signs
    QDateTime at;         // local time, shown with its UTC offset
};

// "2026-12-07 16:40:12 UTC+01:00"
QString timeWithOffset(const QDateTime &time);
// The lines of a visible block: printed name, account, time with offset, meaning, reason.
QStringList blockLines(const QString &printedName, const SignatureRequest &request);

// The blocks' place on the report's last page (A4), in millimetres from its top left:
// the area the report leaves free, with a heading, and the block of the n-th signature.
constexpr int SIGNATURE_SLOTS = 4;
QRectF signatureArea();
QRectF signatureSlot(int index);

// Adds a signature to `pdf`, one of this program's reports. The signed file, or empty with
// `error` when it is no PDF, no report of this program, has no free slot left, or the
// signing fails.
QByteArray signReport(const QByteArray &pdf, const Credentials &credentials, const SignatureRequest &request,
                      QString *error);

// One signature as found in a PDF and checked against the bytes it covers.
struct SignatureCheck {
    QString signer;            // common name of the embedded certificate
    QString fingerprint;       // SHA-256 of that certificate, hex
    QDateTime signingTime;     // the CMS signing time, UTC; invalid when absent
    qint64 coveredLength = 0;  // the file up to the end of its revision
    bool wholeFile = false;    // nothing appended after it
    bool valid = false;        // the digest and the signature hold
    QString problem;           // why not valid
};

// Every signature of `pdf`, in signing order. False with `error` when it cannot be read as
// a PDF; a damaged signature is a SignatureCheck with its problem.
bool checkSignatures(const QByteArray &pdf, std::vector<SignatureCheck> &checks, QString *error);

} // namespace Signing

#endif
