#include "core/joblist/mediaprobe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <limits>
#include <optional>
#include <utility>

namespace {

// More than any probe prints; an encoder that floods its output cannot eat memory.
constexpr qsizetype MaxCapture = 4 * 1024 * 1024;

void appendCapped(QByteArray &output, const QByteArray &more)
{
    const qsizetype room = MaxCapture - output.size();
    if (room > 0)
        output.append(more.constData(), qMin(room, more.size()));
}

void configure(QProcess &process, const QString &program, const QStringList &args)
{
    process.setProgram(program);
    process.setArguments(args);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (QCoreApplication::instance())
        process.setWorkingDirectory(QCoreApplication::applicationDirPath());
}

int remainingMs(const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return -1;
    return static_cast<int>(
        qMin<qint64>(deadline.remainingTime(), std::numeric_limits<int>::max()));
}

std::optional<int> twoDigitPiece(const QString &text, qsizetype from)
{
    const QStringView piece = QStringView(text).mid(from, 2);
    if (piece.isEmpty())
        return std::nullopt;
    int value = 0;
    for (QChar c : piece) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    return value;
}

// %.15g, but always in fixed notation: the digits are the same, the exponent
// form (which QString::number may choose) is written out.
QString generalFixed(double value)
{
    const QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e < 0)
        return text;

    QString mantissa = text.left(e);
    const int exponent = QStringView(text).sliced(e + 1).toInt();
    QString sign;
    if (mantissa.startsWith(QLatin1Char('-'))) {
        sign = QStringLiteral("-");
        mantissa.remove(0, 1);
    }
    const QString digits = QString(mantissa).remove(QLatin1Char('.'));
    const qsizetype point = 1 + exponent; // digits before the decimal point
    if (point <= 0)
        return sign + QStringLiteral("0.") + QString(-point, QLatin1Char('0')) + digits;
    if (point >= digits.size())
        return sign + digits + QString(point - digits.size(), QLatin1Char('0'));
    return sign + digits.left(point) + QLatin1Char('.') + digits.mid(point);
}

} // namespace

int DurationToSeconds(const QString &text)
{
    static const QRegularExpression longForm(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{3,}):([0-9]{2}):([0-9]{2})")));
    if (const QRegularExpressionMatch m = longForm.match(text); m.hasMatch()) {
        bool ok = false;
        const qint64 hours = m.captured(1).toLongLong(&ok);
        // Bound the hours before multiplying: a huge count must read as unknown, not wrap.
        if (!ok || hours > std::numeric_limits<int>::max() / 3600)
            return 0;
        const qint64 seconds = hours * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toInt();
        return seconds <= std::numeric_limits<int>::max() ? int(seconds) : 0;
    }
    const auto hours = twoDigitPiece(text, 0);
    const auto minutes = twoDigitPiece(text, 3);
    const auto seconds = twoDigitPiece(text, 6);
    if (!hours || !minutes || !seconds)
        return 0;
    return *hours * 3600 + *minutes * 60 + *seconds;
}

QString EstimateSize(const QString &duration, const QString &bitrate)
{
    const int seconds = DurationToSeconds(duration);
    bool ok = false;
    qint64 bitsPerSecond = bitrate.toLongLong(&ok);
    if (!ok || bitsPerSecond < 0)
        bitsPerSecond = 0;
    return MegabytesText(static_cast<double>(seconds) * static_cast<double>(bitsPerSecond) / 8 /
                         1024 / 1024);
}

QString MegabytesText(double megabytes)
{
    QString text = generalFixed(megabytes);
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    if (point >= 0)
        text.truncate(point + 3);
    return text + QStringLiteral("MB");
}

QString DurationFromOutput(const QByteArray &output, const QString &inputPath)
{
    // The line end of the input section's header line; the path may hold any byte.
    qsizetype at = -1;
    if (!inputPath.isEmpty()) {
        const QByteArray header = "from '" + QFile::encodeName(inputPath) + "':";
        at = output.indexOf(header);
        if (at >= 0)
            at = output.indexOf('\n', at + header.size());
    }
    if (at < 0) {
        at = output.startsWith("Input #0, ") ? 0 : output.indexOf("\nInput #0, ");
        if (at < 0)
            return QString();
        at = output.indexOf('\n', at + 1);
    }
    static const QRegularExpression time(QRegularExpression::anchoredPattern(
        QStringLiteral("([0-9]{2,}:[0-9]{2}:[0-9]{2})(\\.[0-9]+)?")));
    while (at >= 0 && at < output.size()) {
        const qsizetype start = at + 1;
        qsizetype end = output.indexOf('\n', start);
        if (end < 0)
            end = output.size();
        const QByteArrayView line = QByteArrayView(output).sliced(start, end - start);
        if (!line.startsWith(' '))
            return QString(); // the section ended without a duration
        if (line.startsWith("  Duration: ")) {
            QByteArrayView value = line.sliced(12);
            const qsizetype comma = value.indexOf(',');
            if (comma >= 0)
                value = value.first(comma);
            const QRegularExpressionMatch m = time.match(QString::fromLatin1(value.trimmed()));
            return m.hasMatch() ? m.captured(1) : QString();
        }
        at = end;
    }
    return QString();
}

