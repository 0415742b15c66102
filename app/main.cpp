#include "mainwindow.h"

#include <QApplication>
#include <QStringList>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    // On the heap: the window holds a copy of the whole record memory.
    auto window = std::make_unique<MainWindow>();
    window->show();
    // `vantorel FILE.tsv` shows that export file as well.
    const QStringList arguments = QApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (!argument.startsWith(QLatin1Char('-'))) {
            window->openCampaignFile(argument);
            break;
        }
    }
    const int result = application.exec();
    window.reset();
    return result;
}
