#include "record/linefilewriter.h"

#include <QFileDevice>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The bytes the file took; *errorNumber says why it took no more.
qint64 writeAll(int fd, const QByteArray &data, int *errorNumber)
{
    qint64 taken = 0;
    while (taken < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + taken, size_t(data.size() - taken));
        if (n > 0) {
            taken += n;
        } else if (n == 0 || errno != EINTR) {
            *errorNumber = n == 0 ? EIO : errno;
            break;
        }
    }
    return taken;
}

// Takes the last `taken` bytes off a regular file whose end they are. The offset is
// past them also when the file is opened for appending (">>"), where it says nothing
// before the first write.
void cutBack(int fd, qint64 taken)
{
    struct stat status = {};
    const off_t end = ::lseek(fd, 0, SEEK_CUR);
    if (end < taken || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size != end)
        return;
    if (::ftruncate(fd, end - taken) == 0) {
        ::lseek(fd, end - taken, SEEK_SET);
        ::fdatasync(fd);
    }
}

} // namespace

LineFileWriter::LineFileWriter(QIODevice *device) : device(device)
{
    sinceSync.start();
}

bool LineFileWriter::holdsData() const
{
    const int fd = descriptor();
    struct stat status = {};
    return fd >= 0 ? ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0
                   : !device->isSequential() && device->size() > 0;
}

bool LineFileWriter::flush()
{
    if (!writePending())
        return false;
    if (unsynced && sinceSync.hasExpired(SyncIntervalMs))
        return sync();
    return true;
}

bool LineFileWriter::sync()
{
    if (!writePending())
        return false;
    sinceSync.start();
    const int fd = descriptor();
    if (!unsynced || fd < 0)
        return true;
    unsynced = false;
    // A pipe or a terminal has no disk to sync (EINVAL). A disk that took the lines into
    // its cache but cannot store them says so only here.
    if (::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS)
        return true;
    fail(errno);
    return false;
}

bool LineFileWriter::writePending()
{
    if (!error.isEmpty())
        return false;
    if (buffer.isEmpty())
        return true;
    // QFile reports a write the disk took only part of as a success of fewer bytes
    // without the system's reason, and a buffered QFile only at its flush(), as
    // "Unknown error": a file's lines go to its descriptor instead.
    if (const int fd = descriptor(); fd >= 0) {
        int errorNumber = 0;
        const qint64 taken = writeAll(fd, buffer, &errorNumber);
        if (taken != buffer.size()) {
            if (taken > 0)
                cutBack(fd, taken);
            fail(errorNumber);
            return false;
        }
    } else if (device->write(buffer) != buffer.size()) {
        error = device->errorString();
        if (error.isEmpty())
            error = QStringLiteral("the device took no more");
        return false;
    }
    buffer.resize(0);
    unsynced = true;
    return true;
}

void LineFileWriter::fail(int errorNumber)
{
    systemError = errorNumber;
    error = qt_error_string(errorNumber);
}

int LineFileWriter::descriptor() const
{
    const auto *file = qobject_cast<const QFileDevice *>(device);
    return file ? file->handle() : -1;
}
