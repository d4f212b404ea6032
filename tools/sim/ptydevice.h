#pragma once

#include <QIODevice>
#include <QString>

class QSocketNotifier;
class QTimer;

// The board's end of a pseudo-terminal pair: the tool opens the slave by its path
// as if it were a USB adapter, the simulator reads and writes the master.
//
// The simulator keeps a slave descriptor of its own open. Without one the master
// reads EIO and reports a hang-up for as long as the tool has not opened the
// slave, or after it has closed it.
class PtyDevice : public QIODevice
{
    Q_OBJECT

public:
    explicit PtyDevice(QObject *parent = nullptr);
    ~PtyDevice() override;

    // Creates the pair; the slave is raw from the start.
    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    QString slavePath() const { return path; }

    // Marks the end of one burst of the board (a frame, its pieces, or a line of
    // text): the unit that is dropped whole when nobody listens.
    void burstEnded();

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void checkListener();

    int masterFd = -1;
    int slaveFd = -1;
    QString path;
    QSocketNotifier *notifier = nullptr;
    QTimer *unheardTimer = nullptr;
    bool inBurst = false;
    bool unreadWritten = false; // written since the last check and not flushed
    bool listening = false;
};
