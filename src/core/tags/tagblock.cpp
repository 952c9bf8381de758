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

// O_NONBLOCK keeps a FIFO swapped in between the stat and the open from blocking us;
// fstat then refuses it.
int OpenRegularFile(const QString &path, bool forWriting, qint64 minSize, qint64 *size)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st;
    if (::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < minSize)
        return -1;
    if (forWriting && !(st.st_mode & S_IWUSR))
        (void)::chmod(native.constData(), (st.st_mode & 07777) | S_IWUSR);

    const int flags = (forWriting ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const int fd = ::open(native.constData(), flags);
    if (fd < 0)
        return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < minSize) {
        ::close(fd);
        return -1;
    }
    const int statusFlags = ::fcntl(fd, F_GETFL);
    if (statusFlags == -1 || ::fcntl(fd, F_SETFL, statusFlags & ~O_NONBLOCK) == -1) {
        ::close(fd);
        return -1;
    }
    *size = st.st_size;
    return fd;
}

bool ReadTagBlock(const QString &path, QByteArray &block)
{
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, false, TagBlockSize, &size));
    if (file.fd() < 0)
        return false;
    QByteArray buffer(TagBlockSize, '\0');
    if (!readExactly(file.fd(), buffer.data(), TagBlockSize, size - TagBlockSize))
        return false;
    block = buffer;
    return true;
}

bool CutTagBlock(const QString &path)
{
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, true, TagBlockSize, &size));
    if (file.fd() < 0)
        return false;
    if (::ftruncate(file.fd(), off_t(size - TagBlockSize)) != 0)
        return false;
    return file.close();
}

bool AppendTagBlock(const QString &path, const QByteArray &block)
{
    if (block.size() != TagBlockSize)
        return false;
    qint64 size = 0;
    FdGuard file(OpenRegularFile(path, true, 0, &size));
    if (file.fd() < 0)
        return false;
    if (!writeExactly(file.fd(), block.constData(), TagBlockSize, size)) {
        // A full disk may have taken part of the block; leave no torn tag behind.
        const int restored = ::ftruncate(file.fd(), off_t(size));
        Q_UNUSED(restored);
        return false;
    }
    return file.close();
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
