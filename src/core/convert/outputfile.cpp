#include "core/convert/outputfile.h"

#include "core/base/workfilename.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qsizetype MaxFileNameBytes = 255;

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
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

bool MakeOutputFolders(const QString &root, const QString &finalPath, QString *error)
{
    const QString folder = QFileInfo(finalPath).path();
    if (!folder.startsWith(root + QLatin1Char('/')))
        return true; // directly in root, or not below it: nothing of ours to make
    QByteArray path = QFile::encodeName(root);
    for (const QString &name : folder.mid(root.size() + 1).split(QLatin1Char('/'))) {
        path += '/' + QFile::encodeName(name);
        if (::mkdir(path.constData(), 0777) == 0)
            continue;
        const int failure = errno;
        struct stat st;
        if (failure == EEXIST && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        if (error)
            *error = QStringLiteral("Cannot create the folder %1: %2")
                         .arg(QFile::decodeName(path), failure == EEXIST
                                                           ? QStringLiteral("a file is in the way")
                                                           : systemError(failure));
        return false;
    }
    return true;
}

QString CreateWorkFile(const QString &finalPath, QString *error)
{
    const QFileInfo info(finalPath);
    const QString name = info.fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QByteArray folder = QFile::encodeName(info.path()) + '/';
    const QByteArray prefix =
        folder + '.' + workStem(stem, QFile::encodeName(extension).size()) + WorkFileMarker.data();
    int lastError = EEXIST;
    for (int attempt = 0; attempt < 100 && lastError == EEXIST; ++attempt) {
        const QByteArray path = prefix + randomTag() + QFile::encodeName(extension);
        const int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return QFile::decodeName(path);
        }
        lastError = errno;
    }
    if (error)
        *error = QStringLiteral("Cannot create the output file in %1: %2")
                     .arg(info.path(), systemError(lastError));
    return {};
}

bool CommitWorkFile(const QString &workFile, const QString &finalPath, QString *error, bool replace)
{
    const QByteArray from = QFile::encodeName(workFile);
    const QByteArray to = QFile::encodeName(finalPath);
    int result = replace ? ::rename(from.constData(), to.constData())
                         : ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                                       RENAME_NOREPLACE);
    if (!replace && result != 0 && errno == EINVAL) {
        // A file system without RENAME_NOREPLACE: a hard link fails just as surely on a name
        // that is taken.
        result = ::link(from.constData(), to.constData());
        if (result == 0)
            ::unlink(from.constData());
    }
    if (result == 0)
        return true;
    if (error)
        *error = errno == EEXIST
                     ? QStringLiteral("Another program wrote the output meanwhile; it is left as "
                                      "it was")
                     : QStringLiteral("Cannot put the output in place: %1").arg(systemError(errno));
    return false;
}

void DiscardWorkFile(const QString &workFile)
{
    if (!workFile.isEmpty())
        ::unlink(QFile::encodeName(workFile).constData());
}

void IgnoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

void RestoreFileSizeLimitSignal()
{
    std::signal(SIGXFSZ, SIG_DFL);
}
