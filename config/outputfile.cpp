#include "outputfile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

bool isStandardOutput(const QString &target)
{
    return target == QLatin1String("-") || target == QLatin1String("/dev/stdout");
}

} // namespace

OutputFile::OutputFile(const QString &target, QObject *parent) : QIODevice(parent), name(target) {}

OutputFile::~OutputFile()
{
    cancel();
}

bool OutputFile::open(OpenMode mode)
{
    if (isOpen() || (mode & ReadOnly) || !(mode & WriteOnly))
        return fail(QStringLiteral("can only be opened once, for writing"));
    failed = false;
    const QFileInfo info(name);
    bool opened = false;
    if (isStandardOutput(name)) {
        // The descriptor itself: opening /dev/stdout anew would truncate a file it was sent to.
        auto *out = new QFile;
        file.reset(out);
        std::fflush(stdout);
        opened = out->open(1, WriteOnly | Unbuffered, QFileDevice::DontCloseHandle);
    } else if (info.exists() && !info.isFile() && !info.isDir()) {
        // A device or a FIFO: renaming over it would destroy it.
        file = std::make_unique<QFile>(name);
        opened = file->open(WriteOnly | Unbuffered);
    } else if (name.isEmpty()) {
        return fail(QStringLiteral("no file name"));
    } else if (info.isDir()) {
        return fail(QStringLiteral("is a folder"));
    } else {
        // QSaveFile follows a symbolic link and replaces the file it points to.
        file = std::make_unique<QSaveFile>(name);
        opened = file->open(WriteOnly | Unbuffered);
    }
    if (!opened) {
        const QString reason = file->errorString();
        file.reset();
        return fail(reason);
    }
    return QIODevice::open(WriteOnly | Unbuffered);
}

qint64 OutputFile::writeData(const char *data, qint64 size)
{
    if (failed || !file)
        return -1;
    pending.append(data, size);
    return pending.size() < BUFFER_BYTES || writePending() ? size : -1;
}

bool OutputFile::writePending()
{
    // A short write leaves no reason; the next attempt at the rest gets the system's.
    for (qint64 done = 0; done < pending.size();) {
        const qint64 written = file->write(pending.constData() + done, pending.size() - done);
        if (written <= 0)
            return fail(file->errorString());
        done += written;
    }
    pending.clear();
    return true;
}

bool OutputFile::commit()
{
    if (!file || !isOpen()) {
        cancel();
        return fail(QStringLiteral("not open"));
    }
    // The last bytes meet a full disk here, where QSaveFile::commit() alone would not say so.
    if (!failed)
        writePending();
    if (auto *save = qobject_cast<QSaveFile *>(file.get()); save && !failed && !save->commit())
        fail(save->errorString());
    else if (!save && !failed)
        file->close();
    const bool ok = !failed;
    cancel();
    return ok;
}

void OutputFile::cancel()
{
    pending.clear();
    // A QSaveFile destroyed before its commit removes its temporary file.
    if (auto *save = qobject_cast<QSaveFile *>(file.get()))
        save->cancelWriting();
    file.reset();
    QIODevice::close();
}

QString OutputFile::errorMessage() const
{
    return (name == QLatin1String("-") ? QStringLiteral("standard output") : name) + QStringLiteral(": ") + errorString();
}

bool OutputFile::fail(const QString &reason)
{
    failed = true;
    setErrorString(reason.isEmpty() ? QStringLiteral("write error") : reason);
    return false;
}
