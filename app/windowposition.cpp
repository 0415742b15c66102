#include "windowposition.h"

#include "settings.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

bool positionFitsDesktop(const QSize &desktop, int x, int y)
{
    // 64-bit: positions read from the settings file can be anything.
    return qint64(desktop.width()) - x > 100 && qint64(desktop.height()) - y > 70;
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
