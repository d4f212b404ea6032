#pragma once

#include <QIODevice>
#include <QString>

class QSocketNotifier;

// The board's end of a pseudo-terminal pair: the tool opens the slave by its path
// as if it were a USB adapter, the simulator reads and writes the master.
//
// The simulator keeps a slave descriptor of its own open. Without one the master
// reads EIO and reports a hang-up for as long as the tool has not opened the
// slave, or after it has closed it.
//
// What the board sends while nobody has the slave open is dropped, as it is on a
// real line: the pty would otherwise keep it and hand it to the tool in one pile,
// glued to the next burst, the moment the port opens. Who has the slave open is
// known from inotify's open and close events on its device node.
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
    // Whether the tool has the slave open now.
    bool hasListener();

    // Marks the end of one burst of the board (a frame, its pieces, or a line of
    // text). A burst is sent or dropped whole, so that a tool opening the port
    // while one is under way never starts with a piece of it.
    void burstEnded() { inBurst = false; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void countListeners();

    int masterFd = -1;
    int slaveFd = -1;
    int watchFd = -1;
    QString path;
    QSocketNotifier *notifier = nullptr;
    int listeners = 0;
    bool inBurst = false;
    bool sendingBurst = true;
};
