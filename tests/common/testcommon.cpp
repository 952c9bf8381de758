#include "common/testcommon.h"

#include "core/base/durationtext.h"
#include "core/base/runandcapture.h"
#include "core/base/workfilename.h"
#include "core/joblist/joblistmodel.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QStandardPaths>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QString ffmpegPath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString ffprobePath()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
}

bool makeSine(const QString &path, double seconds, int rate, int channels, const QStringList &extra)
{
    QStringList args = {QStringLiteral("-v"),
                        QStringLiteral("error"),
                        QStringLiteral("-y"),
                        QStringLiteral("-f"),
                        QStringLiteral("lavfi"),
                        QStringLiteral("-i"),
                        QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                        QStringLiteral("-ar"),
                        QString::number(rate),
                        QStringLiteral("-ac"),
                        QString::number(channels)};
    args += extra;
    args.append(path);
    QByteArray output;
    const bool ok = RunAndCapture(ffmpegPath(), args, output).succeeded();
    if (!ok)
        qWarning("making %s failed: %s", qPrintable(path), output.constData());
    return ok;
}

QString probeEntries(const QString &path, const QString &entries)
{
    QByteArray output;
    RunAndCapture(ffprobePath(),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   entries, QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), path},
                  output);
    return QString::fromUtf8(output).trimmed();
}

bool decodesCleanly(const QString &path)
{
    QByteArray output;
    const RunResult run =
        RunAndCapture(ffmpegPath(),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), path,
                       QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
                      output);
    return run.succeeded() && output.trimmed().isEmpty();
}

bool processAlive(qint64 pid)
{
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

QMap<QString, QByteArray> snapshot(const QString &root)
{
    QMap<QString, QByteArray> state;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            continue;
        if (S_ISLNK(st.st_mode))
            state.insert(path, "link to " + QFile::encodeName(info.symLinkTarget()));
        else if (S_ISFIFO(st.st_mode))
            state.insert(path, "fifo");
        else if (S_ISDIR(st.st_mode))
            state.insert(path, "dir");
        else
            state.insert(path,
                         QCryptographicHash::hash(readFile(path), QCryptographicHash::Sha256));
    }
    return state;
}

namespace {

// This program and every process below it (the front end a test starts, its encoders).
QList<qint64> ourProcesses()
{
    QHash<qint64, qint64> parents;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (!number)
            continue;
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const qsizetype close = stat.lastIndexOf(')');
        if (close >= 0)
            parents.insert(pid, stat.mid(close + 2).split(' ').value(1).toLongLong());
    }
    QList<qint64> ours = {qint64(::getpid())};
    for (qsizetype i = 0; i < ours.size(); ++i) {
        for (auto it = parents.cbegin(); it != parents.cend(); ++it) {
            if (it.value() == ours.at(i) && !ours.contains(it.key()))
                ours.append(it.key());
        }
    }
    return ours;
}

} // namespace

QStringList workFilesIn(const QString &dir)
{
    QStringList found;
    for (const QString &name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (IsWorkFileName(name))
            found.append(name);
    }
    // An unnamed work file shows in /proc as "<dir>/#<inode> (deleted)" while a job or its
    // encoder holds it; it is reached from `dir` through that descriptor.
    const QString unnamed = QDir::cleanPath(QFileInfo(dir).absoluteFilePath()) + u"/#"_qs;
    QSet<QPair<quint64, quint64>> seen;
    for (qint64 pid : ourProcesses()) {
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::AllEntries | QDir::System)) {
            const QString path = fds + u'/' + fd;
            struct stat st;
            if (!QFileInfo(path).symLinkTarget().startsWith(unnamed) ||
                ::stat(QFile::encodeName(path).constData(), &st) != 0 || st.st_nlink != 0)
                continue;
            if (!seen.contains({quint64(st.st_dev), quint64(st.st_ino)})) {
                seen.insert({quint64(st.st_dev), quint64(st.st_ino)});
                found.append(QDir(dir).relativeFilePath(path));
            }
        }
    }
    return found;
}

namespace FakeEncoder {

QString path()
{
    return QStringLiteral(WT_FAKE_ENCODER);
}

void reset()
{
    for (const char *name :
         {"FAKE_DURATION", "FAKE_TRANSCRIPT", "FAKE_CHUNK_BYTES", "FAKE_CHUNK_DELAY_MS",
          "FAKE_OUTPUT_BYTES", "FAKE_EXIT", "FAKE_MODE", "FAKE_HANG_ON", "FAKE_ARGS_LOG",
          "FAKE_PID_FILE", "FAKE_IGNORE_TERM", "FAKE_SLEEP_MS", "FAKE_SLOW_ON", "FAKE_FAIL_ON",
          "FAKE_TIMES_LOG", "FAKE_WRITE_DELAY_MS", "FAKE_WAIT_FOR", "WT_SHUTDOWN_RECORD"})
        qunsetenv(name);
}

void set(const char *knob, const QByteArray &value)
{
    qputenv(knob, value);
}

QList<qint64> pids(const QString &pidFile)
{
    QList<qint64> found;
    for (const QByteArray &line : readFile(pidFile).split('\n')) {
        if (!line.trimmed().isEmpty())
            found.append(line.trimmed().toLongLong());
    }
    return found;
}

QList<Conversion> conversions(const QString &timesLog)
{
    QList<Conversion> runs;
    for (const QByteArray &line : readFile(timesLog).split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3)
            continue;
        const qint64 at = fields.at(1).toLongLong();
        const QString in =
            QString::fromUtf8(line.mid(fields.at(0).size() + fields.at(1).size() + 2));
        if (fields.at(0) == "start") {
            runs.append({in, at, -1});
            continue;
        }
        for (Conversion &run : runs) {
            if (run.in == in && run.end < 0) {
                run.end = at;
                break;
            }
        }
    }
    return runs;
}

int mostAtOnce(const QList<Conversion> &runs)
{
    int most = 0;
    for (const Conversion &run : runs) {
        // At the moment one starts, count those started and not ended yet.
        int atOnce = 0;
        for (const Conversion &other : runs) {
            if (other.start <= run.start && (other.end < 0 || other.end > run.start))
                ++atOnce;
        }
        most = std::max(most, atOnce);
    }
    return most;
}

} // namespace FakeEncoder

QString timeShown(const JobListModel &model, int row)
{
    return model.data(model.index(row, JobListModel::TimeColumn)).toString();
}

QString sizeShown(const JobListModel &model, int row)
{
    return model.data(model.index(row, JobListModel::SizeColumn)).toString();
}

std::optional<int> secondsOf(const QString &duration)
{
    if (duration.isEmpty())
        return std::nullopt;
    return DurationToSeconds(duration);
}
