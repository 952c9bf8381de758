#include "core/convert/conversionjob.h"

#include "core/convert/encoderreport.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/outputfile.h"
#include "core/convert/outputplan.h"
#include "core/convert/targetformat.h"
#include "core/tags/entrytag.h"
#include "core/tags/tid3v1.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>
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

ConversionJob::ConversionJob(quint64 rowId, int row, const ID3info &entry, const intputrec &record,
                             QObject *parent)
    : QObject(parent), m_rowId(rowId), m_startRow(row), m_entry(entry), m_record(record)
{}

ConversionJob::~ConversionJob()
{
    if (m_runner && !m_runner->hasEnded())
        m_runner->stopAndWait(0);
    discard();
}

int ConversionJob::percent() const
{
    if (m_record.TotalSeconds <= 0)
        return 0;
    return int(std::clamp<qint64>(qint64(m_doneSeconds) * 100 / m_record.TotalSeconds, 0, 100));
}

void ConversionJob::start(const TargetFormat &format, const EncodingProfile &profile,
                          const SourceFiles &sources, bool ownProcessGroup)
{
    m_profile = profile;
    m_clock.start();
    QString refusal = refusalFor(sources);
    // Told before the encoder runs, in plain words, rather than as the encoder's own line.
    if (refusal.isEmpty())
        refusal = format.refusal(profile);
    if (refusal.isEmpty())
        MakeOutputFolders(m_record.OutputRoot, m_record.OutFile, &refusal);
    if (refusal.isEmpty()) {
        m_record.WorkFile = CreateWorkFile(m_record.OutFile, &refusal);
        m_ownsWorkFile = !m_record.WorkFile.isEmpty();
    }
    if (!refusal.isEmpty()) {
        m_refused = true;
        m_status = JobStatus::Failed;
        m_reason = refusal;
        endLater();
        return;
    }
    m_runner = new EncoderRunner(this);
    m_runner->setOwnProcessGroup(ownProcessGroup);
    connect(m_runner, &EncoderRunner::progress, this, [this](int seconds) {
        m_doneSeconds = seconds;
        emit progress(seconds);
    });
    connect(m_runner, &EncoderRunner::durationReported, this, &ConversionJob::durationReported);
    connect(m_runner, &EncoderRunner::ended, this, &ConversionJob::encoderEnded);
    m_runner->RunEncoder(m_record, profile);
}

void ConversionJob::skip(const EncodingProfile &profile, const QString &reason)
{
    m_profile = profile;
    m_clock.start();
    m_refused = true; // nothing to settle
    m_status = JobStatus::Skipped;
    m_reason = reason;
    endLater();
}

void ConversionJob::endLater()
{
    // Ended from the event loop like every other job, so the caller of start() never
    // sees the batch move on under it.
    QTimer::singleShot(0, this, [this] { emit encoderEnded(); });
}

QString ConversionJob::refusalFor(const SourceFiles &sources) const
{
    if (m_record.EncoderFile.isEmpty())
        return encoderNotFound();
    if (m_record.OutFile.isEmpty())
        return QStringLiteral("No output folder");
    const QFileInfo source(m_record.InFile);
    if (!source.exists())
        return QStringLiteral("Source no longer exists");
    if (!source.isFile()) // a FIFO or device would keep the encoder waiting for data forever
        return QStringLiteral("Source is not a regular file");
    return OutputRefusal(m_record.OutFile, m_record.InFile, sources);
}

void ConversionJob::settle(TID3v1 &tag, const TargetFormat &format, const ID3info &entry)
{
    if (m_refused || m_status != JobStatus::Converting)
        return;
    if (const QString reason = failure(); !reason.isEmpty()) {
        discard();
        m_status = JobStatus::Failed;
        m_reason = reason;
        return;
    }
    const QString &work = m_record.WorkFile;
    const qint64 encoded = QFileInfo(work).size();
    const bool tagged = !format.carriesId3v1 || WriteEntryTag(tag, entry, work);
    QString error;
    // A block cut off by accident ("TAG" at the end of the audio) whose replacement could
    // not follow leaves the audio short: that is no output.
    if (!tagged && QFileInfo(work).size() != encoded)
        error = QStringLiteral("Tag not written; the output would be incomplete");
    if (error.isEmpty() && CommitWorkFile(work, m_record.OutFile, &error, !m_record.KeepExisting)) {
        m_ownsWorkFile = false;
        m_status = JobStatus::Finish;
        const QString tagNote = tagged ? QString() : QStringLiteral("Tag not written");
        const QString note = bitrateNote(format);
        m_reason = tagNote.isEmpty() || note.isEmpty() ? tagNote + note
                                                       : tagNote + QLatin1Char('\n') + note;
        return;
    }
    discard();
    m_status = JobStatus::Failed;
    m_reason = error;
}

QString ConversionJob::bitrateNote(const TargetFormat &format) const
{
    if (format.sizeRule != TargetFormat::SizeRule::Bitrate)
        return {}; // uncompressed: no bitrate was chosen
    const EncoderReport report = ParseEncoderReport(m_runner->outputHead());
    return BitrateNote(m_profile, EncodedBitrate(report, m_record.OutFile));
}

QString ConversionJob::failure() const
{
    const EncoderRunner &runner = *m_runner;
    // Reasons name the final path, not the work file the encoder was given.
    auto text = [this](QString line) {
        if (!m_record.WorkFile.isEmpty())
            line.replace(m_record.WorkFile, m_record.OutFile);
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
    if (QFileInfo(m_record.WorkFile).size() <= 0)
        return last.isEmpty() ? QStringLiteral("No output file") : last;
    return {};
}

bool ConversionJob::stop(int graceMs)
{
    m_status = JobStatus::Stopped;
    m_reason.clear();
    if (!m_runner)
        return false;
    // An encoder that has just ended still reports it, queued; the work file goes then.
    m_runner->stop(graceMs);
    return true;
}

void ConversionJob::stopAndWait(int graceMs)
{
    stop(graceMs);
    if (m_runner)
        m_runner->stopAndWait(graceMs);
    discard();
}

void ConversionJob::discard()
{
    if (m_ownsWorkFile)
        DiscardWorkFile(m_record.WorkFile);
    m_ownsWorkFile = false;
}
