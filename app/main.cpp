#include "mainwindow.h"
#include "userdirectory.h"

#include <QApplication>
#include <QFileInfo>
#include <QStringList>

#include <memory>

int main(int argc, char *argv[])
{
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
    // On the heap: the window holds a copy of the whole record memory.
    auto window = std::make_unique<MainWindow>();
    window->show();
    if (!campaignFile.isEmpty())
        window->openCampaignFile(campaignFile);
    const int result = application.exec();
    window.reset();
    return result;
}
