#include "core/convert/batchsequencer.h"

#include "core/convert/commandline.h"
#include "core/convert/encoderreport.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/progressmeter.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/entrytag.h"
#include "core/tags/tid3v1.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

QString encoderNotFound()
{
    return QStringLiteral("Encoder not found");
}

} // namespace

BatchSequencer::BatchSequencer(JobListModel *model, TID3v1 *tag, QObject *parent)
    : QObject(parent), m_model(model), m_tag(tag)
{}

BatchSequencer::~BatchSequencer()
{
    // The owner calls shutdown() first; this only makes sure no encoder outlives us.
    if (m_job.runner && !m_job.runner->hasEnded()) {
        m_job.runner->stopAndWait(0);
        removeOutputLeftBy(m_job);
    }
    if (m_dying) {
        m_dying->stopAndWait(0);
        removeOutputLeftBy(m_stopped);
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

bool BatchSequencer::StartConversion(const TargetFormat &format)
{
    if (m_running)
        return false;
    if (format.sizeRule != TargetFormat::SizeRule::Bitrate)
        m_model->RecomputeSizes(format.sizeBitrate(currentProfile()));
    if (m_model->rowCount() == 0)
        return false;
    CurrentIndex = 0;
    m_format = format;
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

    Job job;
    job.serial = m_nextSerial++;
    job.rowId = m_model->rowId(row);
    job.entry = entry;
    job.profile = profile;
    intputrec &rec = job.record;
    rec.EncoderFile = m_encoderPath;
    rec.InFile = entry.SourcePath;
    rec.OutFile = outputDir.isEmpty()
                      ? QString()
                      : OutputPath(outputDir, entry.Title, entry.SourcePath, TargetExtension);
    rec.WorkDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    rec.TotalSeconds = DurationToSeconds(m_model->time(row));
    rec.TagTitle = entry.Title;
    rec.TagArtist = entry.Artist;
    rec.TagComment = entry.Comment;
    rec.FormatArguments = m_format.encoderArguments;
    CurrentJob = rec;
    m_job = job;

    m_model->setStatus(row, JobStatus::Converting);
    if (rec.TotalSeconds > 0)
        m_model->setProgress(row, 0);
    emit jobStarted(row);
    if (m_job.serial != job.serial)
        return; // a slot stopped the batch

    QString refusal;
    if (rec.EncoderFile.isEmpty())
        refusal = encoderNotFound();
    else if (rec.OutFile.isEmpty())
        refusal = QStringLiteral("No output folder");
    else if (!QFileInfo(rec.InFile).isFile())
        // A FIFO or device would keep the encoder waiting for data forever.
        refusal = QStringLiteral("Source is not a regular file");
    else if (IsSameFile(rec.InFile, rec.OutFile))
        refusal = QStringLiteral("Output would overwrite the source file");
    if (!refusal.isEmpty()) {
        // Ended from the event loop like every other job, so the caller of
        // StartConversion() never sees the batch move on under it.
        const quint64 serial = job.serial;
        QTimer::singleShot(0, this, [this, serial, refusal] {
            if (m_job.serial != serial)
                return;
            emit progress(100, 100);
            emit progress(0, 100);
            if (m_job.serial == serial) // a progress slot may have stopped the batch
                endJob(JobStatus::Failed, refusal);
        });
        return;
    }

    m_job.outputBefore = fileState(rec.OutFile);
    auto *runner = new EncoderRunner(this);
    runner->setOwnProcessGroup(m_ownProcessGroup);
    m_job.runner = runner;
    const quint64 serial = job.serial;
    connect(runner, &EncoderRunner::progress, this, [this, serial](int seconds) {
        if (m_job.serial != serial)
            return;
        showRowProgress(seconds);
        emit progress(seconds, CurrentJob.TotalSeconds);
    });
    connect(runner, &EncoderRunner::ended, this, [this, runner] { JobFinished(runner); });
    runner->RunEncoder(rec, profile);
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

    const QString &outFile = job.record.OutFile;
    const int row = m_model->rowOfId(job.rowId);
    const bool wroteOutput = QFileInfo(outFile).size() > 0;
    const EncoderRunner::Outcome outcome = runner->outcome();
    if (outcome == EncoderRunner::Outcome::Exited && runner->exitCode() == 0 && wroteOutput) {
        const ID3info &entry = row >= 0 ? m_model->entry(row) : job.entry;
        const bool tagged = !m_format.carriesId3v1 || WriteEntryTag(*m_tag, entry, outFile);
        const QString note = noteOutput(job, *runner);
        const QString tagNote = tagged ? QString() : QStringLiteral("Tag not written");
        endJob(JobStatus::Finish, tagNote.isEmpty() || note.isEmpty()
                                      ? tagNote + note
                                      : tagNote + QLatin1Char('\n') + note);
    } else {
        QString reason;
        if (outcome == EncoderRunner::Outcome::FailedToStart) {
            reason = encoderNotFound();
        } else {
            reason = LastErrorLine(runner->outputTail());
            if (reason.isEmpty()) {
                if (outcome == EncoderRunner::Outcome::Crashed)
                    reason = QStringLiteral("Encoder crashed");
                else if (runner->exitCode() != 0)
                    reason = QStringLiteral("Encoder exited with code %1").arg(runner->exitCode());
                else
                    reason = QStringLiteral("No output file");
            }
        }
        removeOutputLeftBy(job);
        endJob(JobStatus::Failed, reason);
    }
}

void BatchSequencer::endJob(JobStatus status, const QString &reason)
{
    const quint64 rowId = m_job.rowId;
    // Settled before anyone hears of it: a stop() from a jobEnded() slot finds no job.
    m_job = Job();
    const int row = m_model->rowOfId(rowId);
    if (row >= 0) {
        m_model->setStatus(row, status, reason);
        emit jobEnded(row, status);
    }
    advance(rowId);
}

void BatchSequencer::showRowProgress(int seconds)
{
    const int row = m_model->rowOfId(m_job.rowId);
    const std::optional<ProgressFrame> frame = ProgressFrameFor(seconds, CurrentJob.TotalSeconds);
    if (row >= 0 && frame && CurrentJob.TotalSeconds > 0)
        m_model->setProgress(row, frame->percent);
}

QString BatchSequencer::noteOutput(const Job &job, const EncoderRunner &runner)
{
    const QString &outFile = job.record.OutFile;
    const int row = m_model->rowOfId(job.rowId);
    if (row >= 0)
        m_model->setOutputSize(row, QFileInfo(outFile).size());
    if (m_format.sizeRule != TargetFormat::SizeRule::Bitrate)
        return {}; // uncompressed: no bitrate was chosen
    const EncoderReport report = ParseEncoderReport(runner.outputHead());
    return BitrateNote(job.profile, EncodedBitrate(report, outFile));
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
    removeOutputLeftBy(m_stopped);
    m_stopped = Job();
    runner->deleteLater();
    if (m_startWhenStopped) {
        m_startWhenStopped = false;
        StartJob();
    }
}

void BatchSequencer::removeOutputLeftBy(const Job &job) const
{
    const QString &path = job.record.OutFile;
    if (path.isEmpty() || IsSameFile(path, job.record.InFile))
        return;
    const FileState now = fileState(path);
    if (!now.exists)
        return;
    // A file the encoder never touched (it failed before opening its output) is an
    // earlier conversion's result and stays.
    const FileState &before = job.outputBefore;
    if (before.exists && before.size == now.size && before.modified == now.modified)
        return;
    QFile::remove(path);
}

BatchSequencer::FileState BatchSequencer::fileState(const QString &path)
{
    FileState state;
    const QFileInfo info(path);
    if (!info.isFile())
        return state;
    state.exists = true;
    state.size = info.size();
    state.modified = info.lastModified();
    return state;
}
