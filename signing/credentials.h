#ifndef VANTOREL_CREDENTIALS_H
#define VANTOREL_CREDENTIALS_H

// The signer's two components: a certificate with its private key (PEM files or one PKCS#12
// file) and the passphrase that opens the key. Loaded only when the key opens, belongs to the
// certificate and the certificate is valid now.

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

typedef struct x509_st X509;
typedef struct evp_pkey_st EVP_PKEY;

namespace Signing {

// Asked only when the key is protected; nothing when no passphrase can be had.
using PassphraseSource = std::function<std::optional<QByteArray>()>;

class Credentials
{
public:
    // Null with `error` (a message naming the file) when a file cannot be read, the
    // passphrase does not open the key, the key is not the certificate's, or the
    // certificate has expired or is not yet valid.
    static std::unique_ptr<Credentials> fromPem(const QString &certificatePath, const QString &keyPath,
                                                const PassphraseSource &passphrase, QString *error);
    static std::unique_ptr<Credentials> fromPkcs12(const QString &path, const PassphraseSource &passphrase,
                                                   QString *error);
    ~Credentials();

    QString commonName() const;      // the signer's printed name
    QString fingerprint() const;     // SHA-256 of the certificate (DER), lower-case hex
    X509 *certificate() const { return cert; }
    EVP_PKEY *key() const { return pkey; }

private:
    Credentials(X509 *certificate, EVP_PKEY *key) : cert(certificate), pkey(key) {}
    static std::unique_ptr<Credentials> checked(X509 *certificate, EVP_PKEY *key, const QString &name, QString *error);
    X509 *cert;
    EVP_PKEY *pkey;
};

// The certificate's subject common name, its SHA-256 fingerprint (hex).
QString certificateName(X509 *certificate);
QString certificateFingerprint(X509 *certificate);

} // namespace Signing

#endif
