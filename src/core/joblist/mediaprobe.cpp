#include "core/joblist/mediaprobe.h"

#include "core/base/durationtext.h"
#include "core/base/runandcapture.h"

#include <QProcess>

#include <utility>

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
    connect(&m_watchdog, &QTimer::timeout, this, [this] { conclude(std::nullopt); });
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
    ConfigureCapture(*process, encoder, {QStringLiteral("-i"), path});
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { AppendCapped(m_output, process->readAllStandardOutput()); });
    connect(process, &QProcess::finished, this, [this, process, path] {
        AppendCapped(m_output, process->readAll());
        conclude(SecondsFromOutput(m_output, path));
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
                conclude(std::nullopt);
        },
        Qt::QueuedConnection);
}

void MediaProbe::conclude(std::optional<int> seconds)
{
    m_watchdog.stop();
    releaseProcess();
    m_running = false;
    emit finished(seconds);
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
