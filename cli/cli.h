#ifndef VANTOREL_CLI_H
#define VANTOREL_CLI_H

// The commands of vantorel-cli. Each is one function in the table of commandtable.cpp;
// main parses the tool's arguments, then the command's own, and runs it.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>

namespace Cli {

// Exit status of the tool.
enum Exit { Success = 0, Failure = 1, Usage = 2, FileError = 3 };

struct Command {
    QString name;
    QString summary;                      // one line in the tool's help
    QList<QCommandLineOption> options;    // besides --help
    int (*run)(const QCommandLineParser &args);
    QString arguments = {};               // positional arguments in the help, e.g. "FILE.tsv"; none when empty
    bool needsGui = false;                // draws text (fonts): runs under QGuiApplication, offscreen
    QString argumentsHelp = {};           // what the positional arguments are; the export file when empty
};

const QList<Command> &commands();

int ports(const QCommandLineParser &args);
int status(const QCommandLineParser &args);
int live(const QCommandLineParser &args);
int read(const QCommandLineParser &args);
int start(const QCommandLineParser &args);
int stats(const QCommandLineParser &args);
int report(const QCommandLineParser &args);
int sign(const QCommandLineParser &args);
int verifyReport(const QCommandLineParser &args);
int archive(const QCommandLineParser &args);
int serve(const QCommandLineParser &args);

// The station side of ports and read: every port probed, several loggers read at once.
int probePorts(const QCommandLineParser &args);
bool isStationRead(const QCommandLineParser &args);
int readMany(const QCommandLineParser &args);

} // namespace Cli

#endif
