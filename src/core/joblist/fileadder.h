#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class JobListModel;
class MediaProbe;
class TID3v1;

// Appends files to the job list without blocking the event loop: each file's
// duration is probed by the encoder in the background (a few probes at a time)
// and rows are appended strictly in the order the files were given.
class FileAdder : public QObject
{
    Q_OBJECT
public:
    FileAdder(JobListModel *model, TID3v1 *tag, QObject *parent = nullptr);
    ~FileAdder() override;

    void setEncoderPath(const QString &encoder) { m_encoder = encoder; }
    // The bitrate a new row's size is estimated at (bits per second).
    void setEstimateBitrate(qint64 bitsPerSecond) { m_estimateBitrate = bitsPerSecond; }
    void setMaxParallelProbes(int count);
    // Off: rows are appended at once, without a time (a batch may learn it from its
    // encoder); the encoder is not started. On by default.
    void setProbeDurations(bool probe) { m_probeDurations = probe; }
    void setProbeTimeout(int ms) { m_probeTimeout = ms; }

    // Queues absolute paths; the row's fallback title is the file's name. `baseFolder` is
    // the folder a folder add took them from (each entry's BaseFolder), empty for files.
    void addFiles(const QStringList &paths, const QString &baseFolder = QString());
    bool isBusy() const { return !m_pending.empty(); }
    // Files queued and not yet appended.
    int pendingCount() const { return int(m_pending.size()); }
    // Drops every file not yet appended and ends the running probes; finished() follows
    // when anything was dropped.
    void cancel();

signals:
    // Rows first to last were appended, once their files were read.
    void rowsAdded(int first, int last);
    // Every queued file has its row (or was dropped by cancel()).
    void finished();

private:
    struct Pending
    {
        QString path;
        QString baseFolder;
        std::optional<int> seconds;
        bool probed = false;
        bool probing = false;
    };
    void startProbes();
    void onProbeFinished(MediaProbe *probe, std::optional<int> seconds);
    void flush();

    JobListModel *m_model;
    TID3v1 *m_tag;
    QString m_encoder;
    qint64 m_estimateBitrate = 128000;
    int m_probeTimeout = 30000;
    bool m_probeDurations = true;
    std::deque<std::shared_ptr<Pending>> m_pending;
    struct Worker
    {
        MediaProbe *probe = nullptr;
        std::shared_ptr<Pending> job;
    };
    std::vector<Worker> m_workers;
};
