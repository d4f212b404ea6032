#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's mosquitto on a free port of 127.0.0.1, with a configuration of its own in a
// temporary folder. It keeps its sessions and retained messages across stop() and
// start(), as a broker restarted by its administrator does.
class MosquittoBroker
{
public:
    // With users, only they may connect (a password_file made by mosquitto_passwd).
    explicit MosquittoBroker(const QList<QPair<QByteArray, QByteArray>> &users = {});
    ~MosquittoBroker();
    MosquittoBroker(const MosquittoBroker &) = delete;
    MosquittoBroker &operator=(const MosquittoBroker &) = delete;

    // Waits until the broker accepts connections; false if it did not within 5 s.
    bool start();
    void stop();

    quint16 port() const { return m_port; }
    QString url(const QString &prefix) const;
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};
