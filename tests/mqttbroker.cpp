#include "mqttbroker.h"

#include "testsupport.h"

#include <QDir>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>

quint16 freeTcpPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

MqttBroker::MqttBroker(const QString &directory, const QByteArray &extra) : port(freeTcpPort()), directory(directory)
{
    QFile config(QDir(directory).filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        qFatal("cannot write the broker's configuration");
    // As root, mosquitto would become its own user, who cannot read the test's files.
    config.write("user root\npersistence false\nper_listener_settings false\nlistener " + QByteArray::number(port)
                 + " 127.0.0.1\n" + (extra.contains("password_file") ? "" : "allow_anonymous true\n") + extra);
}

bool MqttBroker::start()
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("mosquitto"), {"/usr/sbin", "/usr/bin"});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(program, {"-c", QDir(directory).filePath(QStringLiteral("mosquitto.conf"))});
    return waitFor([this] {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        return process.state() == QProcess::Running && probe.waitForConnected(200);
    }, 10000);
}

void MqttBroker::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

MqttSubscriber::MqttSubscriber(quint16 port, const QStringList &extra)
{
    process.start(QStringLiteral("mosquitto_sub"), QStringList{"-p", QString::number(port), "-t", "#", "-F", "%r %t %p"} + extra);
    process.waitForStarted(5000);
}

MqttSubscriber::~MqttSubscriber()
{
    process.kill();
    process.waitForFinished(5000);
}

QList<SeenMessage> MqttSubscriber::messages()
{
    while (process.canReadLine()) {
        const QByteArray line = process.readLine().chopped(1);
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() >= 2)
            seen.append({QString::fromUtf8(parts[1]), line.mid(parts[0].size() + parts[1].size() + 2), parts[0] == "1"});
    }
    return seen;
}

SeenMessage MqttSubscriber::last(const QString &topic)
{
    const QList<SeenMessage> all = messages();
    for (auto it = all.crbegin(); it != all.crend(); ++it)
        if (it->topic == topic)
            return *it;
    return {};
}

bool MqttSubscriber::waitFor(const std::function<bool(const SeenMessage &)> &match, int timeoutMs)
{
    return ::waitFor([&] {
        const QList<SeenMessage> all = messages();
        return std::any_of(all.begin(), all.end(), match);
    }, timeoutMs);
}
