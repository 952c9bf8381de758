#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <optional>

class QProcess;

// Runs "encoder -i path" and returns the duration text it reports; empty when the
// encoder is missing, fails, names no duration or runs longer than 30 seconds.
QString ProbeDuration(const QString &encoder, const QString &path);

// The same probe without blocking: the encoder runs as a child process and the
// result arrives as finished(), always later than start() returns.
class MediaProbe : public QObject
{
    Q_OBJECT

public:
    explicit MediaProbe(QObject *parent = nullptr);
    ~MediaProbe() override;

    // A probe still running is aborted first.
    void start(const QString &encoder, const QString &path);
    // Kills this probe's own child, if any; finished() is not emitted for it.
    void abort();
    bool isRunning() const;
    // Applies from the next start(); negative means no limit. Default 30000.
    void setTimeout(int ms);

signals:
    // The whole seconds of the reported duration; nothing when the encoder is missing,
    // failed, timed out or named no duration.
    void finished(std::optional<int> seconds);

private:
    void failLater();
    void conclude(std::optional<int> seconds);
    void releaseProcess();

    QProcess *m_process = nullptr;
    QTimer m_watchdog;
    QByteArray m_output;
    int m_timeout = 30000;
    bool m_running = false;
    quint64 m_run = 0; // tells a stale queued failure from the current run
};
