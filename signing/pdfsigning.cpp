#include "pdfsigning.h"

#include "credentials.h"

#include <podofo/podofo.h>

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

namespace Signing {

namespace {

using namespace PoDoFo;

// Room for the CMS signature at the first try: the certificate and the signed attributes fit
// many times over. The second try reserves what the first one needed, so that no padding is
// left that a changed byte could hide in.
constexpr size_t SIGNATURE_BYTES = 16384;
constexpr double POINTS_PER_MM = 72.0 / 25.4;
constexpr double FONT_SIZE = 7.0;
// A reason longer than this is cut in the block (the signature dictionary keeps it whole).
constexpr int LINE_CHARACTERS = 64;

// PoDoFo tells its parser's findings on standard error; the caller says what matters.
void quiet()
{
    PdfError::EnableDebug(false);
    PdfError::EnableLogging(false);
}

QString utf8(const PdfString &text)
{
    return text.IsValid() ? QString::fromStdString(text.GetStringUtf8()) : QString();
}

PdfString pdfText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return PdfString(reinterpret_cast<const pdf_utf8 *>(bytes.constData()));
}

// This program writes its reports with this creator and title.
bool isReport(const PdfMemDocument &document)
{
    const PdfInfo *info = document.GetInfo();
    return info && utf8(info->GetCreator()) == QLatin1String("VanTorel")
           && utf8(info->GetTitle()).startsWith(QLatin1String("Campaign report"));
}

// The signature fields of the form, with their value (the signature dictionary) when signed.
std::vector<PdfObject *> signatureFields(PdfMemDocument &document)
{
    std::vector<PdfObject *> fields;
    PdfAcroForm *form = document.GetAcroForm(false);
    PdfObject *list = form ? form->GetObject()->GetIndirectKey(PdfName("Fields")) : nullptr;
    if (!list || !list->IsArray())
        return fields;
    for (const PdfObject &entry : list->GetArray()) {
        PdfObject *field = entry.IsReference() ? document.GetObjects().GetObject(entry.GetReference()) : nullptr;
        if (!field || !field->IsDictionary())
            continue;
        const PdfObject *type = field->GetIndirectKey(PdfName("FT"));
        if (type && type->IsName() && type->GetName() == PdfName("Sig"))
            fields.push_back(field);
    }
    return fields;
}

PdfRect pdfRect(const PdfPage &page, const QRectF &millimetres)
{
    const double height = page.GetPageSize().GetHeight();
    return PdfRect(millimetres.left() * POINTS_PER_MM, height - millimetres.bottom() * POINTS_PER_MM,
                   millimetres.width() * POINTS_PER_MM, millimetres.height() * POINTS_PER_MM);
}

// The visible block as the field's appearance: a frame and the lines, top down.
void paintBlock(PdfMemDocument &document, PdfXObject &appearance, const PdfRect &size, const QStringList &lines)
{
    PdfFont *font = document.CreateFont("Helvetica");
    if (!font)
        PODOFO_RAISE_ERROR_INFO(ePdfError_InvalidHandle, "no Helvetica font");
    font->SetFontSize(FONT_SIZE);
    PdfPainter painter;
    painter.SetPage(&appearance);
    painter.SetStrokeWidth(0.5);
    painter.Rectangle(0.5, 0.5, size.GetWidth() - 1, size.GetHeight() - 1);
    painter.Stroke();
    painter.SetFont(font);
    const double line = font->GetFontMetrics()->GetLineSpacing();
    double y = size.GetHeight() - 3 - line;
    for (const QString &text : lines) {
        painter.DrawText(4, y, pdfText(text));
        y -= line;
    }
    painter.FinishPage();
}

struct CmsDeleter {
    void operator()(CMS_ContentInfo *cms) const { CMS_ContentInfo_free(cms); }
};
struct BioDeleter {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Cms = std::unique_ptr<CMS_ContentInfo, CmsDeleter>;
using Bio = std::unique_ptr<BIO, BioDeleter>;

// The detached CMS signature (DER) of `data`; empty when OpenSSL refuses.
QByteArray cmsSignature(const QByteArray &data, const Credentials &credentials)
{
    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    Cms cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags | CMS_PARTIAL));
    Bio input(BIO_new_mem_buf(data.constData(), int(data.size())));
    Bio output(BIO_new(BIO_s_mem()));
    if (!cms || !input || !output
        || !CMS_add1_signer(cms.get(), credentials.certificate(), credentials.key(), EVP_sha256(), flags)
        || CMS_final(cms.get(), input.get(), nullptr, flags) != 1 || i2d_CMS_bio(output.get(), cms.get()) != 1) {
        ERR_clear_error();
        return QByteArray();
    }
    char *bytes = nullptr;
    const long length = BIO_get_mem_data(output.get(), &bytes);
    return QByteArray(bytes, int(length));
}

