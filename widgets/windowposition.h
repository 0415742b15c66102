#ifndef VANTOREL_WINDOWPOSITION_H
#define VANTOREL_WINDOWPOSITION_H

#include <QSize>
#include <QString>

class QWidget;

// A saved dialog position is used only while the dialog's corner keeps more than 100
// pixels to the right edge and 70 to the bottom edge of the desktop; negative values pass
// unless they lie a whole desktop width or height away.
bool positionFitsDesktop(const QSize &desktop, int x, int y);
QSize desktopSize();  // all screens together

void restoreWindowPosition(QWidget *window, const QString &keyX, const QString &keyY);
void saveWindowPosition(const QWidget *window, const QString &keyX, const QString &keyY);

#endif
