#include "core/joblist/fileadder.h"

#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/entrytag.h"
#include "core/tags/tid3v1.h"

#include <QFileInfo>
#include <QThread>

#include <algorithm>

FileAdder::FileAdder(JobListModel *model, TID3v1 *tag, QObject *parent)
    : QObject(parent), m_model(model), m_tag(tag)
{
    // Probes mostly wait on process start-up and disk; two per core keeps both busy.
    setMaxParallelProbes(std::clamp(QThread::idealThreadCount(), 1, 4));
}

FileAdder::~FileAdder()
{
    for (Worker &w : m_workers)
        w.probe->abort();
}

void FileAdder::setMaxParallelProbes(int count)
{
    count = std::max(1, count);
    while (int(m_workers.size()) < count) {
        Worker w;
        w.probe = new MediaProbe(this);
        MediaProbe *probe = w.probe;
        connect(probe, &MediaProbe::finished, this,
                [this, probe](std::optional<int> seconds) { onProbeFinished(probe, seconds); });
        m_workers.push_back(w);
    }
    while (int(m_workers.size()) > count && !m_workers.back().job) {
        delete m_workers.back().probe;
        m_workers.pop_back();
    }
}

void FileAdder::addFiles(const QStringList &paths, const QString &baseFolder)
{
    if (paths.isEmpty())
        return;
    for (const QString &path : paths) {
        auto p = std::make_shared<Pending>();
        p->path = path;
        p->baseFolder = baseFolder;
        p->probed = !m_probeDurations;
        m_pending.push_back(p);
    }
    if (m_probeDurations)
        startProbes();
    else
        flush();
}

void FileAdder::cancel()
{
    if (m_pending.empty())
        return;
    for (Worker &w : m_workers) {
        if (w.job) {
            w.probe->abort();
            w.job.reset();
        }
    }
    m_pending.clear();
    emit finished();
}

void FileAdder::startProbes()
{
    // A probe reports from the event loop, never from inside start(), so this loop runs
    // undisturbed.
    bool started = true;
    while (started) {
        started = false;
        for (Worker &w : m_workers) {
            if (w.job)
                continue;
            const auto next = std::find_if(
                m_pending.begin(), m_pending.end(),
                [](const std::shared_ptr<Pending> &p) { return !p->probed && !p->probing; });
            if (next == m_pending.end())
                break;
            w.job = *next;
            w.job->probing = true;
            w.probe->setTimeout(m_probeTimeout);
            w.probe->start(m_encoder, w.job->path);
            started = true;
        }
    }
}

void FileAdder::onProbeFinished(MediaProbe *probe, std::optional<int> seconds)
{
    for (Worker &w : m_workers) {
        if (w.probe != probe || !w.job)
            continue;
        w.job->seconds = seconds;
        w.job->probed = true;
        w.job->probing = false;
        w.job.reset();
        break;
    }
    flush();
    startProbes();
}

void FileAdder::flush()
{
    const int first = m_model->rowCount();
    while (!m_pending.empty() && m_pending.front()->probed) {
        const std::shared_ptr<Pending> p = m_pending.front();
        m_pending.pop_front();
        ID3info entry = EntryFromFile(*m_tag, p->path, QFileInfo(p->path).fileName());
        entry.BaseFolder = p->baseFolder;
        m_model->appendEntry(entry, p->seconds, m_estimateBitrate);
    }
    const int last = m_model->rowCount() - 1;
    if (last < first)
        return;
    // Decided before anyone hears of the rows, so a slot that cancels or adds more cannot
    // make this say finished twice.
    const bool done = m_pending.empty();
    emit rowsAdded(first, last);
    if (done)
        emit finished();
}
