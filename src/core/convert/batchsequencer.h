#pragma once

#include "core/convert/batchprogress.h"
#include "core/convert/conversionoptions.h"
#include "core/convert/intputrec.h"
#include "core/convert/sourcefiles.h"
#include "core/convert/targetformat.h"
#include "core/joblist/jobstatus.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVector>

class ConversionJob;
class JobListModel;
class TID3v1;

// Converts every row of the job list and writes each entry's tag into the file its encoder
// wrote: a queue of ConversionJob objects, of which up to jobsAtOnce() run at a time. Rows
// start in list order; a row whose output path a running job writes waits until that job
// has ended, so of two rows with the same output the later one wins (unless the naming's
// "existing" rule skips or numbers the later one). Each job's output
// replaces its final path only when the job succeeded (see ConversionJob), so an earlier
// output survives every failure, and no job writes over the source of any row. It owns no
// window: the owner shows the signals, keeps IdleFlag and carries out the end action on
// batchFinished(), which comes once, after the last job.
//
// Each job carries its row's id, so a job that was stopped and ends late only ever cleans
// up after itself. Every signal goes out once the sequencer's state is settled, as the last
// thing a step does, so a receiver may stop the batch (or start another) from any of them.
class BatchSequencer : public QObject
{
    Q_OBJECT
public:
    BatchSequencer(JobListModel *model, TID3v1 *tag, QObject *parent = nullptr);
    ~BatchSequencer() override;

    void setEncoderPath(const QString &encoder) { m_encoderPath = encoder; }
    // The profile, output folder and naming are read as each job starts, so a change during
    // a batch applies from the next file on; the number of jobs at once (at least 1) from
    // the next batch on.
    void setOptions(const ConversionOptions &options) { m_options = options; }
    const ConversionOptions &options() const { return m_options; }
    // See EncoderRunner::setOwnProcessGroup(); off by default.
    void setEncoderInOwnProcessGroup(bool own) { m_ownProcessGroup = own; }
    // How long a stopped encoder may take to end before it is killed.
    void setStopGrace(int ms) { m_stopGraceMs = ms; }
    // The running (or last) batch's limit.
    int jobsAtOnce() const { return m_batchJobs; }
    // A row without a "Time" takes the duration its encoder reports while converting
    // (with its "Size" estimated from it), and its progress is shown against it. Off by
    // default; a front end that does not probe before the batch turns it on.
    void setTimeFromEncoder(bool on) { m_timeFromEncoder = on; }

    // Every row's size is first estimated anew for the format (a WAV batch changes them,
    // the next batch puts them back), and every row says "Unconvert" again, without the
    // reason an earlier batch left. Returns false, starting nothing and leaving
    // TargetExtension as it was, for an empty list or while a batch runs.
    bool StartConversion(const TargetFormat &format);
    // Ends the batch at once: every encoder of ours is terminated (killed after the grace),
    // their rows show "Stopped", their work files are removed once they have ended (earlier
    // outputs stay as they were), later rows keep their status and no end action follows.
    void stop();
    // For the program's end: stops as stop() does and waits (bounded by the grace) until
    // the encoders have ended and their work files are gone.
    void shutdown();
    bool isRunning() const { return m_running; }
    // True while a stopped encoder has not ended yet; a new batch waits for all of them.
    bool isStopping() const { return !m_stopping.isEmpty(); }
    int runningJobs() const { return int(m_jobs.size()); }

    // Index of the next row to start; past the last row after a stop.
    int CurrentIndex = 0;
    QString TargetExtension;
    const TargetFormat &targetFormat() const { return m_format; }
    // The job record of the most recently started job.
    intputrec CurrentJob;

signals:
    // What the progress display shows with one job at a time: 0 of the job's total seconds
    // when it starts, then the encoder's seconds of that total, then 100 of 100 when the job
    // ends, which stays after the batch's last job (0 of 100 when the batch was stopped).
    // With several jobs at once every job reports this way in turn; batchProgress() is the
    // display's then.
    void progress(int done, int total);
    // A running row's own progress in whole percent: 0 when it starts, then whenever
    // the percentage changes.
    void rowProgress(int row, int percent);
    // The whole batch, weighted by duration (see BatchFraction): done of total, and the
    // seconds left, -1 while they cannot be estimated yet.
    void batchProgress(int done, int total, int secondsLeft);
    void jobStarted(int row);
    // The row has ended; its status, reason and run (output, profile, size) are in the
    // model already.
    void jobEnded(int row, JobStatus status);
    // The last row has ended: the owner sets IdleFlag to 1 and carries out FinishAction.
    void batchFinished();
    void batchStopped();

private:
    // Starts rows in list order while there is room for another job.
    void fillJobSlots();
    bool StartJob();
    void JobFinished(ConversionJob *job);
    void onJobProgress(ConversionJob *job);
    void onDurationReported(ConversionJob *job, int seconds);
    void recordRun(const ConversionJob *job, int row, JobStatus status);
    void emitBatchProgress();
    void dropStopped(ConversionJob *job);
    void startWaitingBatch();
    int rowOf(const ConversionJob *job) const;

    JobListModel *m_model;
    TID3v1 *m_tag;
    QString m_encoderPath;
    ConversionOptions m_options;
    TargetFormat m_format;
    SourceFiles m_sources; // every row's source, taken when the batch starts
    // The outputs the batch's started rows write, by key (OutputDecision::key): under skip
    // and number they count as taken, so no two jobs (running side by side or not) ever
    // pick the same name.
    QHash<QString, int> m_claimed;
    int m_stopGraceMs = 3000;
    bool m_ownProcessGroup = false;
    bool m_timeFromEncoder = false;
    int m_batchJobs = 1;

    bool m_running = false;
    bool m_startWhenStopped = false; // a batch accepted while stopped encoders still end
    quint64 m_lastStartedId = 0;
    QVector<ConversionJob *> m_jobs;     // running, in start order
    QVector<ConversionJob *> m_stopping; // stopped, their encoders not ended yet
    QVector<RowShare> m_shares;          // by row index at the batch's start
    QElapsedTimer m_clock;               // since the batch's first job
};
