// Saves a picture of the X display, whole or its top-left WIDTH x HEIGHT: what a user of
// the run script would see.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

#include <cstdlib>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: vantorel-screenshot FILE.png [WIDTH HEIGHT]\n";
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0, 0, 0, argc > 3 ? std::atoi(argv[2]) : -1, argc > 3 ? std::atoi(argv[3]) : -1).save(QString::fromLocal8Bit(argv[1]))) {
        QTextStream(stderr) << "cannot take a screenshot\n";
        return 1;
    }
    return 0;
}
