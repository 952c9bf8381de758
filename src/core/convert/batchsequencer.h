#pragma once

#include "core/convert/encodingprofile.h"
#include "core/convert/intputrec.h"
#include "core/convert/outputnaming.h"
#include "core/convert/sourcefiles.h"
#include "core/convert/targetformat.h"
#include "core/joblist/jobstatus.h"
#include "core/tags/id3info.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class EncoderRunner;
class JobListModel;
class TID3v1;

// Converts every row of the job list, one encoder run after another, and writes each
// entry's tag into the file its encoder wrote. The encoder writes a hidden work file that
// replaces the output's final path only when the job succeeded (see outputfile.h), so an
// earlier output survives every failure, and no job writes over the source of any row.
// It owns no window: the owner shows the signals, keeps IdleFlag and carries out the end
// action on batchFinished().
//
// Each job carries its row's id and a serial of its own, so a job that was stopped
// and ends late only ever cleans up after itself.
class BatchSequencer : public QObject
{
    Q_OBJECT
public:
    BatchSequencer(JobListModel *model, TID3v1 *tag, QObject *parent = nullptr);
    ~BatchSequencer() override;

    void setEncoderPath(const QString &encoder) { m_encoderPath = encoder; }
    // Both are read when each job starts, so a change during a batch applies from the
    // next file on.
    void setProfileSource(std::function<EncodingProfile()> source);
    void setOutputDirSource(std::function<QString()> source);
    // How outputs are named and what happens to one already there; the default names
    // outputs after the title and replaces.
    void setNamingSource(std::function<NamingOptions()> source);
    // See EncoderRunner::setOwnProcessGroup(); off by default.
    void setEncoderInOwnProcessGroup(bool own) { m_ownProcessGroup = own; }
    // How long a stopped encoder may take to end before it is killed.
    void setStopGrace(int ms) { m_stopGraceMs = ms; }

    // Every row's size is first estimated anew for the format (a WAV batch changes them,
    // the next batch puts them back). Returns false, starting nothing and leaving
    // TargetExtension as it was, for an empty list or while a batch runs.
    bool StartConversion(const TargetFormat &format);
    // Ends the batch at once: our own encoder is terminated (killed after the grace),
    // its row shows "Stopped", its work file is removed once it has ended (an earlier
    // output stays as it was), later rows keep their status and no end action follows.
    void stop();
    // For the program's end: stops as stop() does and waits (bounded by the grace) until
    // the encoder has ended and its work file is gone.
    void shutdown();
    bool isRunning() const { return m_running; }
    // True while a stopped encoder has not ended yet; a new batch waits for it.
    bool isStopping() const { return m_dying != nullptr; }

    // Index of the row being converted; past the last row after a stop.
    int CurrentIndex = 0;
    QString TargetExtension;
    const TargetFormat &targetFormat() const { return m_format; }
    // The running job; while jobEnded() is emitted, the job that ended.
    intputrec CurrentJob;

signals:
    // What the progress display shows: the encoder's seconds of the job's total, then
    // 100 of 100 and 0 of 100 when a job ends (0 of 100 alone when it was stopped).
    void progress(int done, int total);
    void jobStarted(int row);
    void jobEnded(int row, JobStatus status);
    // The last row has ended: the owner sets IdleFlag to 1 and carries out FinishAction.
    void batchFinished();
    void batchStopped();

private:
    struct Job
    {
        quint64 serial = 0;
        quint64 rowId = 0;
        ID3info entry;
        intputrec record; // record.WorkFile is this job's own, removed unless it succeeded
        EncodingProfile profile;
        QElapsedTimer timer;
        EncoderRunner *runner = nullptr;
    };

    EncodingProfile currentProfile() const;
    void StartJob();
    QString refusalFor(const intputrec &rec, const EncodingProfile &profile) const;
    void JobFinished(EncoderRunner *runner);
    QString failureOf(const EncoderRunner &runner, const Job &job) const;
    void completeJob(const Job &job, int row);
    void endJob(JobStatus status, const QString &reason);
    void recordRun(const Job &job, int row, JobStatus status);
    void advance(quint64 endedRowId);
    void finishBatch();
    void discardStopped();

    JobListModel *m_model;
    TID3v1 *m_tag;
    QString m_encoderPath;
    std::function<EncodingProfile()> m_profileSource;
    std::function<QString()> m_outputDirSource;
    std::function<NamingOptions()> m_namingSource;
    TargetFormat m_format;
    SourceFiles m_sources;         // every row's source, taken when the batch starts
    QHash<QString, int> m_claimed; // the outputs of the batch's rows so far, by path
    int m_stopGraceMs = 3000;
    bool m_ownProcessGroup = false;

    bool m_running = false;
    bool m_startWhenStopped = false; // a batch accepted while a stopped encoder still ends
    quint64 m_nextSerial = 1;
    Job m_job;     // the running job; serial 0 when none runs
    Job m_stopped; // the stopped job whose encoder has not ended yet
    EncoderRunner *m_dying = nullptr;
};
