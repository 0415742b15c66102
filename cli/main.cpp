// vantorel-cli: the logger from scripts and terminals. Data go to standard output,
// messages to standard error.

#include "cli.h"
#include "session.h"
#include "version.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

// The usage line names the tool, not the path it was started from.
QString helpOf(const QCommandLineParser &parser, const QString &command = QString())
{
    QString text = parser.helpText();
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    const QString usage = QStringLiteral("Usage: vantorel-cli ") + (command.isEmpty() ? QString() : command + QLatin1Char(' '))
                          + text.mid(text.indexOf(QStringLiteral("[options]"), 0), end - text.indexOf(QStringLiteral("[options]")));
    return usage + text.mid(end);
}

QString toolHelp(const QCommandLineParser &parser)
{
    QString text = helpOf(parser) + QStringLiteral("\nCommands:\n");
    qsizetype width = 0;
    for (const Cli::Command &command : Cli::commands())
        width = std::max(width, command.name.size());
    for (const Cli::Command &command : Cli::commands())
        text += QStringLiteral("  %1%2\n").arg(command.name, -int(width + 2)).arg(command.summary);
    return text + QStringLiteral("\n'vantorel-cli COMMAND --help' describes a command.\n"
                                 "Exit status: 0 success, 1 no logger, line failure, refused programming or archive failure, "
                                 "2 usage, 3 a file could not be read or written.\n");
}

int usage(const QString &error, const QString &help)
{
    std::fputs(qPrintable(QStringLiteral("vantorel-cli: ") + error + QStringLiteral("\n\n") + help), stderr);
    return Cli::Usage;
}

// The command named on the line draws text (the PDF report): it needs the fonts of a
// QGuiApplication, on the offscreen platform so that no display is needed.
bool commandNeedsGui(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-')
            continue;
        for (const Cli::Command &command : Cli::commands()) {
            if (command.name == QLatin1String(argv[i]))
                return command.needsGui;
        }
        return false;
    }
    return false;
}

// Standard error carries the tool's own messages only: Qt's notices (no runtime directory,
// the offscreen platform) would reach whoever reads a cron job's mail each time. The link's
// diagnostics, once QT_LOGGING_RULES asks for them, still show.
void qtMessage(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtDebugMsg || type == QtFatalMsg)
        std::fputs(qPrintable(text + QLatin1Char('\n')), stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(qtMessage);
    const bool gui = commandNeedsGui(argc, argv);
    if (gui)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::unique_ptr<QCoreApplication> application =
        gui ? std::make_unique<QGuiApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantorel-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VANTOREL_VERSION));
    // The link's diagnostics stay out of the way; QT_LOGGING_RULES=default.debug=true shows them.
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    Cli::installInterruptHandlers();

    QCommandLineParser tool;
    tool.setApplicationDescription(QStringLiteral("Reads VanTorel data loggers and starts their campaigns."));
    tool.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption help = tool.addHelpOption();
    const QCommandLineOption version = tool.addVersionOption();
    QStringList names;
    for (const Cli::Command &command : Cli::commands())
        names << command.name;
    const QString last = names.takeLast();
    tool.addPositionalArgument(QStringLiteral("command"), names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last,
                               QStringLiteral("COMMAND [options]"));
    const QStringList arguments = QCoreApplication::arguments();
    if (!tool.parse(arguments))
        return usage(tool.errorText(), toolHelp(tool));
    if (tool.isSet(help) || tool.isSet(version)) {
        std::fputs(qPrintable(tool.isSet(help) ? toolHelp(tool) : QStringLiteral("vantorel-cli " VANTOREL_VERSION "\n")), stdout);
        return Cli::Success;
    }
    const QStringList rest = tool.positionalArguments();
    if (rest.isEmpty())
        return usage(QStringLiteral("no command given"), toolHelp(tool));

    for (const Cli::Command &command : Cli::commands()) {
        if (command.name != rest.first())
            continue;
        QCommandLineParser parser;
        parser.setApplicationDescription(command.summary);
        const QCommandLineOption commandHelp = parser.addHelpOption();
        parser.addOptions(command.options);
        if (!command.arguments.isEmpty())
            parser.addPositionalArgument(command.arguments, command.argumentsHelp.isEmpty() ? QStringLiteral("The export file to read.")
                                                                                            : command.argumentsHelp);
        const QString helpText = helpOf(parser, command.name);
        if (!parser.parse(QStringList{arguments.first()} + rest.mid(1)))
            return usage(parser.errorText(), helpText);
        if (parser.isSet(commandHelp)) {
            std::fputs(qPrintable(helpText), stdout);
            return Cli::Success;
        }
        if (!parser.positionalArguments().isEmpty() && command.arguments.isEmpty())
            return usage(QStringLiteral("unexpected argument ") + parser.positionalArguments().first(), helpText);
        return command.run(parser);
    }
    return usage(QStringLiteral("unknown command ") + rest.first(), toolHelp(tool));
}
