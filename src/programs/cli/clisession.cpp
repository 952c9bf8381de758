#include "programs/cli/clisession.h"

#include "core/base/durationtext.h"
#include "core/base/progresspercent.h"
#include "core/base/sizeestimate.h"
#include "core/convert/batchprogress.h"
#include "core/convert/commandline.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/outputplan.h"
#include "core/convert/reportline.h"
#include "core/convert/targetformat.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/rawnamelinks.h"
#include "core/session/conversionsession.h"
#include "core/settings/settingsstore.h"
#include "core/tags/tagtext.h"
#include "programs/cli/reportfile.h"
#include "programs/cli/signalwatcher.h"
#include "programs/cli/writeline.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int ExitInterrupted = 130;
// As a shell reports a program that SIGPIPE ended: what a pipeline expects of `| head -1`.
constexpr int ExitOutputClosed = 128 + SIGPIPE;

void complain(const QString &text)
{
    WriteLine(STDERR_FILENO,
              QStringLiteral("wavetransmuter-cli: ").toLocal8Bit() + text.toLocal8Bit());
}

void complain(const QByteArray &path, const QString &text)
{
    WriteLine(STDERR_FILENO, "wavetransmuter-cli: " + path + ": " + text.toLocal8Bit());
}

QByteArray fields(const QList<QByteArray> &parts)
{
    QByteArray line;
    for (const QByteArray &part : parts) {
        if (!line.isEmpty())
            line += '\t';
        line += part;
    }
    return line;
}

} // namespace

CliSession::CliSession(const CliOptions &options, RawNameLinks *links, QObject *parent)
    : QObject(parent), m_options(options), m_links(links), m_session(new ConversionSession(this)),
      m_model(m_session->model())
{
    m_progressToTerminal = ::isatty(STDERR_FILENO) == 1;
    // Ctrl+C reaches only us; the encoders are stopped as "stop" stops them.
    m_session->setEncoderInOwnProcessGroup(true);
}

CliSession::~CliSession()
{
    delete m_session; // ends the encoders and removes their work files
}

int CliSession::run()
{
    auto *signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, [this] { stop(ExitInterrupted); });

    // Without an encoder no row could get a time or an output: refused before anything.
    if (const QString problem = EncoderProblem(m_session->encoderPath()); !problem.isEmpty()) {
        complain(problem);
        return 2;
    }
    QString error;
    QVector<Files> files;
    // The output folder first: the report may go into it.
    if (!collectFiles(files, error) || !chooseOutputDir(error))
        return refuse(error);
    if (!m_options.reportPath.isEmpty()) {
        if (m_options.reportPath == QLatin1String("-")) {
            m_reportToStdout = true;
        } else {
            m_report = new ReportFile(m_options.reportPath, this);
            if (!m_report->inspect(&error))
                return refuse(error);
        }
    }
    auto none = [&files] {
        return std::all_of(files.begin(), files.end(),
                           [](const Files &f) { return f.paths.isEmpty(); });
    };
    if (none()) {
        complain(QStringLiteral("no media files to convert"));
        return 1;
    }
    keepShard(files);
    if (none()) {
        // More parts than files: this part's work is done, which is no failure.
        complain(QStringLiteral("--shard %1/%2: this part holds no files")
                     .arg(m_options.shard)
                     .arg(m_options.shards));
        return 0;
    }

    // Rows are made as "addfile" and "addfolder" make them: tag, title, probe, size. A real
    // run does not probe: each conversion reports its file's duration itself, so nothing
    // comes before the first conversion but reading the tags.
    ConversionOptions conversion = m_session->options();
    conversion.profile = m_options.profile;
    conversion.naming = m_options.naming;
    conversion.jobsAtOnce = m_options.jobs;
    conversion.tags.keepSourceTime = m_options.keepTime;
    m_session->setOptions(conversion);
    m_session->setProbeDurations(m_options.dryRun);
    const QMetaObject::Connection added =
        connect(m_session, &ConversionSession::addFinished, &m_loop, [this] {
            if (!m_session->isAdding())
                m_loop.exit(0);
        });
    for (const Files &group : std::as_const(files))
        m_session->addFiles(group.paths, group.baseFolder);
    if (m_session->isAdding())
        m_loop.exec();
    disconnect(added);
    if (m_interrupted)
        return m_stopStatus;
    if (m_options.dryRun)
        return dryRun();
    if (!openReport(error))
        return m_interrupted ? m_stopStatus : refuse(error);
    return convert();
}

