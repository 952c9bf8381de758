#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/intputrec.h"
#include "core/convert/outputfile.h"
#include "core/joblist/jobstatus.h"
#include "core/tags/id3info.h"
#include "core/tags/outputtag.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

class EncoderRunner;
class SourceFiles;
class TID3v1;
struct TargetFormat;

// One conversion of one row: its encoder run, its output folder, claim and work file (see
// OutputFile) and its outcome. The batch sequencer makes one per row it starts and keeps
// several when several run at once. A job refuses what must not run (an output that is a
// source, a FIFO, ...), tells "failed" from "done" by more than the encoder's word, writes
// the entry's tag into its work file and only then gives the work file its final name; a
// failed or stopped job leaves nothing behind and an earlier output as it was.
class ConversionJob : public QObject
{
    Q_OBJECT
public:
    // `row` is the row's index when the job starts, for the batch's own bookkeeping.
    ConversionJob(quint64 rowId, int row, const ID3info &entry, const intputrec &record,
                  QObject *parent = nullptr);
    // Never leaves an encoder running or a work file behind.
    ~ConversionJob() override;

    quint64 rowId() const { return m_rowId; }
    int startRow() const { return m_startRow; }
    const ID3info &entry() const { return m_entry; }
    const intputrec &record() const { return m_record; }

    // The duration used for progress; taken from the encoder when the row had none.
    int totalSeconds() const { return m_record.TotalSeconds; }
    void setTotalSeconds(int seconds) { m_record.TotalSeconds = seconds; }
    // The latest seconds the encoder reported.
    int doneSeconds() const { return m_doneSeconds; }
    // done of total in whole percent (0 to 100); 0 while the duration is not known.
    int percent() const;
    // The percentage last shown for the row, kept here for whoever shows it.
    int shownPercent() const { return m_shownPercent; }
    void setShownPercent(int percent) { m_shownPercent = percent; }
    // The profile the encoder was started with.
    const EncodingProfile &profile() const { return m_profile; }

    // Refuses the job (also for a profile the format refuses), or makes the output's folders
    // below the record's OutputRoot, removes work files killed runs left there, claims the
    // output's name under skip and number (ending "Skipped" when an output or another run's
    // claim is there already, or numbering on past it), makes its work file and starts the
    // encoder. encoderEnded() follows exactly once, always from the event loop, also for a
    // refused or skipped job.
    void start(const TargetFormat &format, const EncodingProfile &profile,
               const SourceFiles &sources, bool ownProcessGroup);
    // Ends the job "Skipped" without running anything: its output is there already.
    // encoderEnded() follows from the event loop as after start().
    void skip(const EncodingProfile &profile, const QString &reason);
    // Since start() or skip().
    qint64 elapsedMs() const { return m_clock.isValid() ? m_clock.elapsed() : 0; }
    // Once the encoder has ended: the outcome. A job that succeeded gets its tag and its
    // final name; any other loses its work file. The tag is every field of the source's tag
    // with `entry`'s over them (OutputFields()) and the source's pictures (or its folder's
    // cover image), in the form of the format's container (WriteOutputTag()), then `entry`'s
    // ID3v1 block where the format carries one; last the source's modification time when the
    // record asks for it.
    void settle(TID3v1 &tag, const TargetFormat &format, const ID3info &entry);
    JobStatus status() const { return m_status; }
    QString reason() const { return m_reason; }
    // Once it ended "Finish": the fields of the source's tag the output could not keep
    // (ReportFieldNames()), empty when it kept them all.
    const QStringList &notKept() const { return m_notKept; }

    // Ends the encoder: terminate now, kill after the grace. Returns whether it still has
    // to end; encoderEnded() comes then, and discard() removes the work file after it.
    bool stop(int graceMs);
    // As stop(), and waits here (bounded by the grace) until the encoder has ended.
    void stopAndWait(int graceMs);
    // Removes the work file of a job that will not succeed.
    void discard();

signals:
    void progress(int seconds);
    // The duration the encoder reports for its input, in whole seconds.
    void durationReported(int seconds);
    void encoderEnded();

private:
    QString refusalFor(const SourceFiles &sources) const;
    // Claims the output's name on disk; why the job does not run when it cannot (with *skip
    // set when it is skipped).
    QString claimOutput(const NameRules &rules, const QString &extension, bool *skip);
    QString failure() const;
    OutputTag outputTag(const ID3info &entry) const;
    // Gives the work file the source's access and modification times.
    bool keepSourceTime(int work) const;
    // How the bitrate the encoder wrote (into `work`, open for reading) differs from the
    // chosen one, for the row's tooltip.
    QString bitrateNote(const TargetFormat &format, int work) const;
    void endLater();

    quint64 m_rowId;
    int m_startRow;
    ID3info m_entry;
    intputrec m_record; // m_record.WorkFile is this job's own
    EncoderRunner *m_runner = nullptr;
    EncodingProfile m_profile;
    QElapsedTimer m_clock;
    int m_doneSeconds = 0;
    int m_shownPercent = 0;
    JobStatus m_status = JobStatus::Converting;
    QString m_reason;
    QStringList m_notKept;
    bool m_refused = false;
    OutputFile m_output; // what is ours in the output folder until it is settled
};
