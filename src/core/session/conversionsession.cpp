#include "core/session/conversionsession.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/reportline.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/rawnamelinks.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QFileInfo>

ConversionSession::ConversionSession(QObject *parent)
    : QObject(parent), m_rawNames(std::make_unique<RawNameLinks>()),
      m_tag(std::make_unique<TID3v1>()), m_model(new JobListModel(this)),
      m_adder(new FileAdder(m_model, m_tag.get(), this)),
      m_sequencer(new BatchSequencer(m_model, m_tag.get(), this))
{
    // A row without a time (its probe failed, or none ran) learns it from its conversion.
    m_sequencer->setTimeFromEncoder(true);
    setEncoderPath(ResolveEncoderPath());
    applyOptions();

    // Front ends hear of everything from the event loop, never in the middle of a step.
    auto later = [this](auto &&notify) {
        QMetaObject::invokeMethod(this, std::forward<decltype(notify)>(notify),
                                  Qt::QueuedConnection);
    };
    connect(m_adder, &FileAdder::rowsAdded, this, [this, later](int first, int last) {
        m_addDone += last - first + 1;
        later([=] { emit rowsAdded(first, last); });
    });
    connect(m_adder, &FileAdder::finished, this, [this, later] {
        later([this] {
            emit addFinished();
            emit idleChanged();
        });
    });
    connect(m_sequencer, &BatchSequencer::jobStarted, this,
            [this, later](int row) { later([=] { emit jobStarted(row); }); });
    connect(m_sequencer, &BatchSequencer::progress, this, &ConversionSession::onSequencerProgress);
    connect(m_sequencer, &BatchSequencer::batchProgress, this, &ConversionSession::onBatchProgress);
    connect(m_sequencer, &BatchSequencer::jobEnded, this, [this, later](int row, JobStatus status) {
        m_tally.count(status);
        later([=] { emit jobEnded(row, status); });
    });
    connect(m_sequencer, &BatchSequencer::batchFinished, this, [this] { onBatchOver(false); });
    connect(m_sequencer, &BatchSequencer::batchStopped, this, [this] { onBatchOver(true); });
}

ConversionSession::~ConversionSession()
{
    shutdown();
    // Before the tag object and the name links they use.
    delete m_sequencer;
    delete m_adder;
}

void ConversionSession::setEncoderPath(const QString &encoder)
{
    m_encoderPath = encoder;
    m_adder->setEncoderPath(encoder);
    m_sequencer->setEncoderPath(encoder);
}

void ConversionSession::setOptions(const ConversionOptions &options)
{
    const bool newRate = options.profile.Bitrate != m_options.profile.Bitrate;
    m_options = options;
    applyOptions();
    if (newRate)
        m_model->RecomputeSizes(m_options.profile.Bitrate.toLongLong());
}

void ConversionSession::setProfile(const EncodingProfile &profile)
{
    ConversionOptions options = m_options;
    options.profile = profile;
    setOptions(options);
}

void ConversionSession::setOutputDir(const QString &dir)
{
    m_options.outputDir = dir;
    applyOptions();
}

void ConversionSession::setNaming(const NamingOptions &naming)
{
    m_options.naming = naming;
    applyOptions();
}

void ConversionSession::setJobsAtOnce(int jobs)
{
    m_options.jobsAtOnce = std::max(1, jobs);
    applyOptions();
}

void ConversionSession::setTagOptions(const TagOptions &tags)
{
    m_options.tags = tags;
    applyOptions();
}

void ConversionSession::setFinishAction(EndAction action)
{
    m_options.finishAction = action;
}

void ConversionSession::applyOptions()
{
    m_sequencer->setOptions(m_options);
    m_adder->setEstimateBitrate(m_options.profile.Bitrate.toLongLong());
}

bool ConversionSession::prepareOutputDir(const QString &dir, QString *error)
{
    if (dir.isEmpty()) {
        if (error)
            *error = QStringLiteral("no output folder");
        return false;
    }
    if (!QFileInfo::exists(dir))
        QDir().mkdir(dir);
    const QFileInfo info(dir);
    if (info.isDir())
        return true;
    if (!error)
        return false;
    if (info.isFile())
        *error = QStringLiteral("output folder %1 is a file, not a folder").arg(dir);
    else if (info.exists())
        *error = QStringLiteral("output folder %1 is not a folder").arg(dir);
    else
        *error = QStringLiteral("output folder %1 does not exist and cannot be created").arg(dir);
    return false;
}