int CliSession::refuse(const QString &error)
{
    complain(error);
    if (!m_madeOutputDir.isEmpty())
        ::rmdir(QFile::encodeName(m_madeOutputDir).constData()); // only while empty
    return 2;
}

bool CliSession::collectFiles(QVector<Files> &files, QString &error) const
{
    // Each file once, however many PATHs name it ("lib lib/A", a file and its folder, two
    // links to one file): as part of the first PATH that does.
    QSet<QPair<quint64, quint64>> seen;
    for (const QString &path : m_options.paths) {
        const QFileInfo info(path);
        Files group;
        if (info.isDir()) {
            QStringList skipped;
            group.baseFolder = QDir::cleanPath(info.absoluteFilePath());
            group.paths = ScanFolder(group.baseFolder, m_options.recursive, m_links, &skipped);
            for (const QString &what : skipped)
                complain(QStringLiteral("not added: %1").arg(what));
        } else if (info.isFile()) {
            group.paths = QStringList{QDir::cleanPath(info.absoluteFilePath())};
        } else {
            error = QStringLiteral("no such file or folder: %1").arg(path);
            return false;
        }
        group.paths.removeIf([&seen](const QString &file) {
            struct stat st;
            if (::stat(QFile::encodeName(file).constData(), &st) != 0)
                return false; // its row will say what is wrong with it
            const QPair<quint64, quint64> id(st.st_dev, st.st_ino);
            if (seen.contains(id))
                return true;
            seen.insert(id);
            return false;
        });
        files.append(group);
    }
    return true;
}

void CliSession::keepShard(QVector<Files> &files) const
{
    if (m_options.shards <= 1)
        return;
    // Every run of the N must cut the same list into the same parts, wherever the library
    // is mounted and whatever the locale: the files are ordered by the bytes of their paths
    // below the PATH they came from (a file given itself by its name), PATH after PATH.
    // Part K takes every N-th file from the K-th on rather than a block, so each part gets
    // its share of every folder: a folder of long recordings does not fall to one machine.
    struct Item
    {
        int group;
        QByteArray key;
        QString path;
    };
    auto rawPath = [this](const QString &path) {
        return m_links ? m_links->originalPath(path) : QFile::encodeName(path);
    };
    QVector<Item> items;
    for (int g = 0; g < files.size(); ++g) {
        const QByteArray base =
            files.at(g).baseFolder.isEmpty() ? QByteArray() : rawPath(files.at(g).baseFolder) + '/';
        for (const QString &path : files.at(g).paths) {
            const QByteArray raw = rawPath(path);
            QByteArray key = raw.mid(raw.lastIndexOf('/') + 1);
            if (!base.isEmpty() && raw.startsWith(base))
                key = raw.mid(base.size());
            items.append({g, key, path});
        }
    }
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
        return a.group != b.group ? a.group < b.group : a.key < b.key;
    });
    QSet<QString> kept;
    for (qsizetype i = m_options.shard - 1; i < items.size(); i += m_options.shards)
        kept.insert(items.at(i).path);
    for (Files &group : files)
        group.paths.removeIf([&kept](const QString &path) { return !kept.contains(path); });
}

bool CliSession::chooseOutputDir(QString &error)
{
    QString dir = m_options.outputDir;
    if (dir.isEmpty()) {
        // The saved folder (or the music folder), made when missing as at the desktop's start.
        const SettingsStore store;
        dir = store.LoadOutputDir(&error);
        if (!error.isEmpty())
            return false;
    }
    dir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    m_session->setOutputDir(dir);
    const bool existed = QFileInfo::exists(dir) || QFileInfo(dir).isSymLink();
    if (m_options.dryRun && !existed && QFileInfo(QFileInfo(dir).path()).isDir()) {
        // A dry run changes nothing; it only says what the run would do.
        complain(QStringLiteral("output folder %1 does not exist; it would be created").arg(dir));
        return true;
    }
    if (!ConversionSession::prepareOutputDir(dir, &error))
        return false;
    if (!existed)
        m_madeOutputDir = dir;
    return true;
}

