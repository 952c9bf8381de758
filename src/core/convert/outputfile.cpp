#include "core/convert/outputfile.h"

#include "core/base/workfilename.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype MaxFileNameBytes = 255;
// Names tried before giving up: random ones never meet in practice, a name held by another
// run is passed over, and one swapped under us is tried again.
constexpr int Attempts = 100;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// The stem cut so that ".<stem>.wt-XXXXXX<ext>" stays a valid file name.
QByteArray workStem(const QString &stem, qsizetype extensionBytes)
{
    QByteArray bytes = QFile::encodeName(stem);
    const qsizetype room =
        MaxFileNameBytes - 1 - WorkFileMarker.size() - WorkFileRandomLength - extensionBytes;
    if (bytes.size() <= room)
        return bytes;
    qsizetype keep = qMax<qsizetype>(0, room);
    while (keep > 0 && (static_cast<uchar>(bytes.at(keep)) & 0xC0) == 0x80)
        --keep;
    bytes.truncate(keep);
    return bytes;
}

QByteArray randomTag()
{
    static const char Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray tag(WorkFileRandomLength, '\0');
    for (char &c : tag)
        c = Letters[QRandomGenerator::global()->bounded(int(sizeof Letters - 1))];
    return tag;
}

// ".<stem>.wt-XXXXXX<ext>" for `finalName`, a new random part each time.
QByteArray workName(const QString &finalName)
{
    const qsizetype dot = finalName.lastIndexOf(QLatin1Char('.'));
    const QByteArray extension = dot > 0 ? QFile::encodeName(finalName.mid(dot)) : QByteArray();
    const QString stem = dot > 0 ? finalName.left(dot) : finalName;
    return '.' + workStem(stem, extension.size()) + WorkFileMarker.data() + randomTag() + extension;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Opens an existing regular file `name` in `dirfd` without following a link, without
// waiting on a FIFO swapped in, and takes its lock without waiting: -1 when it is no regular
// file, or when a run holds it.
int openAndLock(int dirfd, const QByteArray &name)
{
    const int fd = ::openat(dirfd, name.constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The encoder inherits the work file under its own number, which must not be one that the
// child's standard streams take over (a program started with its input closed hands out 0).
int aboveStandardStreams(int fd)
{
    if (fd < 0 || fd > STDERR_FILENO)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// The names in the folder `dirfd`, read through a description of their own, so no offset of
// `dirfd`'s moves.
QList<QByteArray> namesIn(int dirfd)
{
    const int listFd = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *listing = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!listing) {
        if (listFd >= 0)
            ::close(listFd);
        return {};
    }
    QList<QByteArray> names;
    while (const dirent *item = ::readdir(listing)) {
        const QByteArray name(item->d_name);
        if (name != "." && name != "..")
            names.append(name);
    }
    ::closedir(listing);
    return names;
}

} // namespace

QString OutputPathProblem(const QString &finalPath)
{
    struct stat st;
    if (::lstat(QFile::encodeName(finalPath).constData(), &st) != 0)
        return {}; // free, or not reachable: making the work file says why
    if (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("The output path is a folder");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("The output path is a FIFO");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("The output path is a socket");
    return QStringLiteral("The output path is a device");
}

OutputState OutputStateAt(int dirfd, const QByteArray &name)
{
    struct stat st;
    if (::fstatat(dirfd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return OutputState::Free;
    if (S_ISREG(st.st_mode))
        return st.st_size > 0 ? OutputState::Output : OutputState::NoOutput;
    if (!S_ISLNK(st.st_mode))
        return OutputState::Other;
    // Only a look at what the link names; nothing is ever opened through it.
    if (::fstatat(dirfd, name.constData(), &st, 0) != 0 || (S_ISREG(st.st_mode) && st.st_size == 0))
        return OutputState::NoOutput;
    return OutputState::Output;
}

OutputFile::~OutputFile()
{
    discard();
}

bool OutputFile::openFolder(const QString &root, const QString &folder, const NameRules &rules,
                            QString *error)
{
    discard();
    m_rules = rules;
    const QString top = QDir::cleanPath(root);
    const QString leaf = QDir::cleanPath(folder);
    const bool below = leaf.startsWith(top + QLatin1Char('/'));
    // A folder outside the root has nothing of ours to make: it is opened as it is.
    m_rootPath = below || leaf == top ? top : leaf;
    m_folderPath = m_rootPath;
    m_below.clear();
    m_root = ::open(QFile::encodeName(m_rootPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_root < 0) {
        if (error)
            *error = QStringLiteral("Cannot open the output folder %1: %2")
                         .arg(m_rootPath, systemError(errno));
        return false;
    }
    m_folder = ::fcntl(m_root, F_DUPFD_CLOEXEC, 0);
    if (!below)
        return m_folder >= 0;
    for (const QString &part : leaf.mid(top.size() + 1).split(QLatin1Char('/'))) {
        const QByteArray name = QFile::encodeName(part);
        m_folderPath += QLatin1Char('/') + part;
        m_below.append(name);
        int failure = 0;
        if (::mkdirat(m_folder, name.constData(), 0777) != 0 && errno != EEXIST)
            failure = errno;
        const int next = failure ? -1
                                 : ::openat(m_folder, name.constData(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            if (!failure)
                failure = errno;
            struct stat st;
            const bool inTheWay =
                (failure == ELOOP || failure == ENOTDIR) &&
                ::fstatat(m_folder, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
            if (error)
                *error = QStringLiteral("Cannot create the folder %1: %2")
                             .arg(m_folderPath, !inTheWay ? systemError(failure)
                                                : S_ISLNK(st.st_mode)
                                                    ? QStringLiteral("a link is in the way")
                                                    : QStringLiteral("a file is in the way"));
            discard();
            return false;
        }
        ::close(m_folder);
        m_folder = next;
    }
    return true;
}

int OutputFile::removeStaleWorkFiles()
{
    if (m_folder < 0)
        return 0;
    int removed = 0;
    for (const QByteArray &name : namesIn(m_folder)) {
        if (name == m_workName || !IsWorkFileName(QFile::decodeName(name)))
            continue;
        // The lock is free only when no run holds the file: its owner (or the encoder that
        // inherited it) is gone.
        int fd = openAndLock(m_folder, name);
        if (fd < 0)
            continue;
        if (isOurs(name, fd) && ::unlinkat(m_folder, name.constData(), 0) == 0)
            ++removed;
        closeFd(fd);
    }
    return removed;
}

OutputFile::Claim OutputFile::claim(const QString &name, QString *error)
{
    QByteArray native = QFile::encodeName(name);
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        int fd = ::openat(m_folder, native.constData(),
                          O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            // Between the create and the lock another run may take it over as a crashed
            // run's claim; it is theirs then.
            if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
                closeFd(fd);
                return Claim::Busy;
            }
            m_claim = fd;
            m_claimName = native;
            return Claim::Claimed;
        }
        if (errno != EEXIST) {
            if (error)
                *error = QStringLiteral("Cannot create the output file %1: %2")
                             .arg(m_folderPath + QLatin1Char('/') + name, systemError(errno));
            return Claim::Failed;
        }
        if (m_rules.foldsCase) {
            const QByteArray spelled = spellingOf(native);
            if (!spelled.isEmpty())
                native = spelled;
        }
        struct stat st;
        if (::fstatat(m_folder, native.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue; // gone again: try anew
        switch (OutputStateAt(m_folder, native)) {
        case OutputState::Free:
            continue;
        case OutputState::Output:
            return Claim::Output;
        case OutputState::Other:
            return Claim::Other;
        case OutputState::NoOutput:
            break;
        }
        if (S_ISLNK(st.st_mode)) {
            // A dangling link: the link goes, never what it might point to later.
            ::unlinkat(m_folder, native.constData(), 0);
            continue;
        }
        // An empty file: a claim its run still holds, or one a crashed run left.
        fd = ::openat(m_folder, native.constData(),
                      O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 && errno == ENOENT)
            continue;
        if (fd < 0)
            return Claim::Busy; // someone's we cannot even read: left alone
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            closeFd(fd);
            return Claim::Busy;
        }
        struct stat held;
        if (::fstat(fd, &held) == 0 && held.st_size == 0 && isOurs(native, fd)) {
            m_claim = fd;
            m_claimName = native;
            return Claim::Claimed;
        }
        closeFd(fd); // replaced or written while we looked: look again
    }
    return Claim::Busy;
}

QString OutputFile::claimedName() const
{
    return QFile::decodeName(m_claimName);
}

QByteArray OutputFile::spellingOf(const QByteArray &name) const
{
    const QString wanted = QFile::decodeName(name).toCaseFolded();
    for (const QByteArray &there : namesIn(m_folder)) {
        if (QFile::decodeName(there).toCaseFolded() == wanted)
            return there;
    }
    return {};
}

bool OutputFile::createWorkFile(const QString &finalName, bool unnamed, QString *error)
{
    dropWork();
    if (unnamed) {
        // No name at all until commit(): nothing to swap, and nothing left after a crash.
        m_work =
            aboveStandardStreams(::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666));
        if (m_work >= 0 && ::flock(m_work, LOCK_EX | LOCK_NB) == 0)
            return true;
        closeFd(m_work); // the file system has none: a named one instead
    }
    int lastError = EEXIST;
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const QByteArray name = workName(finalName);
        int fd = ::openat(m_folder, name.constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            lastError = errno;
            if (lastError != EEXIST)
                break;
            continue;
        }
        fd = aboveStandardStreams(fd);
        // Another run's clean-up may hold it for a moment, and remove it: take another.
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && isOurs(name, fd)) {
            m_work = fd;
            m_workName = name;
            return true;
        }
        closeFd(fd);
    }
    if (error)
        *error = QStringLiteral("Cannot create the output file in %1: %2")
                     .arg(m_folderPath, systemError(lastError));
    return false;
}

QString OutputFile::encoderPath() const
{
    return m_work < 0 ? QString() : QStringLiteral("/proc/self/fd/%1").arg(m_work);
}

qint64 OutputFile::workSize() const
{
    struct stat st;
    if (m_work < 0 || ::fstat(m_work, &st) != 0)
        return -1;
    return st.st_size;
}

int OutputFile::reopenWork() const
{
    if (m_work < 0)
        return -1;
    return ::open(QFile::encodeName(encoderPath()).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

bool OutputFile::commit(const QString &finalName, QString *error)
{
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    const QString replaced = QStringLiteral(
        "Another program removed or replaced the work file; the output was not kept");
    if (m_work < 0)
        return fail(replaced);
    if (!stillInPlace())
        return fail(QStringLiteral("The output folder %1 was moved or removed during the "
                                   "conversion; the output was not kept")
                        .arg(m_folderPath));
    if (m_workName.isEmpty()) {
        // The unnamed file gets a hidden name first: a link cannot replace what is there.
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_work);
        int result = -1;
        QByteArray name;
        for (int attempt = 0; attempt < Attempts && result != 0; ++attempt) {
            name = workName(finalName);
            result =
                ::linkat(AT_FDCWD, self.constData(), m_folder, name.constData(), AT_SYMLINK_FOLLOW);
            if (result != 0 && errno != EEXIST)
                break;
        }
        if (result != 0)
            return fail(
                QStringLiteral("Cannot put the output in place: %1").arg(systemError(errno)));
        m_workName = name;
    }
    if (!isOurs(m_workName, m_work)) {
        m_workName.clear(); // whatever is there now is not ours to remove
        return fail(replaced);
    }
    const QByteArray target = QFile::encodeName(finalName);
    // The claim must still hold the name, and still be empty: another program may also have
    // written into it rather than put a file of its own in its place.
    struct stat claimed;
    if (m_claim >= 0 &&
        (!isOurs(target, m_claim) || ::fstat(m_claim, &claimed) != 0 || claimed.st_size != 0))
        return fail(
            QStringLiteral("Another program wrote the output meanwhile; it is left as it was"));
    if (::renameat(m_folder, m_workName.constData(), m_folder, target.constData()) != 0)
        return fail(QStringLiteral("Cannot put the output in place: %1").arg(systemError(errno)));
    m_workName.clear();
    m_claimName.clear(); // the output took its place
    closeFd(m_claim);
    // Swapped between the look and the rename: what now has the name is not our output.
    if (!isOurs(target, m_work))
        return fail(replaced);
    closeFd(m_work);
    discard();
    return true;
}

void OutputFile::dropWork()
{
    if (m_work >= 0 && !m_workName.isEmpty() && isOurs(m_workName, m_work))
        ::unlinkat(m_folder, m_workName.constData(), 0);
    m_workName.clear();
    closeFd(m_work);
}

void OutputFile::discard()
{
    dropWork();
    if (m_claim >= 0 && isOurs(m_claimName, m_claim)) {
        struct stat st;
        if (::fstat(m_claim, &st) == 0 && st.st_size == 0)
            ::unlinkat(m_folder, m_claimName.constData(), 0);
    }
    m_claimName.clear();
    closeFd(m_claim);
    closeFd(m_folder);
    closeFd(m_root);
}

bool OutputFile::stillInPlace() const
{
    int fd = ::open(QFile::encodeName(m_rootPath).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const QByteArray &name : m_below) {
        if (fd < 0)
            break;
        const int next =
            ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
    }
    struct stat now;
    struct stat ours;
    const bool same =
        fd >= 0 && ::fstat(fd, &now) == 0 && ::fstat(m_folder, &ours) == 0 && sameFile(now, ours);
    if (fd >= 0)
        ::close(fd);
    return same;
}

bool OutputFile::isOurs(const QByteArray &name, int fd) const
{
    struct stat there;
    struct stat ours;
    return fd >= 0 && m_folder >= 0 &&
           ::fstatat(m_folder, name.constData(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           ::fstat(fd, &ours) == 0 && sameFile(there, ours);
}

void IgnoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void RestoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_DFL);
}
