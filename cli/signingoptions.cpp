#include "signingoptions.h"

#include "account.h"
#include "cli.h"
#include "clock.h"
#include "session.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <iostream>
#include <string>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace Cli {

namespace {

// Echo of the terminal's input off (or on again); false when standard input is no console.
bool setEcho(bool on)
{
#ifdef Q_OS_WIN
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode))
        return false;
    return SetConsoleMode(input, on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~DWORD(ENABLE_ECHO_INPUT))) != 0;
#else
    termios settings {};
    if (tcgetattr(STDIN_FILENO, &settings) != 0)
        return false;
    if (on)
        settings.c_lflag |= ECHO;
    else
        settings.c_lflag &= ~tcflag_t(ECHO);
    return tcsetattr(STDIN_FILENO, TCSAFLUSH, &settings) == 0;
#endif
}

// Asked on the terminal, without echo; nothing when standard input is no terminal.
std::optional<QByteArray> askPassphrase()
{
    if (!isTerminal(0) || !setEcho(false))
        return std::nullopt;
    std::fputs("Passphrase of the signing key: ", stderr);
    std::fflush(stderr);
    std::string line;
    const bool read = bool(std::getline(std::cin, line));
    setEcho(true);
    std::fputs("\n", stderr);
    if (!read)
        return std::nullopt;
    return QByteArray::fromStdString(line);
}

// The first line of the file, without its line end.
int passphraseFromFile(const QString &path, QByteArray &passphrase)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(FileError, QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
    passphrase = file.readLine();
    while (passphrase.endsWith('\n') || passphrase.endsWith('\r'))
        passphrase.chop(1);
    return Success;
}

int readable(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return fail(FileError, QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString()));
    return Success;
}

} // namespace

QList<QCommandLineOption> signingOptions()
{
    return {QCommandLineOption(QStringLiteral("meaning"),
                               QStringLiteral("What the signature means: ") + Signing::meaningNames().join(QStringLiteral(", "))
                                   + QLatin1Char('.'),
                               QStringLiteral("MEANING")),
            QCommandLineOption(QStringLiteral("reason"), QStringLiteral("The reason shown with the signature."),
                               QStringLiteral("TEXT")),
            QCommandLineOption(QStringLiteral("cert"), QStringLiteral("The signer's certificate (PEM)."),
                               QStringLiteral("CERT.pem")),
            QCommandLineOption(QStringLiteral("key"), QStringLiteral("The certificate's private key (PEM)."),
                               QStringLiteral("KEY.pem")),
            QCommandLineOption(QStringLiteral("pkcs12"),
                               QStringLiteral("The certificate and key in one PKCS#12 file, in place of --cert and --key."),
                               QStringLiteral("FILE.p12")),
            QCommandLineOption(QStringLiteral("passphrase-file"),
                               QStringLiteral("Read the key's passphrase from the first line of FILE (default: asked on "
                                              "the terminal, without echo)."),
                               QStringLiteral("FILE"))};
}

int signingRequest(const QCommandLineParser &args, Signing::SignatureRequest &request,
                   std::unique_ptr<Signing::Credentials> &credentials)
{
    const std::optional<Signing::Meaning> meaning = Signing::meaningFromName(args.value(QStringLiteral("meaning")));
    if (!meaning)
        return fail(Usage, QStringLiteral("a signature needs --meaning ") + Signing::meaningNames().join(QLatin1Char('|')));
    const bool pem = args.isSet(QStringLiteral("cert")) && args.isSet(QStringLiteral("key"));
    const bool pkcs12 = args.isSet(QStringLiteral("pkcs12"));
    if (pem == pkcs12 || (pkcs12 && (args.isSet(QStringLiteral("cert")) || args.isSet(QStringLiteral("key")))))
        return fail(Usage, QStringLiteral("a signature needs --cert CERT.pem --key KEY.pem, or --pkcs12 FILE.p12"));
    const QStringList files = pem ? QStringList{args.value(QStringLiteral("cert")), args.value(QStringLiteral("key"))}
                                  : QStringList{args.value(QStringLiteral("pkcs12"))};
    for (const QString &file : files) {
        if (int code = readable(file))
            return code;
    }
    Signing::PassphraseSource passphrase = askPassphrase;
    QByteArray fromFile;
    if (args.isSet(QStringLiteral("passphrase-file"))) {
        if (int code = passphraseFromFile(args.value(QStringLiteral("passphrase-file")), fromFile))
            return code;
        passphrase = [fromFile] { return std::optional<QByteArray>(fromFile); };
    }
    QString error;
    credentials = pem ? Signing::Credentials::fromPem(files[0], files[1], passphrase, &error)
                      : Signing::Credentials::fromPkcs12(files[0], passphrase, &error);
    if (!credentials)
        return fail(Failure, error);
    request.meaning = *meaning;
    request.reason = args.value(QStringLiteral("reason"));
    request.account = accountName();
    request.at = Clock::now().toLocalTime();
    return Success;
}

} // namespace Cli
