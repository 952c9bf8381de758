#include "programs/cli/clisession.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/commandline.h"
#include "core/convert/encoderlocator.h"
#include "core/convert/outputplan.h"
#include "core/convert/progressmeter.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/settings/settingsstore.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"
#include "programs/cli/signalwatcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

#include <unistd.h>

namespace {

constexpr int ExitInterrupted = 130;

void writeLine(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void complain(const QString &text)
{
    writeLine(stderr, QStringLiteral("wavetransmuter-cli: ") + text);
}

} // namespace

CliSession::CliSession(const CliOptions &options, QObject *parent)
    : QObject(parent), m_options(options), m_model(new JobListModel(this)), m_tag(new TID3v1),
      m_adder(new FileAdder(m_model, m_tag, this)),
      m_batch(new BatchSequencer(m_model, m_tag, this))
{
    m_progressToTerminal = ::isatty(STDERR_FILENO) == 1;
}

CliSession::~CliSession()
{
    m_batch->shutdown();
    delete m_batch;
    delete m_adder;
    delete m_tag;
}

int CliSession::run()
{
    auto *signals_ = new SignalWatcher(this);
    connect(signals_, &SignalWatcher::received, this, &CliSession::onSignal);

    QString error;
    QStringList files;
    if (!collectFiles(files, error) || !prepareOutputDir(error)) {
        complain(error);
        return 2;
    }
    if (files.isEmpty()) {
        complain(QStringLiteral("no media files to convert"));
        return 1;
    }

    m_encoder = ResolveEncoderPath();
    if (m_encoder.isEmpty())
        complain(QStringLiteral("Encoder not found: install ffmpeg or set WAVETRANSMUTER_FFMPEG"));

    // Rows are made as "addfile" and "addfolder" make them: tag, title, probe, size.
    const QString bitrate = m_options.profile.Bitrate;
    m_adder->setEncoderPath(m_encoder);
    m_adder->setBitrateSource([bitrate] { return bitrate; });
    connect(m_adder, &FileAdder::finished, &m_loop, [this] { m_loop.exit(0); });
    m_adder->addFiles(files);
    if (m_adder->isBusy())
        m_loop.exec();
    if (m_interrupted)
        return ExitInterrupted;

    return m_options.dryRun ? dryRun() : convert();
}

bool CliSession::collectFiles(QStringList &files, QString &error) const
{
    for (const QString &path : m_options.paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            files += ScanFolder(QDir::cleanPath(info.absoluteFilePath()));
        } else if (info.isFile()) {
            files.append(QDir::cleanPath(info.absoluteFilePath()));
        } else {
            error = QStringLiteral("no such file or folder: %1").arg(path);
            return false;
        }
    }
    return true;
}

bool CliSession::prepareOutputDir(QString &error)
{
    if (m_options.outputDir.isEmpty()) {
        // The saved folder (or the music folder), made when missing as at the desktop's start.
        SettingsStore store;
        m_outputDir = QDir::cleanPath(QFileInfo(store.LoadOutputDir()).absoluteFilePath());
    } else {
        m_outputDir = QDir::cleanPath(QFileInfo(m_options.outputDir).absoluteFilePath());
        // One level, as the default folder is made.
        if (!QFileInfo::exists(m_outputDir))
            QDir().mkdir(m_outputDir);
    }
    if (!QFileInfo(m_outputDir).isDir()) {
        error = QStringLiteral("output folder %1 does not exist and cannot be created")
                    .arg(m_outputDir);
        return false;
    }
    return true;
}

int CliSession::dryRun()
{
    const TargetFormat &format = *m_options.format;
    const QString extension = format.extension;
    if (format.sizeRule != TargetFormat::SizeRule::Bitrate)
        m_model->RecomputeSizes(format.sizeBitrate(m_options.profile));
    const QVector<PlannedOutput> plan = PlanOutputs(*m_model, m_outputDir, extension);
    bool wouldFail = m_encoder.isEmpty();
    for (int row = 0; row < plan.size(); ++row) {
        const PlannedOutput &out = plan.at(row);
        QStringList fields = {TagTextToDisplay(m_model->entry(row).Title), m_model->time(row),
                              m_model->size(row), out.path};
        if (!out.sameOutputRows.isEmpty()) {
            QStringList others;
            for (int other : out.sameOutputRows)
                others.append(QString::number(other + 1));
            fields.append(
                QStringLiteral("same output as row %1").arg(others.join(QStringLiteral(", "))));
        }
        if (out.overwritesOwnSource) {
            fields.append(QStringLiteral("would overwrite the source file"));
            wouldFail = true;
        }
        writeLine(stdout, fields.join(QLatin1Char('\t')));
    }
    return wouldFail ? 1 : 0;
}

int CliSession::convert()
{
    const EncodingProfile profile = m_options.profile;
    const QString outputDir = m_outputDir;
    m_batch->setEncoderPath(m_encoder);
    m_batch->setProfileSource([profile] { return profile; });
    m_batch->setOutputDirSource([outputDir] { return outputDir; });
    m_batch->setEncoderInOwnProcessGroup(true);
    connect(m_batch, &BatchSequencer::jobStarted, this, [this](int row) { m_currentRow = row; });
    connect(m_batch, &BatchSequencer::progress, this, &CliSession::showProgress);
    connect(m_batch, &BatchSequencer::jobEnded, this, &CliSession::onJobEnded);
    connect(m_batch, &BatchSequencer::batchFinished, &m_loop, [this] { m_loop.exit(0); });

    if (!m_batch->StartConversion(*m_options.format))
        return 1;
    m_loop.exec();
    if (m_interrupted)
        return ExitInterrupted;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->status(row) != JobStatus::Finish)
            return 1;
    }
    return 0;
}

void CliSession::onSignal()
{
    if (m_interrupted)
        return;
    m_interrupted = true;
    m_adder->cancel();
    // Our own encoder only, ended and its partial output removed before we exit.
    m_batch->shutdown();
    clearProgressLine();
    m_loop.exit(ExitInterrupted);
}

void CliSession::showProgress(int done, int total)
{
    if (!m_progressToTerminal || m_currentRow < 0 || m_currentRow >= m_model->rowCount())
        return;
    const std::optional<ProgressFrame> frame = ProgressFrameFor(done, total);
    if (!frame)
        return;
    const QString line =
        QStringLiteral("\r\x1b[K[%1/%2] %3  %4")
            .arg(m_currentRow + 1)
            .arg(m_model->rowCount())
            .arg(TagTextToDisplay(m_model->entry(m_currentRow).Title), frame->text);
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    m_progressShown = true;
}

void CliSession::clearProgressLine()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

void CliSession::onJobEnded(int row)
{
    clearProgressLine();
    m_currentRow = -1;
    const JobStatus status = m_model->status(row);
    const ID3info &entry = m_model->entry(row);
    writeLine(stdout, JobStatusText(status) + QLatin1Char('\t') + entry.SourcePath +
                          QLatin1Char('\t') + m_batch->CurrentJob.OutFile);
    const QString reason = m_model->reason(row);
    if (!reason.isEmpty())
        complain(entry.SourcePath + QStringLiteral(": ") + reason);
}
