#ifndef VANTOREL_USERDIRECTORY_H
#define VANTOREL_USERDIRECTORY_H

// Started from the desktop menu, the working directory is the home directory, where neither
// config.ini nor icon/ belong. The menu entry therefore passes `userDirectoryOption`, and the
// program then works in a directory of the user's own: $XDG_CONFIG_HOME/vantorel (the system's
// per-user configuration place elsewhere), made on first start, with the status pictures copied
// there from the installed data when missing, and the export files proposed in the home directory
// until the user picks one. Without the option the working directory is kept.

#include <QString>
#include <QStringList>

inline const QString userDirectoryOption = QStringLiteral("--user-dir");

// Call once the application object exists and before the window is built. A directory that
// cannot be made or entered is reported in a message box and the working directory is kept.
void enterUserDirectoryIfAsked(const QStringList &arguments);

#endif
