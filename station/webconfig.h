#ifndef VANTOREL_WEBCONFIG_H
#define VANTOREL_WEBCONFIG_H

// HTTPS and basic authentication of the station's HTTP side, from a file in the format
// Prometheus exporters read (`tls_server_config` with `cert_file` and `key_file`,
// `basic_auth_users` with bcrypt hashes).

#include <QByteArray>
#include <QMap>
#include <QSslConfiguration>
#include <QString>

namespace Station {

struct WebConfig {
    bool tls = false;
    QSslConfiguration tlsConfiguration;
    QMap<QString, QByteArray> users;    // user name -> bcrypt hash; empty: no authentication
};

enum class WebConfigError { None, Content, Unreadable };

// Reads `path` into `config`. On failure `error` names the file (and the key at fault):
// Unreadable when the file, or a certificate or key it names, cannot be read.
WebConfigError loadWebConfig(const QString &path, WebConfig *config, QString *error);

// True when `password` is the one `hash` (bcrypt) was made from; the hash is compared in
// constant time.
bool passwordMatches(const QByteArray &password, const QByteArray &hash);

} // namespace Station

#endif
