#include "webconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

#include <yaml-cpp/yaml.h>

#if __has_include(<crypt.h>)
#include <crypt.h>
#define VANTOREL_HAVE_CRYPT 1
constexpr bool HAVE_BCRYPT = true;
#else
constexpr bool HAVE_BCRYPT = false;
#endif

#include <memory>

namespace Station {

namespace {

#ifdef VANTOREL_HAVE_CRYPT
// libxcrypt's bcrypt of `password` with the salt and cost of `hash`; null when `hash` is none.
const char *bcrypt(const QByteArray &password, const QByteArray &hash, crypt_data *data)
{
    return crypt_rn(password.constData(), hash.constData(), data, int(sizeof(crypt_data)));
}
#endif

bool isBcryptHash(const QByteArray &hash)
{
#ifdef VANTOREL_HAVE_CRYPT
    auto data = std::make_unique<crypt_data>();
    return hash.size() == 60 && hash.startsWith("$2") && bcrypt(QByteArray(), hash, data.get());
#else
    Q_UNUSED(hash)
    return false;  // without libxcrypt no password can be checked
#endif
}

struct Reader {
    QString file;
    QString *error;

    WebConfigError fail(const QString &text, WebConfigError kind = WebConfigError::Content) const
    {
        *error = file + QStringLiteral(": ") + text;
        return kind;
    }
};

QString text(const YAML::Node &node)
{
    return QString::fromStdString(node.as<std::string>());
}

// The keys of a mapping, each one of `known`; `where` names the mapping in messages.
WebConfigError checkKeys(const Reader &r, const YAML::Node &map, const QString &where, const QStringList &known)
{
    if (!map.IsMap())
        return r.fail(QStringLiteral("%1 must be a mapping of keys").arg(where.isEmpty() ? QStringLiteral("the file") : where));
    for (const auto &entry : map) {
        const QString key = text(entry.first);
        const QString path = where.isEmpty() ? key : where + QLatin1Char('.') + key;
        if (!known.contains(key))
            return r.fail(QStringLiteral("unknown or unsupported key %1 (known here: %2)").arg(path, known.join(QStringLiteral(", "))));
    }
    return WebConfigError::None;
}

WebConfigError readFile(const Reader &r, const QString &path, const QString &key, QByteArray *data)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return r.fail(QStringLiteral("%1: cannot read %2: %3").arg(key, path, file.errorString()), WebConfigError::Unreadable);
    *data = file.readAll();
    return WebConfigError::None;
}

WebConfigError readTls(const Reader &r, const YAML::Node &node, WebConfig *config)
{
    if (WebConfigError e = checkKeys(r, node, QStringLiteral("tls_server_config"), {QStringLiteral("cert_file"), QStringLiteral("key_file")});
        e != WebConfigError::None)
        return e;
    if (!node["cert_file"] || !node["key_file"] || !node["cert_file"].IsScalar() || !node["key_file"].IsScalar())
        return r.fail(QStringLiteral("tls_server_config needs both cert_file and key_file, each a file name"));
    if (!QSslSocket::supportsSsl())
        return r.fail(QStringLiteral("tls_server_config: this system offers no TLS"));
    // As the exporters do, a relative name is taken from the file's own directory.
    const QDir base = QFileInfo(r.file).absoluteDir();
    QByteArray certData, keyData;
    if (WebConfigError e = readFile(r, base.filePath(text(node["cert_file"])), QStringLiteral("tls_server_config.cert_file"), &certData);
        e != WebConfigError::None)
        return e;
    if (WebConfigError e = readFile(r, base.filePath(text(node["key_file"])), QStringLiteral("tls_server_config.key_file"), &keyData);
        e != WebConfigError::None)
        return e;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certData, QSsl::Pem);
    if (chain.isEmpty())
        return r.fail(QStringLiteral("tls_server_config.cert_file: no PEM certificate in %1").arg(text(node["cert_file"])));
    QSslKey key(keyData, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyData, QSsl::Ec, QSsl::Pem);
    if (key.isNull())
        return r.fail(QStringLiteral("tls_server_config.key_file: no unencrypted PEM RSA or EC private key in %1").arg(text(node["key_file"])));
    config->tls = true;
    config->tlsConfiguration = QSslConfiguration::defaultConfiguration();
    config->tlsConfiguration.setLocalCertificateChain(chain);
    config->tlsConfiguration.setPrivateKey(key);
    config->tlsConfiguration.setPeerVerifyMode(QSslSocket::VerifyNone);
    config->tlsConfiguration.setProtocol(QSsl::TlsV1_2OrLater);
    return WebConfigError::None;
}

WebConfigError readUsers(const Reader &r, const YAML::Node &node, WebConfig *config)
{
    if (!node.IsMap())
        return r.fail(QStringLiteral("basic_auth_users must map each user to a bcrypt hash"));
    if (!HAVE_BCRYPT)
        return r.fail(QStringLiteral("basic_auth_users: this build of the program cannot check bcrypt hashes"));
    for (const auto &entry : node) {
        const QString user = text(entry.first);
        const QString where = QStringLiteral("basic_auth_users.") + user;
        if (!entry.second.IsScalar())
            return r.fail(QStringLiteral("%1 takes a bcrypt hash").arg(where));
        const QByteArray hash = text(entry.second).toUtf8();
        if (user.contains(QLatin1Char(':')))
            return r.fail(QStringLiteral("%1: a user name cannot hold a colon").arg(where));
        // A hash that no password can match is a mistake to tell now, not a door locked for good.
        if (!isBcryptHash(hash))
            return r.fail(QStringLiteral("%1: not a bcrypt hash ($2y$, $2b$ or $2a$)").arg(where));
        config->users.insert(user, hash);
    }
    return WebConfigError::None;
}

} // namespace

WebConfigError loadWebConfig(const QString &path, WebConfig *config, QString *error)
{
    const Reader r{path, error};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return r.fail(QStringLiteral("cannot read it: %1").arg(file.errorString()), WebConfigError::Unreadable);
    try {
        const YAML::Node root = YAML::Load(file.readAll().toStdString());
        *config = WebConfig();
        if (root.IsNull())
            return WebConfigError::None;
        if (WebConfigError e = checkKeys(r, root, QString(), {QStringLiteral("tls_server_config"), QStringLiteral("basic_auth_users")});
            e != WebConfigError::None)
            return e;
        if (root["tls_server_config"])
            if (WebConfigError e = readTls(r, root["tls_server_config"], config); e != WebConfigError::None)
                return e;
        if (root["basic_auth_users"])
            return readUsers(r, root["basic_auth_users"], config);
        return WebConfigError::None;
    } catch (const YAML::Exception &e) {
        return r.fail(e.mark.is_null() ? QString::fromStdString(e.msg)
                                       : QStringLiteral("line %1: %2").arg(e.mark.line + 1).arg(QString::fromStdString(e.msg)));
    }
}

bool passwordMatches(const QByteArray &password, const QByteArray &hash)
{
#ifdef VANTOREL_HAVE_CRYPT
    if (password.contains('\0'))
        return false;
    auto data = std::make_unique<crypt_data>();
    const char *made = bcrypt(password, hash, data.get());
    if (!made || qstrlen(made) != size_t(hash.size()))
        return false;
    unsigned char differ = 0;
    for (qsizetype i = 0; i < hash.size(); ++i)
        differ |= static_cast<unsigned char>(made[i] ^ hash[i]);
    return differ == 0;
#else
    Q_UNUSED(password)
    Q_UNUSED(hash)
    return false;
#endif
}

} // namespace Station
