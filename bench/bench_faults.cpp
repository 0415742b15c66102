// The fault-injection suite in full: for each fault on the line, COUNT downloads of a full
// record memory and COUNT campaign starts, driven as a patient user; prints a line per
// operation, then the table, and fails when any reported outcome was not the truth.
//
//   bench_faults [COUNT] [--kib N] [--only TEXT] [--late MS]... [--seed N]

#include "faultsuite.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <cstdio>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: bench_faults [COUNT] [--kib N] [--only TEXT] [--late MS]... [--seed N]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    FaultRun run;
    run.downloads = run.starts = 5;
    run.downloadTypes = {3, 2, 6, 1, 8};
    run.startTypes = {2, 3, 8, 1};
    int kib = 128;
    QList<int> lateMs;
    quint32 seed = 1;
    QString only;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        bool ok = true;
        if (a == QLatin1String("--kib") && i + 1 < args.size())
            kib = args[++i].toInt(&ok);
        else if (a == QLatin1String("--only") && i + 1 < args.size())
            only = args[++i];
        else if (a == QLatin1String("--late") && i + 1 < args.size())
            lateMs << args[++i].toInt(&ok);
        else if (a == QLatin1String("--seed") && i + 1 < args.size())
            seed = args[++i].toUInt(&ok);
        else if (!a.startsWith(QLatin1Char('-')))
            run.downloads = run.starts = a.toInt(&ok);
        else
            ok = false;
        if (!ok || kib <= 0 || kib > 256 || run.downloads < 0 || (!lateMs.isEmpty() && lateMs.last() <= 0))
            return usage();
    }
    run.memorySizeCode = kib > 128 ? 4 : 2;
    // A full memory: every block is read, the record pass takes the wrap-around path.
    run.usedBytes = quint32(kib) * 1024;
    run.verbose = true;

    QList<FaultKind> kinds = lineFaults();
    for (int ms : lateMs)
        kinds << lateAnswers(ms);
    QTextStream out(stdout);
    QElapsedTimer clock;
    clock.start();
    QList<FaultRow> rows;
    QStringList violations;
    for (int i = 0; i < kinds.size(); ++i) {
        if (!only.isEmpty() && !kinds[i].name.contains(only))
            continue;
        run.seed = seed + quint32(1000 * i);
        rows << runFault(kinds[i], run);
        violations += rows.last().violations();
    }
    out << "\n" << run.downloads << " downloads of " << run.usedBytes << " bytes and " << run.starts
        << " starts per fault, " << clock.elapsed() / 1000 << " s\n\n";
    for (const QString &line : faultTable(rows))
        out << line << "\n";
    out << "\n" << (violations.isEmpty() ? QStringLiteral("every reported outcome was the truth")
                                         : QStringLiteral("%1 violations:").arg(violations.size()))
        << "\n";
    for (const QString &v : violations)
        out << "  " << v << "\n";
    out.flush();
    return violations.isEmpty() ? 0 : 1;
}