bool CliSession::openReport(QString &error)
{
    if (!m_report)
        return true;
    const QVector<PlannedOutput> plan = m_session->planOutputs(*m_options.format);
    // Looked at again: a while may have passed since, reading the tags.
    for (int attempt = 0;; ++attempt) {
        if (!m_report->inspect(&error))
            return false;
        error = m_report->conflict(*m_model, plan);
        if (!error.isEmpty())
            return false;
        switch (m_report->open(&error)) {
        case ReportFile::Open::Opened:
            return true;
        case ReportFile::Open::Failed:
            return false;
        case ReportFile::Open::Changed:
            if (attempt < 2)
                continue;
            error = QStringLiteral("the report %1 keeps changing").arg(m_report->path());
            return false;
        case ReportFile::Open::Waiting:
            break;
        }
        complain(QStringLiteral("waiting for a reader of the FIFO %1").arg(m_report->path()));
        const QMetaObject::Connection opened =
            connect(m_report, &ReportFile::opened, &m_loop, [this] { m_loop.exit(0); });
        const QMetaObject::Connection failed =
            connect(m_report, &ReportFile::failed, &m_loop, [this, &error](const QString &why) {
                error = why;
                m_loop.exit(2);
            });
        const int waited = m_loop.exec();
        disconnect(opened);
        disconnect(failed);
        m_report->cancel();
        return waited == 0 && !m_interrupted;
    }
}

int CliSession::dryRun()
{
    const TargetFormat &format = *m_options.format;
    m_model->RecomputeSizes(format.sizeBitrate(m_options.profile));
    const QVector<PlannedOutput> plan = m_session->planOutputs(format);
    bool wouldFail = false;
    for (int row = 0; row < plan.size(); ++row) {
        const PlannedOutput &out = plan.at(row);
        QList<QByteArray> line = {
            EscapeLineField(TagTextToDisplay(m_model->entry(row).Title).toUtf8()),
            DurationText(m_model->seconds(row)).toUtf8(),
            SizeText(m_model->sizeBytes(row)).toUtf8(), shown(out.path)};
        if (!out.sameOutputRows.isEmpty()) {
            QStringList others;
            for (int other : out.sameOutputRows)
                others.append(QString::number(other + 1));
            line.append(QStringLiteral("same output as row %1")
                            .arg(others.join(QStringLiteral(", ")))
                            .toUtf8());
        }
        if (out.replacesExistingFile)
            line.append("replaces an existing file");
        if (!out.skipReason.isEmpty()) {
            const QString reason = out.skipReason.left(1).toLower() + out.skipReason.mid(1);
            line.append(EscapeLineField(QStringLiteral("skipped: %1").arg(reason).toUtf8()));
        }
        if (!out.refusal.isEmpty()) {
            line.append(EscapeLineField(out.refusal.toUtf8()));
            wouldFail = true;
        }
        if (const int failure = WriteLine(STDOUT_FILENO, fields(line))) {
            lostOutput(QStringLiteral("standard output"), failure);
            return m_stopStatus;
        }
    }
    return wouldFail ? 1 : 0;
}

int CliSession::convert()
{
    connect(m_session, &ConversionSession::jobStarted, this,
            [this](int row) { m_currentRow = row; });
    connect(m_session, &ConversionSession::progress, this, &CliSession::showProgress);
    connect(m_session, &ConversionSession::jobEnded, this, &CliSession::onJobEnded);
    connect(m_session, &ConversionSession::batchEnded, &m_loop, [this] { m_loop.exit(0); });

    // An earlier report is emptied only now, as the run starts.
    if (QString error; m_report && !m_report->begin(&error))
        return refuse(error);
    if (!m_session->startConversion(*m_options.format))
        return 1;
    m_loop.exec();
    printHeldLines(true); // rows after one that never ended (interrupted) still say theirs
    if (m_interrupted)
        return m_stopStatus;
    const BatchTally &tally = m_session->tally();
    return tally.failed > 0 || tally.stopped > 0 ? 1 : 0;
}

