#include "core/convert/batchsequencer.h"

#include "core/convert/commandline.h"
#include "core/convert/conversionjob.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"

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

void BatchSequencer::setProfileSource(std::function<EncodingProfile()> source)
{
    m_profileSource = std::move(source);
}

EncodingProfile BatchSequencer::currentProfile() const
{
    return m_profileSource ? m_profileSource() : EncodingProfile::defaults();
}

void BatchSequencer::setOutputDirSource(std::function<QString()> source)
{
    m_outputDirSource = std::move(source);
}

void BatchSequencer::setNamingSource(std::function<NamingOptions()> source)
{
    m_namingSource = std::move(source);
}

void BatchSequencer::setMaxJobs(int jobs)
{
    m_maxJobs = std::max(1, jobs);
}

bool BatchSequencer::StartConversion(const TargetFormat &format)
{
    if (m_running)
        return false;
    // Every row is converted again, so each shows its estimate until it has its new output.
    m_model->RecomputeSizes(format.sizeBitrate(currentProfile()), false);
    const int rows = m_model->rowCount();
    if (rows == 0)
        return false;
    CurrentIndex = 0;
    m_format = format;
    m_sources = SourceFiles(*m_model);
    m_claimed.clear();
    // What a row did in an earlier batch is no part of this one's report.
    for (int row = 0; row < rows; ++row)
        m_model->setRun(row, JobRun());
    TargetExtension = format.extension;
    m_batchJobs = m_maxJobs;
    m_lastStartedId = 0;
    m_shares = QVector<RowShare>(rows);
    for (int row = 0; row < rows; ++row)
        m_shares[row].totalSeconds = DurationToSeconds(m_model->time(row));
    m_running = true;
    // Stopped encoders that have not ended yet go first: their rows may be ours again.
    if (!m_stopping.isEmpty()) {
        m_startWhenStopped = true;
        return true;
    }
    m_clock.start();
    startJobs();
    return true;
}

void BatchSequencer::startJobs()
{
    // A slot that lets events run may end a job, which asks for more; the outer loop
    // does that, so rows still start one at a time and in order.
    if (m_starting) {
        m_startAgain = true;
        return;
    }
    m_starting = true;
    do {
        m_startAgain = false;
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
    } while (m_startAgain);
    m_starting = false;
    if (m_running && m_jobs.isEmpty() && CurrentIndex >= m_model->rowCount())
        finishBatch();
}

bool BatchSequencer::StartJob()
{
    const int row = CurrentIndex;
    const ID3info &entry = m_model->entry(row);
    const QString outputDir = m_outputDirSource ? m_outputDirSource() : QString();
    const NamingOptions naming = m_namingSource ? m_namingSource() : NamingOptions();
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
    const EncodingProfile profile = currentProfile();

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
    rec.TotalSeconds = DurationToSeconds(m_model->time(row));
    rec.TagTitle = entry.Title;
    rec.TagArtist = entry.Artist;
    rec.TagComment = entry.Comment;
    rec.FormatArguments = m_format.encoderArguments;
    rec.Metadata = MetadataArguments(entry);

    auto *job = new ConversionJob(m_model->rowId(row), row, entry, rec, this);
    connect(job, &ConversionJob::progress, this, [this, job] { onJobProgress(job); });
    connect(job, &ConversionJob::durationReported, this,
            [this, job](const QString &duration) { onDurationReported(job, duration); });
    connect(job, &ConversionJob::encoderEnded, this, [this, job] { JobFinished(job); });
    m_jobs.append(job);
    m_lastStartedId = job->rowId();
    CurrentIndex = row + 1;
    CurrentJob = rec;

    m_model->setStatus(row, JobStatus::Converting);
    if (rec.TotalSeconds > 0)
        m_model->setProgress(row, 0);
    emit jobStarted(row);
    if (!m_jobs.contains(job))
        return true; // a slot stopped the batch
    emit rowProgress(row, 0);
    if (!m_jobs.contains(job))
        return true;
    if (output.skip)
        job->skip(profile, output.reason);
    else
        job->start(m_format, profile, m_sources, m_ownProcessGroup);
    if (m_lastStartedId == job->rowId())
        CurrentJob.WorkFile = job->record().WorkFile;
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
    if (!m_jobs.contains(job))
        return; // stopped: what its encoder still says is no one's business
    const int percentBefore = job->shownPercent();
    emit progress(job->doneSeconds(), job->totalSeconds());
    if (!m_jobs.contains(job))
        return; // a slot stopped the batch
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].doneSeconds = job->doneSeconds();
    const int percent = job->percent();
    if (percent != percentBefore) {
        job->setShownPercent(percent);
        const int row = rowOf(job);
        if (row >= 0 && job->totalSeconds() > 0)
            m_model->setProgress(row, percent);
        if (row >= 0)
            emit rowProgress(row, percent);
        if (!m_jobs.contains(job))
            return;
    }
    emitBatchProgress();
}

void BatchSequencer::onDurationReported(ConversionJob *job, const QString &duration)
{
    if (!m_timeFromEncoder || job->totalSeconds() > 0 || !m_jobs.contains(job))
        return;
    const int seconds = DurationToSeconds(duration);
    if (seconds <= 0)
        return;
    job->setTotalSeconds(seconds);
    if (m_lastStartedId == job->rowId())
        CurrentJob.TotalSeconds = seconds;
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].totalSeconds = seconds;
    const int row = rowOf(job);
    if (row >= 0 && m_model->time(row).isEmpty()) {
        m_model->setTime(row, duration);
        m_model->setSize(row, EstimateSize(duration, m_format.sizeBitrate(job->profile())));
    }
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
        dropStopped(job);
        return;
    }
    if (!m_jobs.contains(job))
        return; // settled by shutdown()
    emit progress(100, 100);
    emit progress(0, 100);
    if (m_stopping.contains(job)) {
        // Stopped from a progress slot: the row already says so, and its output goes
        // before a batch accepted since then may start.
        dropStopped(job);
        return;
    }
    if (!m_jobs.contains(job))
        return;
    const int row = rowOf(job);
    job->settle(*m_tag, m_format, row >= 0 ? m_model->entry(row) : job->entry());
    endJob(job, row);
}

void BatchSequencer::endJob(ConversionJob *job, int row)
{
    // Settled before anyone hears of it: a stop() from a jobEnded() slot finds no job.
    m_jobs.removeOne(job);
    job->deleteLater();
    if (job->startRow() < m_shares.size())
        m_shares[job->startRow()].ended = true;
    const JobStatus status = job->status();
    if (row >= 0) {
        recordRun(job, row, status);
        m_model->setStatus(row, status, job->reason());
        if (status == JobStatus::Finish)
            m_model->setOutputSize(row, QFileInfo(job->record().OutFile).size());
        m_endedJob = job->record();
        emit jobEnded(row, status);
    }
    if (!m_running)
        return; // a jobEnded() slot stopped the batch
    emitBatchProgress();
    startJobs();
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
    m_model->setRun(row, run);
}

void BatchSequencer::finishBatch()
{
    m_running = false;
    emit batchFinished();
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
        if (job->stop(m_stopGraceMs)) {
            m_stopping.append(job);
        } else {
            job->discard();
            job->deleteLater();
        }
    }
    for (ConversionJob *job : stopped) {
        const int row = rowOf(job);
        if (row < 0)
            continue;
        recordRun(job, row, JobStatus::Stopped);
        m_model->setStatus(row, JobStatus::Stopped);
        m_endedJob = job->record();
        emit jobEnded(row, JobStatus::Stopped);
    }
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
    startJobs();
}