void ConversionSession::setProbeDurations(bool probe)
{
    m_adder->setProbeDurations(probe);
}

void ConversionSession::addFiles(const QStringList &paths, const QString &baseFolder)
{
    if (paths.isEmpty())
        return;
    const bool wasIdle = isIdle();
    // Files queued while others are still being added count as one add with them.
    if (!isAdding()) {
        m_addQueued = 0;
        m_addDone = 0;
    }
    m_addQueued += int(paths.size());
    m_adder->addFiles(paths, baseFolder);
    if (wasIdle)
        QMetaObject::invokeMethod(this, &ConversionSession::idleChanged, Qt::QueuedConnection);
}

bool ConversionSession::isAdding() const
{
    return m_adder->isBusy();
}

int ConversionSession::pendingFiles() const
{
    return m_adder->pendingCount();
}

bool ConversionSession::startConversion(const TargetFormat &format)
{
    if (!m_sequencer->StartConversion(format))
        return false;
    m_tally = BatchTally();
    QMetaObject::invokeMethod(this, &ConversionSession::idleChanged, Qt::QueuedConnection);
    return true;
}

void ConversionSession::stop()
{
    m_adder->cancel();
    m_sequencer->stop();
}

void ConversionSession::shutdown()
{
    m_adder->cancel();
    m_sequencer->shutdown();
}

bool ConversionSession::isConverting() const
{
    return m_sequencer->isRunning();
}

bool ConversionSession::isIdle() const
{
    return !isAdding() && !isConverting();
}

QVector<PlannedOutput> ConversionSession::planOutputs(const TargetFormat &format) const
{
    return PlanOutputs(*m_model, m_options.outputDir, format, m_options.profile, m_options.naming);
}

QString ConversionSession::targetExtension() const
{
    return m_sequencer->TargetExtension;
}

QString ConversionSession::examplePath(const QString &outputDir, const NamingOptions &naming) const
{
    ID3info entry;
    if (m_model->rowCount() > 0) {
        entry = m_model->entry(0);
    } else {
        entry.Title = "Title";
        entry.Artist = "Artist";
        entry.Album = "Album";
        entry.Year = "2024";
        entry.Track = 1;
        entry.SourcePath = QDir(outputDir).filePath(QStringLiteral("song.wav"));
    }
    const QString extension =
        targetExtension().isEmpty() ? TargetFormats().first().extension : targetExtension();
    return DecideOutput(outputDir, entry, extension, naming).path;
}

QByteArray ConversionSession::report() const
{
    QByteArray lines;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->run(row).hasEnded())
            lines += ReportLine(*m_model, row, m_rawNames.get()) + '\n';
    }
    return lines;
}

bool ConversionSession::showsWholeBatch() const
{
    // One row, or one job at a time: the converting file is the whole story.
    return m_sequencer->jobsAtOnce() > 1 && m_model->rowCount() > 1;
}

int ConversionSession::runningJobs() const
{
    return m_sequencer->runningJobs();
}

void ConversionSession::setEncoderInOwnProcessGroup(bool own)
{
    m_sequencer->setEncoderInOwnProcessGroup(own);
}

void ConversionSession::setStopGrace(int ms)
{
    m_sequencer->setStopGrace(ms);
}

void ConversionSession::onSequencerProgress(int done, int total)
{
    if (showsWholeBatch())
        return;
    QMetaObject::invokeMethod(
        this, [=] { emit progress(done, total, -1); }, Qt::QueuedConnection);
}

void ConversionSession::onBatchProgress(int done, int total, int secondsLeft)
{
    if (!showsWholeBatch())
        return;
    QMetaObject::invokeMethod(
        this, [=] { emit progress(done, total, secondsLeft); }, Qt::QueuedConnection);
}

void ConversionSession::onBatchOver(bool stopped)
{
    m_tally.wasStopped = stopped;
    const BatchTally tally = m_tally;
    const bool emptied = stopped && showsWholeBatch();
    QMetaObject::invokeMethod(
        this,
        [this, tally, emptied] {
            // A batch run to its end leaves the display full; a stopped one empties it, as
            // the file display empties itself then.
            if (emptied)
                emit progress(0, 100, -1);
            emit batchEnded(tally);
            emit idleChanged();
        },
        Qt::QueuedConnection);
}
