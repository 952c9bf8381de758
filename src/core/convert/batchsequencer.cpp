#include "core/convert/batchsequencer.h"

#include "core/convert/commandline.h"
#include "core/convert/conversionjob.h"
#include "core/joblist/joblistmodel.h"
#include "core/tags/outputtag.h"
#include "core/tags/tagreader.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

namespace {

// The batch's progress goes out as done of this many parts.
constexpr int BatchScale = 10000;

} // namespace

BatchSequencer::BatchSequencer(JobListModel *model, TID3v1 *tag, QObject *parent)
    : QObject(parent), m_model(model), m_tag(tag)
{}

// The owner calls shutdown() first; the jobs, our children, make sure anyway that no
// encoder outlives us and that no job not settled (even one whose encoder just ended)
// leaves a work file.
BatchSequencer::~BatchSequencer() = default;

bool BatchSequencer::StartConversion(const TargetFormat &format)
{
    if (m_running)
        return false;
    // Every row is converted again, so each shows its estimate until it has its new output.
    m_model->RecomputeSizes(format.sizeBitrate(m_options.profile), false);
    const int rows = m_model->rowCount();
    if (rows == 0)
        return false;
    CurrentIndex = 0;
    m_format = format;
    m_sources = SourceFiles(*m_model);
    m_claimed.clear();
    // What a row did in an earlier batch is no part of this one's report, nor of its list:
    // every row it will run says "Unconvert" again, without the old reason.
    for (int row = 0; row < rows; ++row) {
        m_model->setRun(row, JobRun());
        m_model->setStatus(row, JobStatus::Unconvert);
    }
    TargetExtension = format.extension;
    m_batchJobs = std::max(1, m_options.jobsAtOnce);
    m_lastStartedId = 0;
    m_shares = QVector<RowShare>(rows);
    for (int row = 0; row < rows; ++row)
        m_shares[row].totalSeconds = m_model->seconds(row).value_or(0);
    m_running = true;
    // Stopped encoders that have not ended yet go first: their rows may be ours again.
    if (!m_stopping.isEmpty()) {
        m_startWhenStopped = true;
        return true;
    }
    m_clock.start();
    fillJobSlots();
    return true;
}

void BatchSequencer::fillJobSlots()
{
    // Each pass reads the state anew: a jobStarted() receiver may have stopped the batch.
    if (m_running && m_lastStartedId != 0) {
        const int last = m_model->rowOfId(m_lastStartedId);
        if (last >= 0)
            CurrentIndex = last + 1;
    }
    while (m_running && m_jobs.size() < m_batchJobs && CurrentIndex >= 0 &&
           CurrentIndex < m_model->rowCount()) {
        if (!StartJob())
            break;
    }
    if (m_running && m_jobs.isEmpty() && CurrentIndex >= m_model->rowCount()) {
        m_running = false;
        emit batchFinished();
    }
}

