#include "ptylogger.h"

#include <QFile>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr int POLL_MS = 10;
constexpr int PIECE_BYTES = 8;          // paced answers go out this many bytes at a time
constexpr qint64 DRAIN_LIMIT_NS = 300'000'000;

qint64 monotonicNs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

} // namespace

struct PtyLogger::Private {
    QString linkPath;
    QByteArray linkName;
    LineConfig line;
    SimulatedLogger logger;
    std::recursive_mutex mutex;
    std::thread thread;
    std::atomic<bool> running{false};
    int master = -1;
    int slave = -1;      // held so the master never sees a hang-up when the program closes
    quint64 generation = 0;
    bool plugged = false;
    QString error;
    qint64 replugAtNs = -1;
    qint64 rxFreeNs = 0;  // when the receive line has carried every byte read so far
    qint64 txFreeNs = 0;  // answering thread only

    Private(const QString &path, const LoggerConfig &config, const FaultConfig &faults, const LineConfig &l)
        : linkPath(path), linkName(QFile::encodeName(path)), line(l), logger(config, faults)
    {
    }

    qint64 byteNs() const { return line.baudRate > 0 ? 10'000'000'000LL / line.baudRate : 0; }
    static qint64 nowMs() { return monotonicNs() / 1'000'000; }

    bool openPty();
    void closePty();
    void removeLink();
    void unplugLocked(qint64 replugAfterMs);
    bool sleepUntil(qint64 deadlineNs);
    void send(const QByteArray &bytes, qint64 dueNs, quint64 gen, int chunk, int gapUs);
    void waitDrained(quint64 gen);
    void run();
};

bool PtyLogger::Private::openPty()
{
    const auto fail = [this](const QString &what) {
        error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        closePty();
        return false;
    };
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return fail(QStringLiteral("posix_openpt"));
    if (grantpt(master) != 0 || unlockpt(master) != 0)
        return fail(QStringLiteral("grantpt/unlockpt"));
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0)
        return fail(QStringLiteral("ptsname"));
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0)
        return fail(QStringLiteral("open ") + QString::fromLocal8Bit(name));
    termios tio;
    if (tcgetattr(slave, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B115200);
        cfsetospeed(&tio, B115200);
        tcsetattr(slave, TCSANOW, &tio);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

    struct stat st;
    if (lstat(linkName.constData(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            errno = EEXIST;
            return fail(QStringLiteral("not a link: ") + linkPath);
        }
        ::unlink(linkName.constData());
    }
    if (symlink(name, linkName.constData()) != 0)
        return fail(QStringLiteral("symlink ") + linkPath);
    plugged = true;
    ++generation;
    return true;
}

void PtyLogger::Private::closePty()
{
    if (slave >= 0)
        ::close(slave);
    if (master >= 0)
        ::close(master);
    slave = master = -1;
    plugged = false;
    ++generation;
}

void PtyLogger::Private::removeLink()
{
    struct stat st;
    if (lstat(linkName.constData(), &st) == 0 && S_ISLNK(st.st_mode))
        ::unlink(linkName.constData());
}

void PtyLogger::Private::unplugLocked(qint64 replugAfterMs)
{
    removeLink();
    closePty();
    replugAtNs = replugAfterMs >= 0 ? monotonicNs() + replugAfterMs * 1'000'000 : -1;
}

// Sleeps in short slices so that stop() stays prompt; false once stopped.
bool PtyLogger::Private::sleepUntil(qint64 deadlineNs)
{
    while (running) {
        const qint64 now = monotonicNs();
        if (now >= deadlineNs)
            return true;
        const qint64 until = std::min(deadlineNs, now + qint64(POLL_MS) * 1'000'000);
        timespec ts{time_t(until / 1'000'000'000), long(until % 1'000'000'000)};
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    }
    return false;
}

void PtyLogger::Private::send(const QByteArray &bytes, qint64 dueNs, quint64 gen, int chunk, int gapUs)
{
    const qint64 perByte = byteNs();
    qint64 t = perByte > 0 ? std::max(dueNs, txFreeNs) : dueNs;
    if (!sleepUntil(t))
        return;
    const int length = int(bytes.size());
    int pos = 0;
    while (pos < length) {
        const int chunkEnd = chunk > 0 ? std::min(length, pos + chunk) : length;
        while (pos < chunkEnd) {
            const int piece = perByte > 0 ? std::min(chunkEnd - pos, PIECE_BYTES) : chunkEnd - pos;
            // Each piece leaves once the line could have carried it.
            t += piece * perByte;
            if (perByte > 0 && !sleepUntil(t))
                return;
            std::lock_guard<std::recursive_mutex> lock(mutex);
            if (gen != generation)
                return;
            // A full slave queue (nobody reading) loses the bytes, as a line would.
            if (::write(master, bytes.constData() + pos, size_t(piece)) < 0 && errno != EAGAIN)
                return;
            pos += piece;
        }
        if (pos < length && gapUs > 0) {
            t = std::max(t, monotonicNs()) + qint64(gapUs) * 1000;
            if (!sleepUntil(t))
                return;
        }
    }
    txFreeNs = std::max(t, monotonicNs());
}

// Lets the program read the last answer before the pty goes away.
void PtyLogger::Private::waitDrained(quint64 gen)
{
    const qint64 limit = monotonicNs() + DRAIN_LIMIT_NS;
    while (running && monotonicNs() < limit) {
        {
            std::lock_guard<std::recursive_mutex> lock(mutex);
            int pending = 0;
            if (gen != generation || ioctl(slave, FIONREAD, &pending) != 0 || pending == 0)
                return;
        }
        sleepUntil(monotonicNs() + 1'000'000);
    }
}

void PtyLogger::Private::run()
{
    char buffer[4096];
    while (running) {
        int fd = -1;
        quint64 gen = 0;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex);
            logger.setClock(nowMs());
            if (!plugged && replugAtNs >= 0 && monotonicNs() >= replugAtNs) {
                replugAtNs = -1;
                openPty();
            }
            fd = plugged ? master : -1;
            gen = generation;
        }
        if (fd < 0) {
            sleepUntil(monotonicNs() + qint64(POLL_MS) * 1'000'000);
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, POLL_MS) <= 0)
            continue;
        if (!(p.revents & POLLIN)) {
            sleepUntil(monotonicNs() + qint64(POLL_MS) * 1'000'000);
            continue;
        }

        Exchange exchange;
        qint64 dueNs = 0;
        int chunk = 0, gapUs = 0, replugAfterMs = -1;
        {
            std::lock_guard<std::recursive_mutex> lock(mutex);
            if (gen != generation)
                continue;
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const qint64 arrival = monotonicNs();
            rxFreeNs = std::max(rxFreeNs, arrival) + n * byteNs();
            exchange = logger.receive(buffer, n, arrival / 1'000'000);
            dueNs = (line.baudRate > 0 ? rxFreeNs : arrival) + qint64(line.answerLatencyUs) * 1000;
            chunk = logger.faults().splitChunk;
            gapUs = logger.faults().chunkGapUs;
            replugAfterMs = logger.faults().replugAfterMs;
        }
        if (!exchange.answer.isEmpty())
            send(exchange.answer, dueNs, gen, chunk, gapUs);
        if (exchange.unplug) {
            if (!exchange.answer.isEmpty())
                waitDrained(gen);
            std::lock_guard<std::recursive_mutex> lock(mutex);
            if (gen == generation)
                unplugLocked(replugAfterMs);
        }
    }
}

