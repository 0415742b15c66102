#ifndef VANTOREL_CLI_SESSION_H
#define VANTOREL_CLI_SESSION_H

// What the commands share: the options, messages and data output, the port and the
// wake-up that open every talk with a logger, interruption, and the JSON texts.

#include "livereadings.h"
#include "loggerstatus.h"
#include "manageserialport.h"

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace Cli {

QCommandLineOption portOption();
QCommandLineOption jsonOption();
QStringList periodNames();                    // "1s" ... "1h", in the new-campaign list's order

// Messages go to standard error, prefixed with the tool's name; data to standard output.
void message(const QString &text);
int fail(int exitCode, const QString &text);  // prints `text`, returns `exitCode`
void writeOut(const QByteArray &bytes);
void binaryStandardOutput();                  // files sent to standard output keep their bytes (Windows)

bool isTerminal(int standardStream);          // 0 input, 1 output, 2 error

// Ctrl-C and SIGTERM set a flag that long operations look at between requests.
void installInterruptHandlers();
bool interrupted();

// The port of --port, else COM/COM_PORT of config.ini in the working directory, opened
// with the logger's line settings, then the logger woken and its status read.
class Session
{
public:
    // Success, or the exit status after a message.
    int open(const QCommandLineParser &args);
    int readStatus(LoggerStatus &status);     // wake-ups, then identity and status
    int begin(const QCommandLineParser &args, LoggerStatus &status);  // open, then readStatus
    ManageSerialPort &port() { return manager; }
    QString portName() const { return name; }

private:
    ManageSerialPort manager;
    QString name;
};

// The logger's own clock reading, ISO 8601 without a zone (it keeps no zone); null when unknown.
QJsonValue loggerTimeJson(const QDateTime &time);
QJsonObject liveJson(const QList<LiveValue> &values);
QJsonValue textOrNull(const QString &text);
void writeJson(const QJsonObject &object);      // one compact line on standard output

} // namespace Cli

#endif
