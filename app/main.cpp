#include "mainwindow.h"
#include "userdirectory.h"

#include <QApplication>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    enterUserDirectoryIfAsked(application.arguments());
    // On the heap: the window holds a copy of the whole record memory.
    auto window = std::make_unique<MainWindow>();
    window->show();
    const int result = application.exec();
    window.reset();
    return result;
}