// Writes the loaded file and the document's update after it, then fills the signature in: a
// CMS signature of `reserved` bytes at most (`needed`: its size).
QByteArray writeSigned(PdfMemDocument &document, PdfSignatureField &field, const Credentials &credentials,
                       size_t reserved, size_t *needed, QString *error)
{
    PdfRefCountedBuffer buffer;
    PdfOutputDevice device(&buffer);
    PdfSignOutputDevice signer(&device);
    signer.SetSignatureSize(reserved);
    field.SetSignature(*signer.GetSignatureBeacon());
    document.WriteUpdate(&signer, true);
    if (!signer.HasSignaturePosition()) {
        *error = QStringLiteral("the signature's place was not found in the written PDF");
        return QByteArray();
    }
    signer.AdjustByteRange();
    signer.Seek(0);
    QByteArray covered;
    char chunk[65536];
    while (const size_t length = signer.ReadForSignature(chunk, sizeof chunk))
        covered.append(chunk, qsizetype(length));
    const QByteArray signature = cmsSignature(covered, credentials);
    *needed = size_t(signature.size());
    if (signature.isEmpty() || *needed > reserved) {
        *error = QStringLiteral("OpenSSL could not make the CMS signature");
        return QByteArray();
    }
    signer.SetSignature(PdfData(signature.constData(), size_t(signature.size())));
    signer.Flush();
    return QByteArray(buffer.GetBuffer(), qsizetype(device.GetLength()));
}

// PoDoFo's own words for what it could not read.
QString pdfError(const PdfError &e)
{
    const QString where = e.GetCallstack().empty() ? QString() : QString::fromStdString(e.GetCallstack().front().GetInformation());
    return where.isEmpty() ? QString::fromLatin1(PdfError::ErrorName(e.GetError())) : where;
}

// The signature dictionary's byte range and contents checked against the file and verified.
void verifyValue(const QByteArray &pdf, PdfObject &value, SignatureCheck &check)
{
    const PdfObject *range = value.GetIndirectKey(PdfName("ByteRange"));
    const PdfObject *contents = value.GetIndirectKey(PdfName("Contents"));
    if (!range || !range->IsArray() || range->GetArray().size() != 4 || !contents || !contents->IsHexString()) {
        check.problem = QStringLiteral("no byte range or contents");
        return;
    }
    qint64 r[4];
    for (int i = 0; i < 4; ++i)
        r[i] = range->GetArray()[size_t(i)].IsNumber() ? qint64(range->GetArray()[size_t(i)].GetNumber()) : -1;
    if (r[0] != 0 || r[1] <= 0 || r[2] <= r[1] || r[3] < 0 || r[2] + r[3] > pdf.size() || pdf.at(r[1]) != '<'
        || pdf.at(r[2] - 1) != '>') {
        check.problem = QStringLiteral("its byte range does not fit the file");
        return;
    }
    check.coveredLength = r[2] + r[3];
    check.wholeFile = check.coveredLength == pdf.size();
    const QByteArray der = QByteArray::fromHex(pdf.mid(r[1] + 1, r[2] - r[1] - 2));
    const auto *derBytes = reinterpret_cast<const unsigned char *>(der.constData());
    Cms cms(d2i_CMS_ContentInfo(nullptr, &derBytes, long(der.size())));
    const QByteArray signedBytes = pdf.left(r[1]) + pdf.mid(r[2], r[3]);
    Bio data(BIO_new_mem_buf(signedBytes.constData(), int(signedBytes.size())));
    // The signer's certificate is shown and recorded; trusting it is the archive's record, not a CA's.
    check.valid = cms && data
                  && CMS_verify(cms.get(), nullptr, nullptr, data.get(), nullptr,
                                CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1;
    if (cms) {
        STACK_OF(X509) *signers = CMS_get0_signers(cms.get());
        if (signers && sk_X509_num(signers) > 0) {
            check.signer = certificateName(sk_X509_value(signers, 0));
            check.fingerprint = certificateFingerprint(sk_X509_value(signers, 0));
        }
        sk_X509_free(signers);
        STACK_OF(CMS_SignerInfo) *infos = CMS_get0_SignerInfos(cms.get());
        CMS_SignerInfo *info = infos && sk_CMS_SignerInfo_num(infos) > 0 ? sk_CMS_SignerInfo_value(infos, 0) : nullptr;
        const int at = info ? CMS_signed_get_attr_by_NID(info, NID_pkcs9_signingTime, -1) : -1;
        const ASN1_TYPE *time = at >= 0 ? X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(info, at), 0) : nullptr;
        struct tm parts {};
        if (time && (time->type == V_ASN1_UTCTIME || time->type == V_ASN1_GENERALIZEDTIME)
            && ASN1_TIME_to_tm(time->value.utctime, &parts) == 1)
            check.signingTime = QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                                          QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
    }
    if (!check.valid)
        check.problem = cms ? QStringLiteral("the signature does not match the bytes it covers")
                            : QStringLiteral("its contents are no CMS signature");
    ERR_clear_error();
}

} // namespace

QStringList meaningNames()
{
    return {QStringLiteral("review"), QStringLiteral("approval"), QStringLiteral("responsibility"),
            QStringLiteral("authorship")};
}

QString meaningName(Meaning meaning)
{
    return meaningNames().value(int(meaning));
}

