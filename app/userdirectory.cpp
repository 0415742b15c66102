#include "userdirectory.h"

#include "settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QStandardPaths>

// Where the installed data lies, relative to the installed program (the build sets it from the
// install layout); it keeps a relocated or staged installation working.
#ifndef VANTOREL_DATA_FROM_BIN
#define VANTOREL_DATA_FROM_BIN "../share/vantorel"
#endif

namespace {

QString installedPictures()
{
    QStringList candidates{QDir(QCoreApplication::applicationDirPath())
                               .absoluteFilePath(QStringLiteral(VANTOREL_DATA_FROM_BIN "/icon"))};
    candidates += QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, QStringLiteral("vantorel/icon"),
                                            QStandardPaths::LocateDirectory);
    for (const QString &candidate : candidates) {
        if (QDir(candidate).exists())
            return QDir::cleanPath(candidate);
    }
    return {};
}

// A picture the user already has (perhaps one of their own) is kept.
void copyMissingPictures(const QDir &userDirectory)
{
    const QString source = installedPictures();
    if (source.isEmpty()) {
        qWarning() << "no installed status pictures found";
        return;
    }
    if (!userDirectory.mkpath(QStringLiteral("icon"))) {
        qWarning() << "cannot make" << userDirectory.absoluteFilePath(QStringLiteral("icon"));
        return;
    }
    const QDir sourceDirectory(source);
    for (const QString &name : sourceDirectory.entryList(QDir::Files)) {
        const QString target = userDirectory.absoluteFilePath(QStringLiteral("icon/") + name);
        if (!QFile::exists(target) && !QFile::copy(sourceDirectory.absoluteFilePath(name), target))
            qWarning() << "cannot copy the status picture" << name << "to" << target;
    }
}

} // namespace

void enterUserDirectoryIfAsked(const QStringList &arguments)
{
    if (!arguments.mid(1).contains(userDirectoryOption))
        return;
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString path = base.isEmpty() ? QString() : QDir(base).absoluteFilePath(QStringLiteral("vantorel"));
    if (path.isEmpty() || !QDir().mkpath(path) || !QDir::setCurrent(path)) {
        QMessageBox::warning(nullptr, QStringLiteral("VanTorel"),
                             QStringLiteral("VanTorel cannot use its settings directory %1.\n"
                                            "It works in %2 instead.")
                                 .arg(QDir::toNativeSeparators(path.isEmpty() ? QStringLiteral("(none)") : path),
                                      QDir::toNativeSeparators(QDir::currentPath())));
        return;
    }
    copyMissingPictures(QDir(path));
    // Export files would otherwise be proposed in this hidden directory: until the user has
    // chosen one, they go to the home directory (a launcher's working directory may be "/").
    Settings settings;
    if (!settings.contains(SettingsKey::exportDirectory))
        settings.setValue(SettingsKey::exportDirectory, QDir::homePath());
}
