#include "programs/cli/clisession.h"

#include "core/convert/batchprogress.h"
#include "core/convert/batchsequencer.h"
#include "core/convert/commandline.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/outputplan.h"
#include "core/convert/progressmeter.h"
#include "core/convert/reportline.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/rawnamelinks.h"
#include "core/settings/settingsstore.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"
#include "programs/cli/signalwatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

constexpr int ExitInterrupted = 130;

void writeLine(FILE *stream, const QByteArray &text)
{
    const QByteArray bytes = text + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void complain(const QString &text)
{
    writeLine(stderr, QStringLiteral("wavetransmuter-cli: ").toLocal8Bit() + text.toLocal8Bit());
}

void complain(const QByteArray &path, const QString &text)
{
    writeLine(stderr, "wavetransmuter-cli: " + path + ": " + text.toLocal8Bit());
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
    : QObject(parent), m_options(options), m_links(links), m_model(new JobListModel(this)),
      m_tag(new TID3v1), m_adder(new FileAdder(m_model, m_tag, this)),
      m_batch(new BatchSequencer(m_model, m_tag, this))
{
    m_progressToTerminal = ::isatty(STDERR_FILENO) == 1;
}

CliSession::~CliSession()
{
    m_batch->shutdown();
    delete m_batch;
    delete m_adder;
    delete m_tag;
    if (m_report && m_report != stdout)
        std::fclose(m_report);
}

int CliSession::run()
{
    auto *signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, &CliSession::onSignal);

    // Without an encoder no row could get a time or an output: refused before anything.
    m_encoder = ResolveEncoderPath();
    if (const QString problem = EncoderProblem(m_encoder); !problem.isEmpty()) {
        complain(problem);
        return 2;
    }
    QString error;
    QVector<Files> files;
    if (!collectFiles(files, error) || !openReport(error) || !prepareOutputDir(error)) {
        complain(error);
        return 2;
    }
    if (std::all_of(files.begin(), files.end(), [](const Files &f) { return f.paths.isEmpty(); })) {
        complain(QStringLiteral("no media files to convert"));
        return 1;
    }

    // Rows are made as "addfile" and "addfolder" make them: tag, title, probe, size. A real
    // run does not probe: each conversion reports its file's duration itself, so nothing
    // comes before the first conversion but reading the tags.
    const QString bitrate = m_options.profile.Bitrate;
    m_adder->setEncoderPath(m_encoder);
    m_adder->setProbeDurations(m_options.dryRun);
    m_adder->setBitrateSource([bitrate] { return bitrate; });
    connect(m_adder, &FileAdder::finished, &m_loop, [this] { m_loop.exit(0); });
    for (const Files &group : std::as_const(files))
        m_adder->addFiles(group.paths, group.baseFolder);
    if (m_adder->isBusy())
        m_loop.exec();
    if (m_interrupted)
        return ExitInterrupted;

    return m_options.dryRun ? dryRun() : convert();
}

bool CliSession::collectFiles(QVector<Files> &files, QString &error) const
{
    for (const QString &path : m_options.paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            QStringList skipped;
            const QString folder = QDir::cleanPath(info.absoluteFilePath());
            files.append({ScanFolder(folder, m_options.recursive, m_links, &skipped), folder});
            for (const QString &name : skipped)
                complain(QStringLiteral("skipped, its name cannot be read: %1").arg(name));
        } else if (info.isFile()) {
            files.append({{QDir::cleanPath(info.absoluteFilePath())}, QString()});
        } else {
            error = QStringLiteral("no such file or folder: %1").arg(path);
            return false;
        }
    }
    return true;
}

bool CliSession::prepareOutputDir(QString &error)
{
    QString dir = m_options.outputDir;
    if (dir.isEmpty()) {
        // The saved folder (or the music folder), made when missing as at the desktop's start.
        SettingsStore store;
        dir = store.readOutputDir(&error);
        if (!error.isEmpty())
            return false;
        if (dir.isEmpty())
            dir = SettingsStore::defaultOutputDir();
    }
    m_outputDir = QDir::cleanPath(QFileInfo(dir).absoluteFilePath());
    if (!QFileInfo::exists(m_outputDir)) {
        if (m_options.dryRun && QFileInfo(QFileInfo(m_outputDir).path()).isDir()) {
            // A dry run changes nothing; it only says what the run would do.
            complain(QStringLiteral("output folder %1 does not exist; it would be created")
                         .arg(m_outputDir));
            return true;
        }
        QDir().mkdir(m_outputDir); // one level, as the default folder is made
    }
    if (!QFileInfo(m_outputDir).isDir()) {
        error = QStringLiteral("output folder %1 does not exist and cannot be created")
                    .arg(m_outputDir);
        return false;
    }
    return true;
}