void CliSession::stop(int status)
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_stopStatus = status;
    // Our own encoder only, ended and its partial output removed before we exit.
    m_session->shutdown();
    clearProgressLine();
    // After the rows the stop ended have said so: the session tells them from the event loop.
    QMetaObject::invokeMethod(
        &m_loop, [this] { m_loop.exit(ExitInterrupted); }, Qt::QueuedConnection);
}

void CliSession::lostOutput(const QString &what, int error)
{
    // A write a stopping signal broke off: the signal itself stops the run.
    if (error == EINTR || m_interrupted)
        return;
    if (error == EPIPE) {
        complain(QStringLiteral("%1 was closed by its reader; stopping").arg(what));
        stop(ExitOutputClosed);
        return;
    }
    complain(QStringLiteral("cannot write %1: %2; stopping")
                 .arg(what, QString::fromLocal8Bit(std::strerror(error))));
    stop(1);
}

void CliSession::showProgress(int done, int total, int secondsLeft)
{
    if (!m_progressToTerminal)
        return;
    const std::optional<int> percent = ProgressPercent(done, total);
    if (!percent)
        return;
    const QString percentText = QString::number(*percent) + QLatin1Char('%');
    if (m_session->showsWholeBatch()) {
        writeProgressLine(QStringLiteral("[%1/%2 done, %3 converting] %4")
                              .arg(m_endedRows)
                              .arg(m_model->rowCount())
                              .arg(m_session->runningJobs())
                              .arg(BatchProgressText(percentText, secondsLeft))
                              .toLocal8Bit());
        return;
    }
    if (m_currentRow < 0 || m_currentRow >= m_model->rowCount())
        return;
    const QString title = TagTextToDisplay(m_model->entry(m_currentRow).Title);
    writeProgressLine(
        QStringLiteral("[%1/%2] ").arg(m_currentRow + 1).arg(m_model->rowCount()).toLocal8Bit() +
        EscapeLineField(title.toUtf8()) + "  " + percentText.toLocal8Bit());
}

void CliSession::writeProgressLine(const QByteArray &line)
{
    const QByteArray bytes = "\r\x1b[K" + line;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliSession::clearProgressLine()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

void CliSession::onJobEnded(int row)
{
    clearProgressLine();
    if (row == m_currentRow)
        m_currentRow = -1;
    ++m_endedRows;
    const JobStatus status = m_model->status(row);
    const QByteArray source = shown(m_model->entry(row).SourcePath);
    // The report's own file gets each line as the row ends, written through, so a run killed
    // midway leaves a report of what had ended; on standard output it takes the status line's
    // place.
    const QByteArray report =
        m_report || m_reportToStdout ? ReportLine(*m_model, row, m_links) : QByteArray();
    if (m_report && !m_reportLost) {
        if (const int failure = m_report->writeLine(report)) {
            m_reportLost = failure != EINTR;
            lostOutput(QStringLiteral("the report %1").arg(m_report->path()), failure);
        }
    }
    const QByteArray line =
        m_reportToStdout
            ? report
            : fields({JobStatusText(status).toUtf8(), source, shown(m_model->run(row).output)});
    // A skipped row is no fault: why it was skipped is in the report, not on standard error.
    m_held.insert(row,
                  {line, source, status == JobStatus::Skipped ? QString() : m_model->reason(row)});
    printHeldLines(!m_options.keepOrder);
}

void CliSession::printHeldLines(bool all)
{
    while (!m_held.isEmpty() && (all || m_held.firstKey() == m_nextToPrint)) {
        m_nextToPrint = m_held.firstKey() + 1;
        const Held held = m_held.take(m_held.firstKey());
        if (!m_stdoutLost) {
            if (const int failure = WriteLine(STDOUT_FILENO, held.line)) {
                m_stdoutLost = failure != EINTR;
                lostOutput(QStringLiteral("standard output"), failure);
            }
        }
        if (!held.reason.isEmpty())
            complain(held.source, held.reason);
    }
}

QByteArray CliSession::shown(const QString &path) const
{
    const QByteArray bytes = m_links ? m_links->originalPath(path) : QFile::encodeName(path);
    return EscapeLineField(bytes);
}
