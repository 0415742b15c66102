#include "fleetwindow.h"
#include "mainwindow.h"
#include "userdirectory.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <memory>

namespace {
QtMessageHandler qtDefault = nullptr;

// Qt says at every start of a session without a runtime directory (cron, su, a bare X
// server) that it uses one of its own: nothing the user can act on.
void qtMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (!text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")))
        qtDefault(type, context, text);
}
} // namespace

int main(int argc, char *argv[])
{
    qtDefault = qInstallMessageHandler(qtMessage);
    QApplication application(argc, argv);
    // `vantorel FILE.tsv` shows that export file as well; its path is taken before a start from
    // the menu changes the working directory.
    QString campaignFile;
    for (const QString &argument : QApplication::arguments().mid(1)) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            campaignFile = QFileInfo(argument).absoluteFilePath();
            break;
        }
    }
    enterUserDirectoryIfAsked(application.arguments());
    // `vantorel --fleet`: every attached logger, without the one-logger window.
    if (application.arguments().contains(QStringLiteral("--fleet"))) {
        auto fleet = std::make_unique<FleetWindow>();
        fleet->show();
        const int result = application.exec();
        fleet.reset();
        return result;
    }
    // On the heap: the window holds a copy of the whole record memory.
    auto window = std::make_unique<MainWindow>(campaignFile);
    window->show();
    const int result = application.exec();
    window.reset();
    return result;
}
