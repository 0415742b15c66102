#include "session.h"

#include "cli.h"

#include "loggerdevice.h"
#include "portaccess.h"
#include "periods.h"
#include "settings.h"
#include "statusdisplay.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <csignal>
#include <cstdio>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace Cli {

namespace {
volatile std::sig_atomic_t interruptFlag = 0;

extern "C" void onInterrupt(int)
{
    interruptFlag = 1;
}
} // namespace

QCommandLineOption portOption()
{
    return QCommandLineOption(QStringLiteral("port"),
                              QStringLiteral("Serial port (default: COM/COM_PORT of config.ini in the working directory)."),
                              QStringLiteral("P"));
}

QCommandLineOption jsonOption()
{
    return QCommandLineOption(QStringLiteral("json"), QStringLiteral("One JSON object per result."));
}

QStringList periodNames()
{
    QStringList names;
    for (int index = 0; index < PERIOD_COUNT; ++index)
        names.append(periodComboText(index));
    return names;
}

void message(const QString &text)
{
    std::fputs(qPrintable(QStringLiteral("vantorel-cli: ") + text + QLatin1Char('\n')), stderr);
    std::fflush(stderr);
}

int fail(int exitCode, const QString &text)
{
    message(text);
    return exitCode;
}

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

void binaryStandardOutput()
{
#ifdef Q_OS_WIN
    _setmode(_fileno(stdout), _O_BINARY);   // CR LF stays CR LF, not CR CR LF
#endif
}

bool isTerminal(int standardStream)
{
#ifdef Q_OS_WIN
    return _isatty(standardStream) != 0;
#else
    return isatty(standardStream) != 0;
#endif
}

void installInterruptHandlers()
{
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
}

bool interrupted()
{
    return interruptFlag != 0;
}

int Session::open(const QCommandLineParser &args)
{
    name = args.value(portOption());
    if (name.isEmpty())
        name = Device::configuredPort();
    if (name.isEmpty())
        return fail(Usage, QStringLiteral("no port: give --port, or set COM/COM_PORT in config.ini of the working directory"));
    if (!Device::openPort(manager, name))
        return fail(Failure, Device::openFailureText(name, manager.errorString()));
    return Success;
}

int Session::begin(const QCommandLineParser &args, LoggerStatus &status)
{
    if (int code = open(args))
        return code;
    return readStatus(status);
}

int Session::readStatus(LoggerStatus &status)
{
    if (!Device::wakeUp(manager))
        return fail(Failure, QStringLiteral("no logger answers on ") + name);
    const Device::StatusOutcome outcome = Device::readStatus(manager, status);
    if (!outcome.complete)
        return fail(Failure, QStringLiteral("the logger on ") + name + QStringLiteral(" answered, but its status could not be read"));
    return interrupted() ? fail(Failure, QStringLiteral("interrupted")) : Success;
}

QJsonValue loggerTimeJson(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))) : QJsonValue();
}

QJsonObject liveJson(const QList<LiveValue> &values)
{
    QJsonObject live;
    for (const LiveValue &v : values) {
        // The number the window shows, so that JSON and screen agree to the last digit.
        const QJsonValue number = v.known ? QJsonValue(fixedText(v.value, v.decimals).toDouble()) : QJsonValue();
        live.insert(QString::fromLatin1(v.name),
                    QJsonObject{{QStringLiteral("value"), number}, {QStringLiteral("unit"), QString::fromUtf8(v.unit)}});
    }
    return live;
}

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

void writeJson(const QJsonObject &object)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace Cli
