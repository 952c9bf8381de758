#include "core/base/runandcapture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>

#include <limits>

namespace {

int remainingMs(const QDeadlineTimer &deadline)
{
    if (deadline.isForever())
        return -1;
    return static_cast<int>(
        qMin<qint64>(deadline.remainingTime(), std::numeric_limits<int>::max()));
}

} // namespace

void AppendCapped(QByteArray &output, const QByteArray &more)
{
    const qsizetype room = MaxCapture - output.size();
    if (room > 0)
        output.append(more.constData(), qMin(room, more.size()));
}

void ConfigureCapture(QProcess &process, const QString &program, const QStringList &args)
{
    process.setProgram(program);
    process.setArguments(args);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    if (QCoreApplication::instance())
        process.setWorkingDirectory(QCoreApplication::applicationDirPath());
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
    ConfigureCapture(process, program, args);
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
            AppendCapped(captured, process.readAll());
            output = captured;
            return {Outcome::TimedOut, -1};
        }
        // A child that closed its output but lives on is waited for, not polled.
        if (!process.waitForReadyRead(remainingMs(deadline)) &&
            process.state() != QProcess::NotRunning)
            process.waitForFinished(remainingMs(deadline));
        AppendCapped(captured, process.readAll());
    }
    AppendCapped(captured, process.readAll());
    output = captured;
    if (process.exitStatus() == QProcess::CrashExit)
        return {Outcome::Crashed, process.exitCode()};
    return {Outcome::Finished, process.exitCode()};
}
