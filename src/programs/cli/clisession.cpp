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
    if (m_report && m_report != stdout)
        std::fclose(m_report);
}

int CliSession::run()
{
    auto *signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, &CliSession::onSignal);

    // Without an encoder no row could get a time or an output: refused before anything.
    if (const QString problem = EncoderProblem(m_session->encoderPath()); !problem.isEmpty()) {
        complain(problem);
        return 2;
    }
    QString error;
    QVector<Files> files;
    if (!collectFiles(files, error) || !openReport(error) || !chooseOutputDir(error)) {
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
    if (m_options.dryRun && !QFileInfo::exists(dir) && QFileInfo(QFileInfo(dir).path()).isDir()) {
        // A dry run changes nothing; it only says what the run would do.
        complain(QStringLiteral("output folder %1 does not exist; it would be created").arg(dir));
        return true;
    }
    return ConversionSession::prepareOutputDir(dir, &error);
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
        writeLine(stdout, fields(line));
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

    if (!m_session->startConversion(*m_options.format))
        return 1;
    m_loop.exec();
    printHeldLines(true); // rows after one that never ended (interrupted) still say theirs
    if (m_interrupted)
        return ExitInterrupted;
    const BatchTally &tally = m_session->tally();
    return tally.failed > 0 || tally.stopped > 0 ? 1 : 0;
}

void CliSession::onSignal()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    // Our own encoder only, ended and its partial output removed before we exit.
    m_session->shutdown();
    clearProgressLine();
    // After the rows the stop ended have said so: the session tells them from the event loop.
    QMetaObject::invokeMethod(
        &m_loop, [this] { m_loop.exit(ExitInterrupted); }, Qt::QueuedConnection);
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
    // The report's own file gets each line as the row ends, flushed, so a run killed midway
    // leaves a report of what had ended; on standard output it takes the status line's place.
    const QByteArray report = m_report ? ReportLine(*m_model, row, m_links) : QByteArray();
    if (m_report && m_report != stdout)
        writeLine(m_report, report);
    const QByteArray line =
        m_report == stdout
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
