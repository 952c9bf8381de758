#include "core/convert/batchsequencer.h"

#include "core/convert/commandline.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/outputfile.h"
#include "core/convert/outputplan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/entrytag.h"
#include "core/tags/tid3v1.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstring>

namespace {

QString encoderNotFound()
{
    return QStringLiteral("Encoder not found");
}

QString crashReason(int signalNumber)
{
    const char *name = ::sigabbrev_np(signalNumber);
    if (!name)
        return QStringLiteral("Encoder crashed (signal %1)").arg(signalNumber);
    return QStringLiteral("Encoder crashed (signal %1, SIG%2)")
        .arg(signalNumber)
        .arg(QString::fromLatin1(name));
}

} // namespace

BatchSequencer::BatchSequencer(JobListModel *model, TID3v1 *tag, QObject *parent)
    : QObject(parent), m_model(model), m_tag(tag)
{}

BatchSequencer::~BatchSequencer()
{
    // The owner calls shutdown() first; this only makes sure no encoder outlives us, and
    // that a job not settled (even one whose encoder just ended) leaves no work file.
    if (m_job.runner) {
        if (!m_job.runner->hasEnded())
            m_job.runner->stopAndWait(0);
        DiscardWorkFile(m_job.record.WorkFile);
    }
    if (m_dying) {
        m_dying->stopAndWait(0);
        DiscardWorkFile(m_stopped.record.WorkFile);
    }
}

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

bool BatchSequencer::StartConversion(const TargetFormat &format)
{
    if (m_running)
        return false;
    m_model->RecomputeSizes(format.sizeBitrate(currentProfile()));
    if (m_model->rowCount() == 0)
        return false;
    CurrentIndex = 0;
    m_format = format;
    m_sources = SourceFiles(*m_model);
    m_claimed.clear();
    TargetExtension = format.extension;
    m_running = true;
    // Jobs never overlap: a stopped encoder that has not ended yet goes first.
    if (m_dying) {
        m_startWhenStopped = true;
        return true;
    }
    StartJob();
    return true;
}

void BatchSequencer::StartJob()
{
    const int row = CurrentIndex;
    if (row < 0 || row >= m_model->rowCount()) {
        finishBatch();
        return;
    }
    const ID3info &entry = m_model->entry(row);
    const EncodingProfile profile = currentProfile();
    const QString outputDir = m_outputDirSource ? m_outputDirSource() : QString();
    const NamingOptions naming = m_namingSource ? m_namingSource() : NamingOptions();
    // Where this job writes: decided here, with the paths of the batch's earlier rows.
    const OutputDecision output =
        DecideOutput(outputDir, entry, TargetExtension, naming, m_claimed);
    if (!output.path.isEmpty() && !output.skip)
        m_claimed.insert(output.path, row);

    Job job;
    job.serial = m_nextSerial++;
    job.rowId = m_model->rowId(row);
    job.entry = entry;
    job.profile = profile;
    job.timer.start();
    intputrec &rec = job.record;
    rec.EncoderFile = m_encoderPath;
    rec.InFile = entry.SourcePath;
    rec.OutFile = output.path;
    rec.WorkDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    rec.TotalSeconds = DurationToSeconds(m_model->time(row));
    rec.TagTitle = entry.Title;
    rec.TagArtist = entry.Artist;
    rec.TagComment = entry.Comment;
    rec.FormatArguments = m_format.encoderArguments;
    rec.Metadata = MetadataArguments(entry);
    CurrentJob = rec;
    m_job = job;

    m_model->setStatus(row, JobStatus::Converting);
    emit jobStarted(row);
    if (m_job.serial != job.serial)
        return; // a slot stopped the batch

    QString refusal = output.skip ? QString() : refusalFor(rec, profile);
    if (!output.skip && refusal.isEmpty() && MakeOutputFolders(outputDir, rec.OutFile, &refusal)) {
        m_job.record.WorkFile = CreateWorkFile(rec.OutFile, &refusal);
        CurrentJob.WorkFile = m_job.record.WorkFile;
    }
    if (output.skip || !refusal.isEmpty()) {
        // Ended from the event loop like every other job, so the caller of
        // StartConversion() never sees the batch move on under it.
        const quint64 serial = job.serial;
        const JobStatus status = output.skip ? JobStatus::Skipped : JobStatus::Failed;
        const QString reason = output.skip ? output.reason : refusal;
        QTimer::singleShot(0, this, [this, serial, status, reason] {
            if (m_job.serial != serial)
                return;
            emit progress(100, 100);
            emit progress(0, 100);
            if (m_job.serial == serial) // a progress slot may have stopped the batch
                endJob(status, reason);
        });
        return;
    }

    auto *runner = new EncoderRunner(this);
    runner->setOwnProcessGroup(m_ownProcessGroup);
    m_job.runner = runner;
    const quint64 serial = job.serial;
    connect(runner, &EncoderRunner::progress, this, [this, serial](int seconds) {
        if (m_job.serial == serial)
            emit progress(seconds, CurrentJob.TotalSeconds);
    });
    connect(runner, &EncoderRunner::ended, this, [this, runner] { JobFinished(runner); });
    runner->RunEncoder(m_job.record, profile);
}

QString BatchSequencer::refusalFor(const intputrec &rec, const EncodingProfile &profile) const
{
    if (rec.EncoderFile.isEmpty())
        return encoderNotFound();
    if (rec.OutFile.isEmpty())
        return QStringLiteral("No output folder");
    const QFileInfo source(rec.InFile);
    if (!source.exists())
        return QStringLiteral("Source no longer exists");
    if (!source.isFile()) // a FIFO or device would keep the encoder waiting for data forever
        return QStringLiteral("Source is not a regular file");
    if (const QString refused = OutputRefusal(rec.OutFile, rec.InFile, m_sources);
        !refused.isEmpty())
        return refused;
    // Told before the encoder runs, in plain words, rather than as the encoder's own line.
    return m_format.refusal(profile);
}

