#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
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
    // The bitrate text the size estimate of a new row uses, read when the row is appended.
    void setBitrateSource(std::function<QString()> bitrate) { m_bitrate = std::move(bitrate); }
    void setMaxParallelProbes(int count);
    // Off: rows are appended at once, without a time (a batch may learn it from its
    // encoder); the encoder is not started. On by default.
    void setProbeDurations(bool probe) { m_probeDurations = probe; }
    void setProbeTimeout(int ms) { m_probeTimeout = ms; }

    // Queues absolute paths; the row's fallback title is the file's name. `baseFolder` is
    // the folder a folder add took them from (each entry's BaseFolder), empty for files.
    void addFiles(const QStringList &paths, const QString &baseFolder = QString());
    bool isBusy() const { return !m_pending.empty(); }
    // Drops every file not yet appended and ends the running probes.
    void cancel();

signals:
    void rowAdded(int row);
    void finished();

private:
    struct Pending
    {
        QString path;
        QString baseFolder;
        QString duration;
        bool probed = false;
        bool probing = false;
    };
    void startProbes();
    void onProbeFinished(MediaProbe *probe, const QString &duration);
    void flush();

    JobListModel *m_model;
    TID3v1 *m_tag;
    QString m_encoder;
    std::function<QString()> m_bitrate;
    int m_probeTimeout = 30000;
    bool m_probeDurations = true;
    std::deque<std::shared_ptr<Pending>> m_pending;
    struct Worker
    {
        MediaProbe *probe = nullptr;
        std::shared_ptr<Pending> job;
    };
    std::vector<Worker> m_workers;
    bool m_startingProbes = false;
    quint64 m_generation = 0;
};
