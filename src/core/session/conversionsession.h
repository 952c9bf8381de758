#pragma once

#include "core/convert/conversionoptions.h"
#include "core/convert/outputplan.h"
#include "core/joblist/jobstatus.h"
#include "core/session/batchtally.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class BatchSequencer;
class FileAdder;
class JobListModel;
class RawNameLinks;
class TID3v1;
struct TargetFormat;

// One conversion session: the job list, the adder that fills it, the batch that converts
// it, the links that reach files whose names are not UTF-8, and the options the user chose.
// Both front ends drive one of these and only show it: the window in pixels and dialogs,
// the command line in terminal lines and an exit status.
//
// Every notification for a front end is delivered from the event loop, after the step that
// caused it has settled, so a front end may stop, add or start anything from its slots.
class ConversionSession : public QObject
{
    Q_OBJECT
public:
    explicit ConversionSession(QObject *parent = nullptr);
    // Stops as shutdown() does: no encoder outlives the session, no work file stays.
    ~ConversionSession() override;

    JobListModel *model() const { return m_model; }
    RawNameLinks *rawNames() const { return m_rawNames.get(); }

    // The encoder every probe and conversion runs; ResolveEncoderPath() until set.
    QString encoderPath() const { return m_encoderPath; }
    void setEncoderPath(const QString &encoder);

    const ConversionOptions &options() const { return m_options; }
    // The profile, folder and naming apply from the next job on, the number of jobs at once
    // from the next batch on. A new profile re-estimates the sizes shown.
    void setOptions(const ConversionOptions &options);
    void setProfile(const EncodingProfile &profile);
    void setOutputDir(const QString &dir);
    void setNaming(const NamingOptions &naming);
    void setJobsAtOnce(int jobs);
    // From the next job on.
    void setTagOptions(const TagOptions &tags);
    void setFinishAction(EndAction action);

    // Makes the output folder when it is missing (one level, as the music folder is made).
    // False, with *error saying why, when no folder is there afterwards.
    static bool prepareOutputDir(const QString &dir, QString *error = nullptr);

    // Off: rows come without a time at once, and each conversion reports its file's
    // duration itself (the command line's real run). On by default.
    void setProbeDurations(bool probe);
    // Queues files for the list; `baseFolder` is the folder a folder add took them from.
    void addFiles(const QStringList &paths, const QString &baseFolder = QString());
    bool isAdding() const;
    // Files queued and not in the list yet.
    int pendingFiles() const;
    // The add under way, or the last one: the files queued since adding last began from
    // idle, and how many of them have their rows ("Adding 340 of 2,000").
    int addQueued() const { return m_addQueued; }
    int addDone() const { return m_addDone; }

    // Starts converting every row to `format`; false, starting nothing, for an empty list or
    // while a batch runs.
    bool startConversion(const TargetFormat &format);
    // Ends adding and converting at once (work files removed, earlier outputs kept).
    void stop();
    // For the program's end: stops and waits until the encoders have ended.
    void shutdown();
    bool isConverting() const;
    // Nothing is being added or converted.
    bool isIdle() const;
    // Where each row would be written, for the dry run and the same-output warning.
    QVector<PlannedOutput> planOutputs(const TargetFormat &format) const;
    // The extension of the running or last batch; empty before the first.
    QString targetExtension() const;
    // The path the first row would get in `outputDir` with `naming` (a made-up row when the
    // list is empty), in the last batch's format or else the first format's.
    QString examplePath(const QString &outputDir, const NamingOptions &naming) const;
    // What the last batch did, one JSON line per row that ended (see ReportLine()).
    QByteArray report() const;
    // The band shows the whole batch (several conversions at once over several rows) rather
    // than the file being converted.
    bool showsWholeBatch() const;
    const BatchTally &tally() const { return m_tally; }
    int runningJobs() const;

    // For the command line: see EncoderRunner::setOwnProcessGroup().
    void setEncoderInOwnProcessGroup(bool own);
    // How long a stopped encoder may take to end before it is killed.
    void setStopGrace(int ms);
    BatchSequencer *sequencer() const { return m_sequencer; }
    FileAdder *adder() const { return m_adder; }

signals:
    void rowsAdded(int first, int last);
    // Every queued file has its row, or adding was stopped.
    void addFinished();
    // isIdle() may have changed.
    void idleChanged();
    void jobStarted(int row);
    // What the progress band shows: the converting file's seconds done of its total, or
    // with several at once (showsWholeBatch()) the whole batch with the seconds left (-1
    // while unknown). A file starts at 0 and ends at 100 of 100; a batch run to its end
    // leaves 100%, a stopped one 0 of 100.
    void progress(int done, int total, int secondsLeft);
    // The row has ended; its status, reason and run are in the model.
    void jobEnded(int row, JobStatus status);
    // The batch has ended, run to its end or stopped (tally().wasStopped).
    void batchEnded(const BatchTally &tally);

private:
    void onSequencerProgress(int done, int total);
    void onBatchProgress(int done, int total, int secondsLeft);
    void onBatchOver(bool stopped);
    void applyOptions();

    std::unique_ptr<RawNameLinks> m_rawNames;
    std::unique_ptr<TID3v1> m_tag;
    JobListModel *m_model;
    FileAdder *m_adder;
    BatchSequencer *m_sequencer;
    QString m_encoderPath;
    ConversionOptions m_options;
    BatchTally m_tally;
    int m_addQueued = 0;
    int m_addDone = 0;
};