std::optional<Meaning> meaningFromName(const QString &name)
{
    const int index = int(meaningNames().indexOf(name));
    if (index < 0)
        return std::nullopt;
    return Meaning(index);
}

QString timeWithOffset(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
           + QString::asprintf(" UTC%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

QStringList blockLines(const QString &printedName, const SignatureRequest &request)
{
    QString reason = request.reason.simplified();
    if (reason.size() > LINE_CHARACTERS)
        reason = reason.left(LINE_CHARACTERS - 3) + QStringLiteral("...");
    return {QStringLiteral("Signed by: ") + printedName, QStringLiteral("Account: ") + request.account,
            QStringLiteral("Date: ") + timeWithOffset(request.at),
            QStringLiteral("Meaning: ") + meaningName(request.meaning),
            QStringLiteral("Reason: ") + (reason.isEmpty() ? QStringLiteral("-") : reason)};
}

QRectF signatureArea()
{
    return QRectF(15, 230, 180, 52);
}

QRectF signatureSlot(int index)
{
    const QRectF area = signatureArea();
    return QRectF(area.left() + (index % 2) * 92, area.top() + 7 + (index / 2) * 23, 88, 21);
}

namespace {

QByteArray signOnce(const QByteArray &pdf, const Credentials &credentials, const SignatureRequest &request,
                    size_t reserved, size_t *needed, QString *error)
{
    try {
        PdfMemDocument document;
        document.LoadFromBuffer(pdf.constData(), long(pdf.size()), true);
        if (!isReport(document) || document.GetPageCount() < 1) {
            *error = QStringLiteral("it is not a report of this program");
            return QByteArray();
        }
        const int index = int(signatureFields(document).size());
        if (index >= SIGNATURE_SLOTS) {
            *error = QStringLiteral("it holds %1 signatures already, the most a report has room for").arg(index);
            return QByteArray();
        }
        PdfPage *page = document.GetPage(document.GetPageCount() - 1);
        const PdfRect rect = pdfRect(*page, signatureSlot(index));
        PdfAnnotation *annotation = page->CreateAnnotation(ePdfAnnotation_Widget, rect);
        annotation->SetFlags(ePdfAnnotationFlags_Print);
        PdfAcroForm *form = document.GetAcroForm();
        form->GetObject()->GetDictionary().AddKey(PdfName("SigFlags"), PdfObject(pdf_int64(3)));
        form->SetNeedAppearances(false);
        PdfSignatureField field(annotation, form, &document);
        const PdfRect size(0, 0, rect.GetWidth(), rect.GetHeight());
        PdfXObject appearance(size, &document);
        paintBlock(document, appearance, size, blockLines(credentials.commonName(), request));
        field.SetAppearanceStream(&appearance);
        field.SetFieldName(PdfString(QStringLiteral("Signature%1").arg(index + 1).toLatin1().constData()));
        const QString reason = meaningName(request.meaning) + (request.reason.isEmpty() ? QString() : QStringLiteral(": ") + request.reason);
        field.SetSignatureReason(pdfText(reason));
        field.SetSignatureDate(PdfDate(time_t(request.at.toSecsSinceEpoch())));
        field.GetSignatureObject()->GetDictionary().AddKey(PdfName("Name"), pdfText(credentials.commonName()));
        return writeSigned(document, field, credentials, reserved, needed, error);
    } catch (const PdfError &e) {
        *error = QStringLiteral("it is not a PDF that can be read (%1)").arg(pdfError(e));
        return QByteArray();
    }
}

} // namespace

QByteArray signReport(const QByteArray &pdf, const Credentials &credentials, const SignatureRequest &request,
                      QString *error)
{
    quiet();
    size_t needed = 0;
    const QByteArray padded = signOnce(pdf, credentials, request, SIGNATURE_BYTES, &needed, error);
    if (padded.isEmpty())
        return padded;
    // An ECDSA signature may come out a byte longer the second time: the padded one stays then.
    QString ignored;
    const QByteArray exact = signOnce(pdf, credentials, request, needed, &needed, &ignored);
    return exact.isEmpty() ? padded : exact;
}

bool checkSignatures(const QByteArray &pdf, std::vector<SignatureCheck> &checks, QString *error)
{
    checks.clear();
    quiet();
    try {
        PdfMemDocument document;
        document.LoadFromBuffer(pdf.constData(), long(pdf.size()));
        for (PdfObject *field : signatureFields(document)) {
            SignatureCheck check;
            PdfObject *value = field->GetIndirectKey(PdfName("V"));
            if (value && value->IsDictionary())
                verifyValue(pdf, *value, check);
            else
                check.problem = QStringLiteral("the field holds no signature");
            checks.push_back(check);
        }
    } catch (const PdfError &e) {
        *error = QStringLiteral("it is not a PDF that can be read (%1)").arg(pdfError(e));
        return false;
    }
    std::stable_sort(checks.begin(), checks.end(),
                     [](const SignatureCheck &a, const SignatureCheck &b) { return a.coveredLength < b.coveredLength; });
    return true;
}

} // namespace Signing