bool BatchSequencer::StartJob()
{
    const int row = CurrentIndex;
    const ID3info &entry = m_model->entry(row);
    const QString &outputDir = m_options.outputDir;
    const NamingOptions &naming = m_options.naming;
    // Decided as the row starts, against the files there and the paths of the batch's earlier
    // rows; under skip and number those never equal a running job's.
    const OutputDecision output =
        DecideOutput(outputDir, entry, TargetExtension, naming, m_claimed);
    const QString &outFile = output.path;
    // The later of two rows that write the same file waits, so that its output stays.
    for (const ConversionJob *running : std::as_const(m_jobs)) {
        if (!outFile.isEmpty() && running->record().OutKey == output.key)
            return false;
    }
    if (!outFile.isEmpty() && !output.skip)
        m_claimed.insert(output.key, row);
    const EncodingProfile &profile = m_options.profile;

    intputrec rec;
    rec.EncoderFile = m_encoderPath;
    rec.InFile = entry.SourcePath;
    rec.OutFile = outFile;
    rec.OutputRoot = outputDir;
    rec.Existing = naming.existing;
    rec.OutStem = output.stem;
    rec.OutNumber = output.number;
    rec.OutKey = output.key;
    rec.WorkDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    rec.TotalSeconds = m_model->seconds(row).value_or(0);
    rec.TagTitle = entry.Title;
    rec.TagArtist = entry.Artist;
    rec.TagComment = entry.Comment;
    rec.FormatArguments = m_format.encoderArguments;
    if (m_format.ignoresBitrate()) {
        // A lossless output keeps the source's resolution. The list does not hold it yet:
        // it is read as the row starts, and the row's estimate follows it.
        const MediaInfo source = ReadMediaInfo(entry.SourcePath, QString());
        rec.FormatArguments +=
            m_format.resolutionArguments(source.bitsPerSample, source.floatSamples);
        if (const std::optional<int> seconds = m_model->seconds(row))
            m_model->setSeconds(
                row, *seconds,
                m_format.sizeBitrate(profile, source.bitsPerSample, source.floatSamples));
    }
    if (m_format.tagContainer == TagContainer::RealMedia)
        rec.Metadata = MetadataArguments(OutputFields(entry));
    rec.KeepSourceTime = m_options.tags.keepSourceTime;
    rec.CoverFromFolder = m_options.tags.coverFromFolder;

    auto *job = new ConversionJob(m_model->rowId(row), row, entry, rec, this);
    connect(job, &ConversionJob::progress, this, [this, job] { onJobProgress(job); });
    connect(job, &ConversionJob::durationReported, this,
            [this, job](int seconds) { onDurationReported(job, seconds); });
    connect(job, &ConversionJob::encoderEnded, this, [this, job] { JobFinished(job); });
    m_jobs.append(job);
    m_lastStartedId = job->rowId();
    CurrentIndex = row + 1;
    CurrentJob = rec;

    m_model->setStatus(row, JobStatus::Converting);
    if (rec.TotalSeconds > 0)
        m_model->setProgress(row, 0);
    // Neither ends the job at once: its end always comes from the event loop.
    if (output.skip)
        job->skip(profile, output.reason);
    else
        job->start(m_format, profile, m_sources, m_ownProcessGroup);
    CurrentJob.WorkFile = job->record().WorkFile;
    // The display starts each file from empty; it is left full when a file ends, so the
    // last file of a batch leaves it at 100%.
    emit progress(0, rec.TotalSeconds);
    emit rowProgress(row, 0);
    emit jobStarted(row);
    return true;
}

int BatchSequencer::rowOf(const ConversionJob *job) const
{
    const int row = job->startRow();
    if (row >= 0 && row < m_model->rowCount() && m_model->rowId(row) == job->rowId())
        return row;
    return m_model->rowOfId(job->rowId());
}

void BatchSequencer::onJobProgress(ConversionJob *job)
{
    const int percentBefore = job->shownPercent();
    const int percent = job->percent();
    const int row = rowOf(job);
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].doneSeconds = job->doneSeconds();
    job->setShownPercent(percent);
    if (row >= 0 && percent != percentBefore && job->totalSeconds() > 0)
        m_model->setProgress(row, percent);
    emit progress(job->doneSeconds(), job->totalSeconds());
    if (row >= 0 && percent != percentBefore)
        emit rowProgress(row, percent);
    emitBatchProgress();
}

void BatchSequencer::onDurationReported(ConversionJob *job, int seconds)
{
    if (!m_timeFromEncoder || job->totalSeconds() > 0 || seconds <= 0)
        return;
    job->setTotalSeconds(seconds);
    if (m_lastStartedId == job->rowId())
        CurrentJob.TotalSeconds = seconds;
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].totalSeconds = seconds;
    const int row = rowOf(job);
    if (row >= 0 && !m_model->seconds(row))
        m_model->setSeconds(row, seconds, m_format.sizeBitrate(job->profile()));
}

