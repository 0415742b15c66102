// Saves a picture of the whole X display: what a user of the run script would see.

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: vantorel-screenshot FILE.png\n";
        return 2;
    }
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(QString::fromLocal8Bit(argv[1]))) {
        QTextStream(stderr) << "cannot take a screenshot\n";
        return 1;
    }
    return 0;
}
