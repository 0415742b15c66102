#include "windowposition.h"

#include "settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

bool positionFitsDesktop(const QSize &desktop, int x, int y)
{
    // 64-bit: positions read from the settings file can be anything. Negative positions
    // pass (a screen left of the main one), but not one a whole desktop away.
    const qint64 w = desktop.width();
    const qint64 h = desktop.height();
    return w - x > 100 && h - y > 70 && x > -w && y > -h;
}

QSize desktopSize()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->virtualGeometry().size() : QSize();
}

void restoreWindowPosition(QWidget *window, const QString &keyX, const QString &keyY)
{
    Settings settings;
    if (!settings.contains(keyX) || !settings.contains(keyY))
        return;
    const int x = settings.intValue(keyX, 0);
    const int y = settings.intValue(keyY, 0);
    if (positionFitsDesktop(desktopSize(), x, y))
        window->move(x, y);
}

void saveWindowPosition(const QWidget *window, const QString &keyX, const QString &keyY)
{
    Settings settings;
    settings.setValue(keyX, QString::number(window->pos().x()));
    settings.setValue(keyY, QString::number(window->pos().y()));
}