PtyLogger::PtyLogger(const QString &linkPath, const LoggerConfig &config, const FaultConfig &faults,
                     const LineConfig &line)
    : d(std::make_unique<Private>(linkPath, config, faults, line))
{
}

PtyLogger::~PtyLogger()
{
    stop();
}

bool PtyLogger::start()
{
    if (d->thread.joinable())
        return true;
    {
        std::lock_guard<std::recursive_mutex> lock(d->mutex);
        if (!d->openPty())
            return false;
        d->logger.setClock(Private::nowMs());
    }
    d->running = true;
    d->thread = std::thread([this] { d->run(); });
    return true;
}

void PtyLogger::stop()
{
    d->running = false;
    if (d->thread.joinable())
        d->thread.join();
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    if (d->plugged)
        d->removeLink();
    d->closePty();
    d->replugAtNs = -1;
}

QString PtyLogger::errorString() const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return d->error;
}

QString PtyLogger::linkPath() const
{
    return d->linkPath;
}

void PtyLogger::unplug()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    if (d->plugged)
        d->unplugLocked(-1);
    d->replugAtNs = -1;
}

void PtyLogger::replug()
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    d->replugAtNs = -1;
    if (!d->plugged)
        d->openPty();
}

bool PtyLogger::isPlugged() const
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    return d->plugged;
}

void PtyLogger::withLogger(const std::function<void(SimulatedLogger &)> &f)
{
    std::lock_guard<std::recursive_mutex> lock(d->mutex);
    if (d->running)
        d->logger.setClock(Private::nowMs());
    f(d->logger);
}

} // namespace sim
