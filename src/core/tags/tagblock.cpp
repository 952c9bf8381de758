#include "core/tags/tagblock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 TagBlockSize = 128;

// Closes the descriptor on every way out of a routine.
class FdGuard
{
public:
    explicit FdGuard(int fd) : m_fd(fd) {}
    ~FdGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FdGuard(const FdGuard &) = delete;
    FdGuard &operator=(const FdGuard &) = delete;

    int fd() const { return m_fd; }
    bool close()
    {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

// The size of the regular file open at `fd`, when it has at least `minSize` bytes; -1
// otherwise (a FIFO, device or folder included).
qint64 regularSize(int fd, qint64 minSize, mode_t *mode = nullptr)
{
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < minSize)
        return -1;
    if (mode)
        *mode = st.st_mode;
    return st.st_size;
}

bool readExactly(int fd, char *data, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = ::pread(fd, data, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= n;
        offset += n;
    }
    return true;
}

bool writeExactly(int fd, const char *data, qint64 length, qint64 offset)
{
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= n;
        offset += n;
    }
    return true;
}

} // namespace

// Opens `path` only when it names (or links to) an existing regular file of at least
// `minSize` bytes; returns -1 otherwise. It is opened for reading first, without waiting on
// a FIFO; for writing, the owner's write permission is added to that very file (and left in
// place), so read-only files can be tagged, and it is opened again through the descriptor.
int OpenRegularFile(const QString &path, bool forWriting, qint64 minSize, qint64 *size)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    mode_t mode = 0;
    *size = regularSize(fd, minSize, &mode);
    if (*size < 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    if (!forWriting) {
        const int statusFlags = ::fcntl(fd, F_GETFL);
        if (statusFlags == -1 || ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) == -1) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    if (!(mode & S_IWUSR))
        (void)::fchmod(fd, (mode & 07777) | S_IWUSR);
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    const int writable = ::open(self.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::close(fd);
    return writable;
}

bool ReadTagBlock(int fd, QByteArray &block)
{
    const qint64 size = regularSize(fd, TagBlockSize);
    if (size < 0)
        return false;
    QByteArray buffer(TagBlockSize, '\0');
    if (!readExactly(fd, buffer.data(), TagBlockSize, size - TagBlockSize))
        return false;
    block = buffer;
    return true;
}

bool ReadTagBlock(const QString &path, QByteArray &block)
{
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, false, TagBlockSize, &size));
    return file.fd() >= 0 && ReadTagBlock(file.fd(), block);
}

bool CutTagBlock(int fd)
{
    const qint64 size = regularSize(fd, TagBlockSize);
    return size >= 0 && ::ftruncate(fd, off_t(size - TagBlockSize)) == 0;
}

bool CutTagBlock(const QString &path)
{
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, true, TagBlockSize, &size));
    return file.fd() >= 0 && CutTagBlock(file.fd()) && file.close();
}

bool AppendTagBlock(int fd, const QByteArray &block)
{
    const qint64 size = regularSize(fd, 0);
    if (block.size() != TagBlockSize || size < 0)
        return false;
    if (!writeExactly(fd, block.constData(), TagBlockSize, size)) {
        // A full disk may have taken part of the block; leave no torn tag behind.
        const int restored = ::ftruncate(fd, off_t(size));
        Q_UNUSED(restored);
        return false;
    }
    return true;
}

bool AppendTagBlock(const QString &path, const QByteArray &block)
{
    if (block.size() != TagBlockSize)
        return false;
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, true, 0, &size));
    return file.fd() >= 0 && AppendTagBlock(file.fd(), block) && file.close();
}

quint8 DetectTagVersion(const QByteArray &block)
{
    if (block.size() < TagBlockSize)
        return 1;
    const char zeroOrBlank = block.at(125);
    const char track = block.at(126);
    if ((zeroOrBlank == '\0' && track != '\0') || (zeroOrBlank == ' ' && track != ' '))
        return 2;
    return 1;
}