RunResult RunAndCapture(const QString &program, const QStringList &args, QByteArray &output,
                        int timeoutMs)
{
    using Outcome = RunResult::Outcome;
    if (program.isEmpty())
        return {Outcome::FailedToStart, -1};
    const QDeadlineTimer deadline(timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                : QDeadlineTimer(timeoutMs));
    QProcess process;
    configure(process, program, args);
    process.start();
    if (!process.waitForStarted(remainingMs(deadline))) {
        if (process.state() == QProcess::NotRunning)
            return {Outcome::FailedToStart, -1};
        process.kill();
        process.waitForFinished();
        return {Outcome::TimedOut, -1};
    }

    QByteArray captured;
    while (process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            process.kill();
            process.waitForFinished();
            appendCapped(captured, process.readAll());
            output = captured;
            return {Outcome::TimedOut, -1};
        }
        // A child that closed its output but lives on is waited for, not polled.
        if (!process.waitForReadyRead(remainingMs(deadline)) &&
            process.state() != QProcess::NotRunning)
            process.waitForFinished(remainingMs(deadline));
        appendCapped(captured, process.readAll());
    }
    appendCapped(captured, process.readAll());
    output = captured;
    if (process.exitStatus() == QProcess::CrashExit)
        return {Outcome::Crashed, process.exitCode()};
    return {Outcome::Finished, process.exitCode()};
}

QString ProbeDuration(const QString &encoder, const QString &path)
{
    QByteArray output;
    const RunResult run = RunAndCapture(encoder, {QStringLiteral("-i"), path}, output);
    if (run.outcome == RunResult::Outcome::FailedToStart ||
        run.outcome == RunResult::Outcome::TimedOut)
        return QString();
    return DurationFromOutput(output, path);
}

MediaProbe::MediaProbe(QObject *parent) : QObject(parent)
{
    m_watchdog.setSingleShot(true);
    connect(&m_watchdog, &QTimer::timeout, this, [this] { conclude(QString()); });
}

MediaProbe::~MediaProbe()
{
    abort();
}

void MediaProbe::start(const QString &encoder, const QString &path)
{
    abort();
    m_running = true;
    ++m_run;
    m_output.clear();
    if (encoder.isEmpty()) {
        failLater();
        return;
    }

    auto *process = new QProcess(this);
    m_process = process;
    configure(*process, encoder, {QStringLiteral("-i"), path});
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { appendCapped(m_output, process->readAllStandardOutput()); });
    connect(process, &QProcess::finished, this, [this, process, path] {
        appendCapped(m_output, process->readAll());
        conclude(DurationFromOutput(m_output, path));
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // Reported from inside start() on some platforms; the result must come later.
        if (error == QProcess::FailedToStart)
            failLater();
    });
    if (m_timeout >= 0)
        m_watchdog.start(m_timeout);
    process->start();
}

void MediaProbe::abort()
{
    ++m_run;
    m_watchdog.stop();
    releaseProcess();
    m_running = false;
}

bool MediaProbe::isRunning() const
{
    return m_running;
}

void MediaProbe::setTimeout(int ms)
{
    m_timeout = ms;
}

void MediaProbe::failLater()
{
    const quint64 run = m_run;
    QMetaObject::invokeMethod(
        this,
        [this, run] {
            if (run == m_run && m_running)
                conclude(QString());
        },
        Qt::QueuedConnection);
}

void MediaProbe::conclude(const QString &duration)
{
    m_watchdog.stop();
    releaseProcess();
    m_running = false;
    emit finished(duration);
}

void MediaProbe::releaseProcess()
{
    QProcess *process = std::exchange(m_process, nullptr);
    if (!process)
        return;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(5000);
    }
    // May be inside one of its own signals.
    process->deleteLater();
}
