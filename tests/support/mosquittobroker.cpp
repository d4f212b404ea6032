#include "mosquittobroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Binds port 0 and returns what the kernel chose; connect() to it when
// listening is false tells whether something listens there.
quint16 probePort(quint16 port, bool listening)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    quint16 result = 0;
    if (!listening) {
        if (bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            result = ntohs(address.sin_port);
    } else if (connect(fd, reinterpret_cast<sockaddr *>(&address), length) == 0) {
        result = port;
    }
    close(fd);
    return result;
}

} // namespace

MosquittoBroker::MosquittoBroker(const QList<QPair<QByteArray, QByteArray>> &users)
{
    m_port = probePort(0, false);
    const QString dir = m_dir.path();
    QByteArray config = "listener " + QByteArray::number(m_port) + " 127.0.0.1\n" +
                        "persistence true\npersistence_location " + QFile::encodeName(dir) +
                        "/\nlog_type error\n";
    // Run as root, mosquitto drops to its own user, who cannot read this folder.
    if (const passwd *user = getpwuid(geteuid()))
        config += "user " + QByteArray(user->pw_name) + '\n';
    if (users.isEmpty()) {
        config += "allow_anonymous true\n";
    } else {
        const QString passwords = dir + QStringLiteral("/passwords");
        QFile(passwords).open(QIODevice::WriteOnly);
        for (const auto &user : users)
            QProcess::execute(QStringLiteral("mosquitto_passwd"),
                              {QStringLiteral("-b"), passwords, QString::fromUtf8(user.first),
                               QString::fromUtf8(user.second)});
        config += "allow_anonymous false\npassword_file " + QFile::encodeName(passwords) + '\n';
    }
    QFile file(dir + QStringLiteral("/mosquitto.conf"));
    if (file.open(QIODevice::WriteOnly))
        file.write(config);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

MosquittoBroker::~MosquittoBroker()
{
    stop();
}

bool MosquittoBroker::start()
{
    m_process.start(QStringLiteral("mosquitto"),
                    {QStringLiteral("-c"), m_dir.path() + QStringLiteral("/mosquitto.conf")});
    if (!m_process.waitForStarted(3000))
        return false;
    const QDeadlineTimer deadline(5000);
    while (!deadline.hasExpired()) {
        if (probePort(m_port, true) == m_port)
            return true;
        QThread::msleep(20);
    }
    return false;
}

void MosquittoBroker::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QString MosquittoBroker::url(const QString &prefix) const
{
    return QStringLiteral("mqtt://127.0.0.1:%1/%2").arg(m_port).arg(prefix);
}
