#include "core/convert/conversionjob.h"

#include "core/convert/encoderreport.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/outputfile.h"
#include "core/convert/outputplan.h"
#include "core/convert/targetformat.h"
#include "core/tags/entrytag.h"
#include "core/tags/foldercover.h"
#include "core/tags/tagwriter.h"
#include "core/tags/tid3v1.h"

#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Numbered names a job tries past the one it was given before it gives up.
constexpr int MaxNumber = 100000;

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
    const NameRules rules = refusal.isEmpty() ? NameRulesFor(m_record.OutputRoot) : NameRules();
    if (refusal.isEmpty() &&
        m_output.openFolder(m_record.OutputRoot, QFileInfo(m_record.OutFile).path(), rules,
                            &refusal))
        m_output.removeStaleWorkFiles();
    // Decided before anything is encoded, against every other run writing here.
    bool skip = false;
    if (refusal.isEmpty() && m_record.Existing != ExistingOutput::Replace)
        refusal = claimOutput(rules, format.extension, &skip);
    if (refusal.isEmpty())
        m_output.createWorkFile(QFileInfo(m_record.OutFile).fileName(), rules.unnamedFiles,
                                &refusal);
    if (!refusal.isEmpty()) {
        m_output.discard();
        m_refused = true;
        m_status = skip ? JobStatus::Skipped : JobStatus::Failed;
        m_reason = refusal;
        endLater();
        return;
    }
    m_record.WorkFile = m_output.encoderPath();
    m_record.WorkDescriptor = m_output.workDescriptor();
    // /proc/self/fd/N names no format.
    if (!format.muxer.isEmpty())
        m_record.FormatArguments << QStringLiteral("-f") << format.muxer;
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

QString ConversionJob::claimOutput(const NameRules &rules, const QString &extension, bool *skip)
{
    const QString folder = QFileInfo(m_record.OutFile).path();
    QString name = QFileInfo(m_record.OutFile).fileName();
    const bool numbering =
        m_record.Existing == ExistingOutput::Number && !m_record.OutStem.isEmpty();
    for (int number = m_record.OutNumber; number < MaxNumber; ++number) {
        if (number != m_record.OutNumber)
            name = NumberedFileName(m_record.OutStem, number, extension, rules);
        QString error;
        QString taken;
        switch (m_output.claim(name, &error)) {
        case OutputFile::Claim::Claimed:
            m_record.OutFile = folder + QLatin1Char('/') + m_output.claimedName();
            m_record.OutNumber = number;
            m_record.OutKey = rules.key(m_record.OutFile);
            return {};
        case OutputFile::Claim::Failed:
            return error;
        case OutputFile::Claim::Output:
            taken = QStringLiteral("The output exists already");
            break;
        case OutputFile::Claim::Busy:
            taken = QStringLiteral("Another run writes this output");
            break;
        case OutputFile::Claim::Other:
            if (!numbering) {
                const QString problem = OutputPathProblem(folder + QLatin1Char('/') + name);
                return problem.isEmpty() ? QStringLiteral("The output path is taken") : problem;
            }
            break;
        }
        if (!numbering) {
            *skip = true;
            return taken;
        }
    }
    return QStringLiteral("No free output name");
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
    QString error;
    // The output's own tag first, through a descriptor of its own that the writer closes
    // (flushed then); the ID3v1 block follows it at the very end.
    const TagWriteResult written = WriteOutputTag(m_output.reopenWork(), format.tagContainer,
                                                  outputTag(entry), format.carriesId3v1);
    if (written.outcome == TagWriteResult::Outcome::Failed)
        error = QStringLiteral("Tag not written; the output may be damaged");
    // Through a description of the work file's own, as the encoder wrote it.
    const int work = m_output.reopenWork();
    const qint64 encoded = m_output.workSize();
    // The ID3v1 block last, where the format carries one (not after a failed write).
    const bool tagged = !format.carriesId3v1 || !error.isEmpty() || WriteEntryTag(tag, entry, work);
    // A block cut off by accident ("TAG" at the end of the audio) whose replacement could
    // not follow leaves the audio short: that is no output.
    if (!tagged && m_output.workSize() != encoded)
        error = QStringLiteral("Tag not written; the output would be incomplete");
    QStringList notes;
    if (!tagged)
        notes << QStringLiteral("Tag not written");
    QString notKept = written.notKept.join(QStringLiteral(", ")).replace(u'_', u' ');
    if (written.outcome == TagWriteResult::Outcome::NotOpened)
        notes << QStringLiteral("Tag not written into the output; not kept: ") + notKept;
    else if (!notKept.isEmpty())
        notes << QStringLiteral("%1 cannot keep: %2").arg(format.name, notKept);
    // Read from the work file: once it has its final name, that name is anybody's.
    if (const QString note = error.isEmpty() ? bitrateNote(format, work) : QString();
        !note.isEmpty())
        notes << note;
    // Last: every write before it would set the time anew.
    if (error.isEmpty() && m_record.KeepSourceTime && !keepSourceTime(work))
        notes << QStringLiteral("The source's modification time not kept");
    if (work >= 0)
        ::close(work);
    if (error.isEmpty() && m_output.commit(QFileInfo(m_record.OutFile).fileName(), &error)) {
        m_status = JobStatus::Finish;
        m_reason = notes.join(QLatin1Char('\n'));
        m_notKept = written.notKept;
        return;
    }
    discard();
    m_status = JobStatus::Failed;
    m_reason = error;
}

OutputTag ConversionJob::outputTag(const ID3info &entry) const
{
    OutputTag out;
    out.fields = OutputFields(entry);
    out.pictures = ReadPictures(entry.SourcePath);
    if (out.pictures.isEmpty() && m_record.CoverFromFolder) {
        if (const std::optional<EmbeddedPicture> cover =
                FolderCover(QFileInfo(entry.SourcePath).path()))
            out.pictures.append(*cover);
    }
    return out;
}

bool ConversionJob::keepSourceTime(int work) const
{
    struct stat source;
    if (work < 0 || ::stat(QFile::encodeName(m_record.InFile).constData(), &source) != 0)
        return false;
    const struct timespec times[2] = {source.st_atim, source.st_mtim};
    return ::futimens(work, times) == 0;
}

QString ConversionJob::bitrateNote(const TargetFormat &format, int work) const
{
    if (format.sizeRule != TargetFormat::SizeRule::Bitrate)
        return {}; // uncompressed: no bitrate was chosen
    const EncoderReport report = ParseEncoderReport(m_runner->outputHead());
    return BitrateNote(m_profile, EncodedBitrate(report, work));
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
    if (m_output.workSize() <= 0)
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
    m_output.discard();
}