void BatchSequencer::JobFinished(EncoderRunner *runner)
{
    if (runner == m_dying) {
        discardStopped();
        return;
    }
    if (runner != m_job.runner) {
        runner->deleteLater(); // a job already settled by shutdown()
        return;
    }
    const Job job = m_job;
    emit progress(100, 100);
    emit progress(0, 100);
    if (runner == m_dying) {
        // Stopped from a progress slot: the row already says so, and its output goes
        // before a batch accepted since then may start.
        discardStopped();
        return;
    }
    m_job.runner = nullptr;
    runner->deleteLater();

    const int row = m_model->rowOfId(job.rowId);
    const QString reason = failureOf(*runner, job);
    if (reason.isEmpty()) {
        completeJob(job, row);
        return;
    }
    DiscardWorkFile(job.record.WorkFile);
    endJob(JobStatus::Failed, reason);
}

QString BatchSequencer::failureOf(const EncoderRunner &runner, const Job &job) const
{
    // Reasons name the final path, not the work file the encoder was given.
    auto text = [&job](QString line) {
        if (!job.record.WorkFile.isEmpty())
            line.replace(job.record.WorkFile, job.record.OutFile);
        return line;
    };
    switch (runner.outcome()) {
    case EncoderRunner::Outcome::FailedToStart:
        return encoderNotFound();
    case EncoderRunner::Outcome::Crashed:
        return crashReason(runner.exitCode());
    case EncoderRunner::Outcome::Exited:
    case EncoderRunner::Outcome::Running:
    case EncoderRunner::Outcome::Stopped:
        break;
    }
    // ffmpeg exits 0 after a failed trailer or close (a full disk): its word is not enough.
    if (!runner.outputError().isEmpty())
        return text(EncoderLineText(runner.outputError()));
    const QString last = text(LastErrorLine(runner.outputTail()));
    if (runner.exitCode() != 0)
        return last.isEmpty() ? QStringLiteral("Encoder exited with code %1").arg(runner.exitCode())
                              : last;
    if (QFileInfo(job.record.WorkFile).size() <= 0)
        return last.isEmpty() ? QStringLiteral("No output file") : last;
    return {};
}

void BatchSequencer::completeJob(const Job &job, int row)
{
    const QString &work = job.record.WorkFile;
    const qint64 encoded = QFileInfo(work).size();
    const ID3info &entry = row >= 0 ? m_model->entry(row) : job.entry;
    const bool tagged = !m_format.carriesId3v1 || WriteEntryTag(*m_tag, entry, work);
    QString error;
    // A block cut off by accident ("TAG" at the end of the audio) whose replacement could
    // not follow leaves the audio short: that is no output.
    if (!tagged && QFileInfo(work).size() != encoded)
        error = QStringLiteral("Tag not written; the output would be incomplete");
    if (error.isEmpty() && CommitWorkFile(work, job.record.OutFile, &error)) {
        endJob(JobStatus::Finish, tagged ? QString() : QStringLiteral("Tag not written"));
        return;
    }
    DiscardWorkFile(work);
    endJob(JobStatus::Failed, error);
}

void BatchSequencer::endJob(JobStatus status, const QString &reason)
{
    const Job job = m_job;
    // Settled before anyone hears of it: a stop() from a jobEnded() slot finds no job.
    m_job = Job();
    const int row = m_model->rowOfId(job.rowId);
    if (row >= 0) {
        recordRun(job, row, status);
        m_model->setStatus(row, status, reason);
        emit jobEnded(row, status);
    }
    advance(job.rowId);
}

void BatchSequencer::recordRun(const Job &job, int row, JobStatus status)
{
    JobRun run;
    run.output = job.record.OutFile;
    run.format = m_format.cliName();
    run.profile = job.profile;
    run.elapsedMs = job.timer.isValid() ? job.timer.elapsed() : 0;
    const QFileInfo output(run.output);
    if ((status == JobStatus::Finish || status == JobStatus::Skipped) && output.isFile())
        run.outputBytes = output.size();
    m_model->setRun(row, run);
}

void BatchSequencer::advance(quint64 endedRowId)
{
    if (!m_running)
        return; // a jobEnded() slot stopped the batch
    const int row = m_model->rowOfId(endedRowId);
    if (row >= 0)
        CurrentIndex = row + 1;
    if (CurrentIndex < m_model->rowCount())
        StartJob();
    else
        finishBatch();
}

void BatchSequencer::finishBatch()
{
    m_running = false;
    m_job = Job();
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
    const Job job = m_job;
    m_job = Job();
    if (job.runner) {
        m_stopped = job;
        m_dying = job.runner;
        m_dying->stop(m_stopGraceMs);
    }
    const int row = m_model->rowOfId(job.rowId);
    if (row >= 0) {
        recordRun(job, row, JobStatus::Stopped);
        m_model->setStatus(row, JobStatus::Stopped);
        emit jobEnded(row, JobStatus::Stopped);
    }
    emit progress(0, 100);
    emit batchStopped();
}

void BatchSequencer::shutdown()
{
    stop();
    m_startWhenStopped = false;
    if (m_dying) {
        m_dying->stopAndWait(m_stopGraceMs);
        discardStopped();
    }
}

void BatchSequencer::discardStopped()
{
    EncoderRunner *runner = m_dying;
    m_dying = nullptr;
    DiscardWorkFile(m_stopped.record.WorkFile);
    m_stopped = Job();
    runner->deleteLater();
    if (m_startWhenStopped) {
        m_startWhenStopped = false;
        StartJob();
    }
}
