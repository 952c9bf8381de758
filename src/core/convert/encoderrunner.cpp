#include "core/convert/encoderrunner.h"

#include "core/base/durationtext.h"
#include "core/convert/commandline.h"
#include "core/convert/outputfile.h"
#include "core/convert/progressparser.h"

#include <QRegularExpression>
#include <QTimer>

#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// Big enough for the few lines a failure reason is taken from.
constexpr qsizetype TailKeep = 4096;
// ffmpeg's banner, the input's description and the output's header fit well inside this.
constexpr qsizetype HeadKeep = 32 * 1024;
constexpr int ChunkSize = 1024;
constexpr int KillWaitMs = 2000;
// No line worth reading is longer; the rest of a longer one is not kept.
constexpr qsizetype MaxLine = 4096;
// The input section comes first; a head longer than this holds no duration worth waiting for.
constexpr qsizetype MaxHead = 16384;

bool isProgressReport(const QByteArray &line)
{
    return line.contains("time=") && line.contains("bitrate=");
}

bool isGenericClosing(const QByteArray &line)
{
    return line == "Conversion failed!" || line.startsWith("Error initializing output stream");
}

} // namespace

EncoderRunner::EncoderRunner(QObject *parent)
    : QObject(parent), m_process(new QProcess(this)), m_killTimer(new QTimer(this))
{
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_killTimer->setSingleShot(true);
    connect(m_killTimer, &QTimer::timeout, m_process, &QProcess::kill);
    connect(m_process, &QProcess::readyRead, this, &EncoderRunner::readOutput);
    connect(m_process, &QProcess::finished, this, &EncoderRunner::onFinished);
    connect(m_process, &QProcess::errorOccurred, this, &EncoderRunner::onErrorOccurred);
}

EncoderRunner::~EncoderRunner()
{
    m_process->disconnect(this);
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(KillWaitMs);
    }
}

void EncoderRunner::RunEncoder(const intputrec &job, const EncodingProfile &profile)
{
    if (m_started)
        return;
    m_started = true;
    m_job = job;
    m_outputText.clear();
    m_process->setProgram(m_job.EncoderFile);
    const QString target = m_job.WorkFile.isEmpty() ? m_job.OutFile : m_job.WorkFile;
    m_process->setArguments(
        ConversionArguments(m_job.InFile, target, profile, m_job.FormatArguments, m_job.Metadata));
    m_process->setWorkingDirectory(m_job.WorkDir);
    const bool ownGroup = m_ownProcessGroup;
    const int inherited = m_job.WorkDescriptor;
    m_process->setChildProcessModifier([ownGroup, inherited] {
        RestoreFileSizeLimitSignal();
        // The encoder writes through the job's open work file, never through a name.
        if (inherited >= 0)
            ::fcntl(inherited, F_SETFD, 0);
        if (ownGroup) {
            // Out of the terminal's group, but never an orphan: it ends when we do.
            ::setpgid(0, 0);
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        }
    });
    // Standard input stays an open pipe that is never written: the encoder must not
    // read the terminal, and an open pipe gives it no key presses either.
    m_process->start(QIODevice::ReadWrite);
}

void EncoderRunner::stop(int graceMs)
{
    if (!m_started || hasEnded() || m_stopRequested)
        return;
    m_stopRequested = true;
    if (m_process->state() == QProcess::NotRunning)
        return;
    m_process->terminate();
    m_killTimer->start(graceMs);
}

void EncoderRunner::stopAndWait(int graceMs)
{
    stop(graceMs);
    if (m_process->state() == QProcess::NotRunning)
        return;
    if (!m_process->waitForFinished(graceMs)) {
        m_process->kill();
        m_process->waitForFinished(KillWaitMs);
    }
}

void EncoderRunner::readOutput()
{
    // Every chunk is parsed once and in order: the progress signal's receivers only record
    // and draw (front ends hear of it queued), so nothing runs this again meanwhile.
    char buffer[ChunkSize];
    while (m_process->bytesAvailable() > 0) {
        const qint64 count = m_process->read(buffer, ChunkSize);
        if (count <= 0)
            break;
        // A zero byte ends the chunk's text; what follows it in the chunk is dropped.
        const auto *zero = static_cast<const char *>(std::memchr(buffer, 0, size_t(count)));
        const QByteArray chunk(buffer, zero ? zero - buffer : qsizetype(count));
        m_outputText.append(chunk);
        if (m_head.size() < HeadKeep)
            m_head.append(chunk.left(HeadKeep - m_head.size()));
        m_tail.append(chunk);
        if (m_tail.size() > 2 * TailKeep)
            m_tail.remove(0, m_tail.size() - TailKeep);
        scanLines(chunk);
        scanHead();
        ParseProgress(m_outputText, [this](int seconds) { emit progress(seconds); });
    }
}

