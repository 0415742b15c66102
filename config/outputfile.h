#ifndef VANTOREL_OUTPUTFILE_H
#define VANTOREL_OUTPUTFILE_H

// The one way this program writes a file (export files, PDF reports, archives, anything
// later): completely or not at all, and never a failure taken for a success.
//
//     OutputFile out(path);                       // "-" is standard output
//     if (!out.open(QIODevice::WriteOnly))        // before the long work: the early check
//         return fail(out.errorMessage());        // "path: No such file or directory"
//     ... write to out, a QIODevice (QPdfWriter takes &out) ...
//     if (!out.commit())
//         return fail(out.errorMessage());       // "path: No space left on device"
//
// - A regular file, or a new one, is written beside its target and put in its place by
//   commit() (QSaveFile). Until then, and after any failure, an existing file of that name
//   is untouched and nothing is left behind. A symbolic link is followed: the file it points
//   to is replaced, the link stays.
// - A target that exists and is not a regular file (a device, a FIFO, /dev/stdout, "-") is
//   never replaced: it is written straight through.
// - Every write is checked, and so are the last flush and the commit. After a failed write
//   the following ones are refused and commit() fails.
// - An OutputFile dropped without commit() (an error, an interruption) is cancelled.
// open() creates the file already: called before a long operation, it says at once when
// the target cannot be written.

#include <QByteArray>
#include <QFileDevice>
#include <QIODevice>
#include <QString>

#include <memory>

class OutputFile : public QIODevice
{
    Q_OBJECT

public:
    explicit OutputFile(const QString &target, QObject *parent = nullptr);
    ~OutputFile() override;

    // Write-only; false with errorMessage() when the target cannot be created or opened.
    bool open(OpenMode mode) override;
    // Puts the file in place (or flushes a device); false with errorMessage(). Closed either way.
    bool commit();
    // Gives up: nothing is left, an existing file stays as it was.
    void cancel();

    QString target() const { return name; }
    // The target and the system's reason, for a message: "out.tsv: No space left on device".
    QString errorMessage() const;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    static constexpr qsizetype BUFFER_BYTES = 64 * 1024;
    bool writePending();
    bool fail(const QString &reason);

    QString name;
    // A QSaveFile, or a QFile written straight through; unbuffered, so that every short
    // write is seen here with its reason.
    std::unique_ptr<QFileDevice> file;
    QByteArray pending;
    bool failed = false;
};

#endif
