#include "credentials.h"

#include "clock.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

namespace Signing {

namespace {

bool readFile(const QString &path, QByteArray &bytes, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        return false;
    }
    bytes = file.readAll();
    return true;
}

struct BioDeleter {
    void operator()(BIO *bio) const { BIO_free(bio); }
};
using Bio = std::unique_ptr<BIO, BioDeleter>;

Bio memoryBio(const QByteArray &bytes)
{
    return Bio(BIO_new_mem_buf(bytes.constData(), int(bytes.size())));
}

// OpenSSL asks through this when the key is encrypted; the source is asked once.
struct PassphraseRequest {
    const PassphraseSource *source;
    bool asked = false;
    bool given = false;
};

int passphraseCallback(char *buffer, int size, int, void *data)
{
    auto *request = static_cast<PassphraseRequest *>(data);
    request->asked = true;
    const std::optional<QByteArray> passphrase = (*request->source)();
    if (!passphrase)
        return -1;
    request->given = true;
    const int length = std::min(size, int(passphrase->size()));
    std::copy_n(passphrase->constData(), length, buffer);
    return length;
}

QString unopenedKey(const QString &path, const PassphraseRequest &request)
{
    ERR_clear_error();
    if (request.asked && !request.given)
        return QStringLiteral("%1: the key is protected and no passphrase was given").arg(path);
    if (request.asked)
        return QStringLiteral("%1: the passphrase does not open the key").arg(path);
    return QStringLiteral("%1: holds no private key in PEM form").arg(path);
}

} // namespace

std::unique_ptr<Credentials> Credentials::checked(X509 *certificate, EVP_PKEY *key, const QString &name, QString *error)
{
    std::unique_ptr<Credentials> credentials(new Credentials(certificate, key));
    if (X509_check_private_key(certificate, key) != 1) {
        ERR_clear_error();
        *error = QStringLiteral("%1: the key does not belong to the certificate").arg(name);
        return nullptr;
    }
    time_t now = time_t(Clock::now().toSecsSinceEpoch());
    if (X509_cmp_time(X509_get0_notBefore(certificate), &now) > 0) {
        *error = QStringLiteral("%1: the certificate is not yet valid").arg(name);
        return nullptr;
    }
    if (X509_cmp_time(X509_get0_notAfter(certificate), &now) < 0) {
        *error = QStringLiteral("%1: the certificate has expired").arg(name);
        return nullptr;
    }
    return credentials;
}

std::unique_ptr<Credentials> Credentials::fromPem(const QString &certificatePath, const QString &keyPath,
                                                  const PassphraseSource &passphrase, QString *error)
{
    QByteArray certificateText, keyText;
    if (!readFile(certificatePath, certificateText, error) || !readFile(keyPath, keyText, error))
        return nullptr;
    X509 *certificate = PEM_read_bio_X509(memoryBio(certificateText).get(), nullptr, nullptr, nullptr);
    if (!certificate) {
        ERR_clear_error();
        *error = QStringLiteral("%1: holds no certificate in PEM form").arg(certificatePath);
        return nullptr;
    }
    PassphraseRequest request{&passphrase};
    EVP_PKEY *key = PEM_read_bio_PrivateKey(memoryBio(keyText).get(), nullptr, passphraseCallback, &request);
    if (!key) {
        X509_free(certificate);
        *error = unopenedKey(keyPath, request);
        return nullptr;
    }
    return checked(certificate, key, certificatePath, error);
}

std::unique_ptr<Credentials> Credentials::fromPkcs12(const QString &path, const PassphraseSource &passphrase,
                                                     QString *error)
{
    QByteArray bytes;
    if (!readFile(path, bytes, error))
        return nullptr;
    PKCS12 *p12 = d2i_PKCS12_bio(memoryBio(bytes).get(), nullptr);
    if (!p12) {
        ERR_clear_error();
        *error = QStringLiteral("%1: is not a PKCS#12 file").arg(path);
        return nullptr;
    }
    // A file without a passphrase opens with an empty one; otherwise the passphrase is asked.
    QByteArray secret;
    if (!PKCS12_verify_mac(p12, "", 0) && !PKCS12_verify_mac(p12, nullptr, 0)) {
        const std::optional<QByteArray> given = passphrase();
        if (!given) {
            PKCS12_free(p12);
            *error = QStringLiteral("%1: the file is protected and no passphrase was given").arg(path);
            return nullptr;
        }
        secret = *given;
    }
    X509 *certificate = nullptr;
    EVP_PKEY *key = nullptr;
    const bool parsed = PKCS12_parse(p12, secret.constData(), &key, &certificate, nullptr) == 1;
    PKCS12_free(p12);
    ERR_clear_error();
    if (!parsed || !certificate || !key) {
        X509_free(certificate);
        EVP_PKEY_free(key);
        *error = QStringLiteral("%1: the passphrase does not open the file").arg(path);
        return nullptr;
    }
    return checked(certificate, key, path, error);
}

Credentials::~Credentials()
{
    X509_free(cert);
    EVP_PKEY_free(pkey);
}

QString Credentials::commonName() const
{
    return certificateName(cert);
}

QString Credentials::fingerprint() const
{
    return certificateFingerprint(cert);
}

QString certificateName(X509 *certificate)
{
    X509_NAME *subject = X509_get_subject_name(certificate);
    const int index = X509_NAME_get_index_by_NID(subject, NID_commonName, -1);
    if (index < 0)
        return QString();
    unsigned char *text = nullptr;
    const int length = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index)));
    if (length < 0)
        return QString();
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(text), length);
    OPENSSL_free(text);
    return name;
}

QString certificateFingerprint(X509 *certificate)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1)
        return QString();
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

} // namespace Signing