bool CliSession::openReport(QString &error)
{
    if (m_options.reportPath.isEmpty())
        return true;
    if (m_options.reportPath == QLatin1String("-")) {
        m_report = stdout;
        return true;
    }
    m_report = std::fopen(QFile::encodeName(m_options.reportPath).constData(), "w");
    if (!m_report)
        error = QStringLiteral("cannot write the report %1: %2")
                    .arg(m_options.reportPath, QString::fromLocal8Bit(std::strerror(errno)));
    return m_report != nullptr;
}

int CliSession::dryRun()
{
    const TargetFormat &format = *m_options.format;
    m_model->RecomputeSizes(format.sizeBitrate(m_options.profile));
    const QVector<PlannedOutput> plan =
        PlanOutputs(*m_model, m_outputDir, format, m_options.profile, m_options.naming);
    bool wouldFail = false;
    for (int row = 0; row < plan.size(); ++row) {
        const PlannedOutput &out = plan.at(row);
        QList<QByteArray> line = {
            EscapeLineField(TagTextToDisplay(m_model->entry(row).Title).toUtf8()),
            m_model->time(row).toUtf8(), m_model->size(row).toUtf8(), shown(out.path)};
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
        writeLine(stdout, fields(line));
    }
    return wouldFail ? 1 : 0;
}

int CliSession::convert()
{
    const EncodingProfile profile = m_options.profile;
    const QString outputDir = m_outputDir;
    const NamingOptions naming = m_options.naming;
    m_batch->setEncoderPath(m_encoder);
    m_batch->setProfileSource([profile] { return profile; });
    m_batch->setOutputDirSource([outputDir] { return outputDir; });
    m_batch->setNamingSource([naming] { return naming; });
    m_batch->setEncoderInOwnProcessGroup(true);
    m_batch->setMaxJobs(m_options.jobs);
    m_batch->setTimeFromEncoder(true);
    connect(m_batch, &BatchSequencer::jobStarted, this, [this](int row) { m_currentRow = row; });
    connect(m_batch, &BatchSequencer::progress, this, &CliSession::showProgress);
    connect(m_batch, &BatchSequencer::batchProgress, this, &CliSession::showBatchProgress);
    connect(m_batch, &BatchSequencer::jobEnded, this, &CliSession::onJobEnded);
    connect(m_batch, &BatchSequencer::batchFinished, &m_loop, [this] { m_loop.exit(0); });

    if (!m_batch->StartConversion(*m_options.format))
        return 1;
    m_loop.exec();
    printHeldLines(true); // rows after one that never ended (interrupted) still say theirs
    if (m_interrupted)
        return ExitInterrupted;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const JobStatus status = m_model->status(row);
        if (status != JobStatus::Finish && status != JobStatus::Skipped)
            return 1;
    }
    return 0;
}

void CliSession::onSignal()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_adder->cancel();
    // Our own encoder only, ended and its partial output removed before we exit.
    m_batch->shutdown();
    clearProgressLine();
    m_loop.exit(ExitInterrupted);
}

bool CliSession::showsWholeBatch() const
{
    // One row, or one job at a time: the running file is the whole story.
    return m_batch->jobsAtOnce() > 1 && m_model->rowCount() > 1;
}

void CliSession::showProgress(int done, int total)
{
    if (!m_progressToTerminal || showsWholeBatch() || m_currentRow < 0 ||
        m_currentRow >= m_model->rowCount())
        return;
    const std::optional<ProgressFrame> frame = ProgressFrameFor(done, total);
    if (!frame)
        return;
    const QString title = TagTextToDisplay(m_model->entry(m_currentRow).Title);
    writeProgressLine(
        QStringLiteral("[%1/%2] ").arg(m_currentRow + 1).arg(m_model->rowCount()).toLocal8Bit() +
        EscapeLineField(title.toUtf8()) + "  " + frame->text.toLocal8Bit());
}

void CliSession::showBatchProgress(int done, int total, int secondsLeft)
{
    if (!m_progressToTerminal || !showsWholeBatch())
        return;
    const std::optional<ProgressFrame> frame = ProgressFrameFor(done, total);
    if (!frame)
        return;
    writeProgressLine(QStringLiteral("[%1/%2 done, %3 converting] %4")
                          .arg(m_endedRows)
                          .arg(m_model->rowCount())
                          .arg(m_batch->runningJobs())
                          .arg(BatchProgressText(frame->text, secondsLeft))
                          .toLocal8Bit());
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
    // The report's own file gets each line as the row ends, flushed, so a run killed midway
    // leaves a report of what had ended; on standard output it takes the status line's place.
    const QByteArray report = m_report ? ReportLine(*m_model, row, m_links) : QByteArray();
    if (m_report && m_report != stdout)
        writeLine(m_report, report);
    const QByteArray line =
        m_report == stdout
            ? report
            : fields({JobStatusText(status).toUtf8(), source, shown(m_batch->endedJob().OutFile)});
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
        writeLine(stdout, held.line);
        if (!held.reason.isEmpty())
            complain(held.source, held.reason);
    }
}

QByteArray CliSession::shown(const QString &path) const
{
    const QByteArray bytes = m_links ? m_links->originalPath(path) : QFile::encodeName(path);
    return EscapeLineField(bytes);
}