void EncoderRunner::scanLines(const QByteArray &chunk)
{
    for (const char c : chunk) {
        if (c != '\r' && c != '\n') {
            if (m_line.size() < MaxLine)
                m_line.append(c);
            continue;
        }
        if (m_outputError.isEmpty() && IsOutputErrorLine(m_line))
            m_outputError = m_line;
        m_line.clear();
    }
}

void EncoderRunner::scanHead()
{
    if (m_durationRead)
        return;
    const QByteArray head = m_head.left(MaxHead);
    // Whole lines only: a duration cut in two must not be read as a shorter one.
    const qsizetype end = head.lastIndexOf('\n');
    const std::optional<int> seconds =
        end < 0 ? std::nullopt : SecondsFromOutput(head.left(end + 1), m_job.InFile);
    // Past the input section (its output section or a first report) nothing more comes.
    const qsizetype output = head.indexOf("\nOutput #");
    if (seconds || head.size() >= MaxHead || (output >= 0 && head.indexOf('\n', output + 1) >= 0))
        m_durationRead = true;
    if (seconds)
        emit durationReported(*seconds);
}

void EncoderRunner::onFinished(int exitCode, QProcess::ExitStatus status)
{
    if (hasEnded())
        return;
    readOutput();                       // whatever the encoder wrote last
    scanLines(QByteArrayLiteral("\n")); // a last line without its line end
    m_exitCode = exitCode;
    if (m_stopRequested)
        finish(Outcome::Stopped);
    else if (status == QProcess::CrashExit)
        finish(Outcome::Crashed);
    else
        finish(Outcome::Exited);
}

void EncoderRunner::onErrorOccurred(QProcess::ProcessError error)
{
    // Every other error is followed by finished(); a failed start is not.
    if (error == QProcess::FailedToStart && !hasEnded())
        finish(Outcome::FailedToStart);
}

void EncoderRunner::finish(Outcome outcome)
{
    m_outcome = outcome;
    m_killTimer->stop();
    // Always from the event loop, never from inside RunEncoder() or a read.
    QMetaObject::invokeMethod(
        this, [this] { emit ended(); }, Qt::QueuedConnection);
}

bool IsOutputErrorLine(QByteArrayView line)
{
    // Information lines (metadata, streams) are indented and may quote any text.
    if (line.isEmpty() || line.front() == ' ')
        return false;
    QByteArrayView text = line.trimmed();
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf("] ");
        if (close > 0)
            text = text.sliced(close + 2);
    }
    for (const char *start :
         {"Error writing trailer", "Error closing file",
          "av_interleaved_write_frame():", "Error submitting a packet to the muxer",
          "Error muxing a packet", "Could not write header"}) {
        if (text.startsWith(start))
            return true;
    }
    for (const char *end :
         {": No space left on device", ": File too large", ": Disk quota exceeded"}) {
        if (text.endsWith(end))
            return true;
    }
    return false;
}

QString EncoderLineText(const QByteArray &line)
{
    static const QRegularExpression address(QStringLiteral("^\\[([^\\]@ ]+) @ 0x[0-9a-fA-F]+\\]"));
    QString text = QString::fromUtf8(line.trimmed());
    text.replace(address, QStringLiteral("[\\1]"));
    return text;
}

QString LastErrorLine(const QByteArray &output)
{
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= output.size(); ++i) {
        if (i == output.size() || output.at(i) == '\r' || output.at(i) == '\n') {
            const QByteArray line = output.mid(start, i - start).trimmed();
            if (!line.isEmpty() && !isProgressReport(line))
                lines.append(line);
            start = i + 1;
        }
    }
    if (lines.isEmpty())
        return {};
    QByteArray chosen = lines.last();
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (!isGenericClosing(lines.at(i))) {
            chosen = lines.at(i);
            break;
        }
    }
    return EncoderLineText(chosen);
}
