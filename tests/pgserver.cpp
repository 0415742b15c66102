#include "pgserver.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <QDir>

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

PostgresServer::~PostgresServer()
{
    if (started)
        run("pg_ctl", {"-D", dir.filePath("data"), "-m", "immediate", "-w", "stop"});
}

bool PostgresServer::run(const QString &program, const QStringList &arguments)
{
    QStringList line = QStringList{"/usr/lib/postgresql/15/bin/" + program} + arguments;
    if (geteuid() == 0)   // the server refuses to run as root
        line = QStringList{"runuser", "-u", "postgres", "--"} + line;
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(line.first(), line.mid(1));
    if (process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        return true;
    failure = line.join(' ') + " failed: " + process.readAll() + process.errorString();
    return false;
}

bool PostgresServer::start()
{
    QFile password(dir.filePath("password"));
    if (!password.open(QIODevice::WriteOnly) || password.write(PASSWORD) < 0 || !password.flush())
        return failure = "cannot make the server's directory", false;
    const passwd *user = getpwnam("postgres");
    if (geteuid() == 0 && (!user || chown(qPrintable(dir.path()), user->pw_uid, user->pw_gid) != 0))
        return failure = "cannot give the server's directory to the postgres user", false;
    {
        QTcpServer probe;   // a port nobody listens on now
        probe.listen(QHostAddress::LocalHost);
        serverPort = probe.serverPort();
    }
    started = run("initdb", {"-D", dir.filePath("data"), "-U", "postgres", "--auth-local=trust", "--auth-host=scram-sha-256",
                             "--pwfile=" + password.fileName(), "-E", "UTF8", "--no-sync"})
              && setRunning(true) && psql(QString("CREATE ROLE %1 LOGIN PASSWORD '%3'; CREATE ROLE %2 LOGIN PASSWORD '%3'").arg(OWNER, APP, PASSWORD));
    return started;
}

bool PostgresServer::setRunning(bool on)
{
    if (!on)
        return run("pg_ctl", {"-D", dir.filePath("data"), "-m", "fast", "-w", "stop"});
    return run("pg_ctl", {"-D", dir.filePath("data"), "-l", dir.filePath("log"), "-w", "-t", "60", "-o",
                          QString("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off").arg(serverPort).arg(dir.path()),
                          "start"});
}

QString PostgresServer::url(const QString &database, const char *role) const
{
    return QString("postgresql://%1:%2@127.0.0.1:%3/%4").arg(role, PASSWORD).arg(serverPort).arg(database);
}

bool PostgresServer::psql(const QString &statement)
{
    return run("psql", {"-h", dir.path(), "-p", QString::number(serverPort), "-U", "postgres", "-qc", statement});
}

bool PostgresServer::createDatabase(const QString &name)
{
    return psql(QString("CREATE DATABASE %1 OWNER %2").arg(name, OWNER));
}

bool PostgresServer::pause(bool stopped)
{
    QFile pidFile(dir.filePath("data/postmaster.pid"));
    const QByteArray postmaster = pidFile.open(QIODevice::ReadOnly) ? pidFile.readLine().trimmed() : QByteArray();
    bool ok = !postmaster.isEmpty() && kill(postmaster.toInt(), stopped ? SIGSTOP : SIGCONT) == 0;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile stat("/proc/" + pid + "/stat");   // "PID (NAME) STATE PPID ..."
        if (stat.open(QIODevice::ReadOnly) && stat.readAll().split(')').value(1).split(' ').value(2) == postmaster)
            ok = kill(pid.toInt(), stopped ? SIGSTOP : SIGCONT) == 0 && ok;
    }
    return ok;
}