void BatchSequencer::emitBatchProgress()
{
    const double fraction = BatchFraction(m_shares);
    emit batchProgress(int(std::floor(fraction * BatchScale)), BatchScale,
                       BatchSecondsLeft(fraction, m_clock.elapsed()));
}

void BatchSequencer::JobFinished(ConversionJob *job)
{
    if (m_stopping.contains(job)) {
        dropStopped(job); // a stopped encoder's late end: its row says so already
        return;
    }
    if (!m_jobs.contains(job))
        return; // settled by shutdown()
    const int row = rowOf(job);
    job->settle(*m_tag, m_format, row >= 0 ? m_model->entry(row) : job->entry());
    m_jobs.removeOne(job);
    job->deleteLater();
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].ended = true;
    const JobStatus status = job->status();
    if (row >= 0) {
        recordRun(job, row, status);
        m_model->setStatus(row, status, job->reason());
        // A skipped row shows the size of the file that is there, as a finished one does.
        if (m_model->run(row).outputBytes >= 0)
            m_model->setOutputSize(row, m_model->run(row).outputBytes);
    }
    // Settled: now everyone may hear of it, and a receiver that stops the batch finds this
    // job gone and the next rows not started.
    emit progress(100, 100);
    emitBatchProgress();
    if (row >= 0)
        emit jobEnded(row, status);
    fillJobSlots();
}

void BatchSequencer::recordRun(const ConversionJob *job, int row, JobStatus status)
{
    JobRun run;
    run.output = job->record().OutFile;
    run.format = m_format.cliName();
    run.profile = job->profile();
    run.elapsedMs = job->elapsedMs();
    const QFileInfo output(run.output);
    if ((status == JobStatus::Finish || status == JobStatus::Skipped) && output.isFile())
        run.outputBytes = output.size();
    if (status == JobStatus::Finish)
        run.notKept = job->notKept();
    m_model->setRun(row, run);
}

void BatchSequencer::stop()
{
    CurrentIndex = m_model->rowCount() + 1;
    if (!m_running)
        return;
    m_running = false;
    if (m_startWhenStopped) {
        // The batch had not started a job yet.
        m_startWhenStopped = false;
        emit batchStopped();
        return;
    }
    const QVector<ConversionJob *> stopped = m_jobs;
    m_jobs.clear();
    for (ConversionJob *job : stopped) {
        // What its encoder still says until it has ended is no one's business.
        disconnect(job, &ConversionJob::progress, this, nullptr);
        disconnect(job, &ConversionJob::durationReported, this, nullptr);
        if (job->stop(m_stopGraceMs)) {
            m_stopping.append(job);
        } else {
            job->discard();
            job->deleteLater();
        }
    }
    QList<int> rows;
    for (ConversionJob *job : stopped) {
        const int row = rowOf(job);
        if (row < 0)
            continue;
        recordRun(job, row, JobStatus::Stopped);
        m_model->setStatus(row, JobStatus::Stopped);
        rows.append(row);
    }
    for (int row : std::as_const(rows))
        emit jobEnded(row, JobStatus::Stopped);
    emit progress(0, 100);
    emit batchStopped();
}

void BatchSequencer::shutdown()
{
    stop();
    m_startWhenStopped = false;
    // One grace for all of them: they were all asked to end at once.
    const QDeadlineTimer deadline(m_stopGraceMs);
    const QVector<ConversionJob *> stopping = m_stopping;
    m_stopping.clear();
    for (ConversionJob *job : stopping) {
        job->stopAndWait(int(std::max<qint64>(0, deadline.remainingTime())));
        job->deleteLater();
    }
}

void BatchSequencer::dropStopped(ConversionJob *job)
{
    m_stopping.removeOne(job);
    job->discard();
    job->deleteLater();
    if (m_stopping.isEmpty())
        startWaitingBatch();
}

void BatchSequencer::startWaitingBatch()
{
    if (!m_startWhenStopped)
        return;
    m_startWhenStopped = false;
    m_clock.start();
    fillJobSlots();
}
