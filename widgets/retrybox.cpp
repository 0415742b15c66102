#include "retrybox.h"

#include "windowstate.h"

#include <QMessageBox>

bool askRetryCom(QWidget *parent, const WindowState &state)
{
    if (state.quitting)
        return false;
    return QMessageBox::warning(parent, QStringLiteral("Error COM"), QStringLiteral("Error COM, retry ?"),
                                QMessageBox::Ok | QMessageBox::Cancel)
        == QMessageBox::Ok
        && !state.quitting;
}
