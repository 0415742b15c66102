#ifndef VANTOREL_SIGNINGOPTIONS_H
#define VANTOREL_SIGNINGOPTIONS_H

// The signer's options, shared by report --sign and sign: the meaning and reason, the
// certificate and key (or PKCS#12 file), and the passphrase from a file or the terminal.

#include "credentials.h"
#include "pdfsigning.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>

#include <memory>

namespace Cli {

QList<QCommandLineOption> signingOptions();

// The request (meaning, reason, account, now) and the opened credentials. Success, or the
// exit status after a message: usage for a missing or unknown option value, a file error
// for an unreadable file, a failure when the credentials are refused.
int signingRequest(const QCommandLineParser &args, Signing::SignatureRequest &request,
                   std::unique_ptr<Signing::Credentials> &credentials);

} // namespace Cli

#endif
