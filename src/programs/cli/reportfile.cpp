#include "programs/cli/reportfile.h"

#include "core/convert/commandline.h"
#include "core/convert/namerules.h"
#include "core/convert/sourcefiles.h"
#include "core/joblist/joblistmodel.h"
#include "programs/cli/writeline.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int FifoRetryMs = 100;

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("no regular file");
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

ReportFile::ReportFile(const QString &path, QObject *parent) : QObject(parent), m_path(path)
{
    m_retry.setInterval(FifoRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &ReportFile::retryFifo);
}

ReportFile::~ReportFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_inspected >= 0)
        ::close(m_inspected);
}

QString ReportFile::procPath() const
{
    return QStringLiteral("/proc/self/fd/%1").arg(m_inspected);
}

QString ReportFile::failure(int error) const
{
    return QStringLiteral("cannot write the report %1: %2")
        .arg(m_path, QString::fromLocal8Bit(std::strerror(error)));
}

bool ReportFile::inspect(QString *error)
{
    if (m_inspected >= 0)
        ::close(m_inspected);
    m_fifo = false;
    const QByteArray name = QFile::encodeName(m_path);
    // O_PATH opens nothing for reading or writing: a device or FIFO sees no open.
    m_inspected = ::open(name.constData(), O_PATH | O_CLOEXEC);
    if (m_inspected < 0) {
        const int openError = errno;
        struct stat link;
        if (openError == ENOENT && ::lstat(name.constData(), &link) == 0) {
            *error =
                QStringLiteral("cannot write the report %1: it is a link to nothing").arg(m_path);
            return false;
        }
        const QString folder = QFileInfo(m_path).absolutePath();
        if (openError == ENOENT && QFileInfo(folder).isDir()) {
            // Made by open(); said now if it cannot be, not after the tags have been read.
            if (::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(), W_OK | X_OK,
                            AT_EACCESS) == 0)
                return true;
            *error = failure(errno);
            return false;
        }
        *error = failure(openError);
        return false;
    }
    struct stat st;
    if (::fstat(m_inspected, &st) != 0) {
        *error = failure(errno);
        return false;
    }
    m_fifo = S_ISFIFO(st.st_mode);
    if (S_ISREG(st.st_mode) || m_fifo) {
        if (::faccessat(AT_FDCWD, QFile::encodeName(procPath()).constData(), W_OK, AT_EACCESS) == 0)
            return true;
        *error = failure(errno);
        return false;
    }
    *error = QStringLiteral("the report %1 is %2; it must be a file or FIFO (--report - writes "
                            "to standard output)")
                 .arg(m_path, kindOf(st.st_mode));
    return false;
}

QString ReportFile::conflict(const JobListModel &model, const QVector<PlannedOutput> &plan) const
{
    auto output = [&](int row) {
        return QStringLiteral("the report %1 is the output of %2; give the report another name")
            .arg(m_path, model.entry(row).SourcePath);
    };
    if (m_inspected >= 0) {
        // Through /proc, the very file inspected is compared, whatever its name is now.
        const QString here = procPath();
        const SourceFiles::Source source = SourceFiles(model).sourceAt(here);
        if (source.row >= 0)
            return QStringLiteral("the report %1 is the source %2 of this run; sources are "
                                  "never written over")
                .arg(m_path, source.path);
        for (int row = 0; row < plan.size(); ++row) {
            const PlannedOutput &out = plan.at(row);
            // A skipped row's output counts: it is what a resumed run relies on.
            if (IsSameFile(here, out.path))
                return output(row);
        }
        return {};
    }
    // Not there yet: an output not written yet is the report when it has the report's name,
    // as the folder's file system compares names, in the report's very folder.
    const QFileInfo report(m_path);
    const QString folder = report.absolutePath();
    struct stat reportFolder;
    if (::stat(QFile::encodeName(folder).constData(), &reportFolder) != 0)
        return {};
    const NameRules rules = NameRulesFor(folder);
    const QString name = rules.key(report.fileName());
    for (int row = 0; row < plan.size(); ++row) {
        const PlannedOutput &out = plan.at(row);
        const QFileInfo candidate(out.path);
        if (out.path.isEmpty() ||
            candidate.fileName().compare(report.fileName(), Qt::CaseInsensitive) != 0 ||
            rules.key(candidate.fileName()) != name)
            continue;
        struct stat outputFolder;
        if (::stat(QFile::encodeName(candidate.absolutePath()).constData(), &outputFolder) == 0 &&
            sameFile(outputFolder, reportFolder))
            return output(row);
    }
    return {};
}

ReportFile::Open ReportFile::open(QString *error)
{
    if (m_inspected < 0) {
        // New: made here, never through a link another user may have put in its place.
        m_fd = ::open(QFile::encodeName(m_path).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
        if (m_fd >= 0)
            return Open::Opened;
        if (errno == EEXIST)
            return Open::Changed;
        *error = failure(errno);
        return Open::Failed;
    }
    if (!m_fifo) {
        m_fd = ::open(QFile::encodeName(procPath()).constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (m_fd >= 0)
            return Open::Opened;
        *error = failure(errno);
        return Open::Failed;
    }
    // A FIFO's open for writing blocks until a reader comes, and would take no signal on the
    // way: it is tried without blocking, again and again from the event loop.
    const int fifoError = openFifo();
    if (fifoError == 0)
        return Open::Opened;
    if (fifoError == ENXIO) {
        m_retry.start();
        return Open::Waiting;
    }
    *error = failure(fifoError);
    return Open::Failed;
}

int ReportFile::openFifo()
{
    const int fd = ::open(QFile::encodeName(procPath()).constData(),
                          O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno;
    // Writes wait for a slow reader; a stopping signal still ends the wait (WriteLine()).
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    return 0;
}

void ReportFile::retryFifo()
{
    const int fifoError = openFifo();
    if (fifoError == ENXIO)
        return;
    m_retry.stop();
    if (fifoError == 0)
        emit opened();
    else
        emit failed(failure(fifoError));
}

void ReportFile::cancel()
{
    m_retry.stop();
}

bool ReportFile::begin(QString *error)
{
    if (m_fifo || m_fd < 0)
        return true;
    if (::ftruncate(m_fd, 0) == 0 && ::lseek(m_fd, 0, SEEK_SET) == 0)
        return true;
    *error = failure(errno);
    return false;
}

int ReportFile::writeLine(const QByteArray &line)
{
    return WriteLine(m_fd, line);
}
