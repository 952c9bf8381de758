#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class QProcess;

// Whole seconds of an HH:MM:SS text: characters 1-2, 4-5 and 7-8 must each be one
// or two ASCII digits (no sign, no blanks); 0 when any of them is not. 100 hours and
// more are written with all their hour digits (HHH:MM:SS) and read in full; 0 when the
// seconds do not fit in 32 bits.
int DurationToSeconds(const QString &text);

// Output size estimate such as "3.43MB": megabytes (1024 * 1024 bytes) with at
// most two decimals, cut rather than rounded. A bitrate that is not a whole,
// non-negative number counts as 0.
QString EstimateSize(const QString &duration, const QString &bitrate);
// The same text for a number of megabytes: "3.43MB".
QString MegabytesText(double megabytes);

// The duration the encoder reports for its input, as HH:MM:SS (the fraction cut off, all
// hour digits kept from 100 hours on). Only ffmpeg's own "  Duration: " line of the input
// section counts: the section starts after "from '<inputPath>':" (or, without the path,
// at the line "Input #0, ..."), and ends at its first line that is not indented, so a file
// name, a tag or an error text that holds "Duration:" is never read as one. Empty when
// there is no such line and when it says N/A (a stream of unknown length).
QString DurationFromOutput(const QByteArray &output, const QString &inputPath = QString());

// How a run of RunAndCapture() ended.
struct RunResult
{
    enum class Outcome
    {
        Finished,     // ended by itself; exitCode tells how
        Crashed,      // ended by a signal; exitCode is the signal's number
        TimedOut,     // still running after the timeout, and killed
        FailedToStart // no such program, or not executable
    };
    Outcome outcome = Outcome::FailedToStart;
    int exitCode = -1;

    bool succeeded() const { return outcome == Outcome::Finished && exitCode == 0; }
};

// Runs program with args, standard output and error merged into output, standard input
// empty. When it cannot be started, output is left alone; when it times out, output holds
// what it wrote until then. A negative timeout waits without limit.
RunResult RunAndCapture(const QString &program, const QStringList &args, QByteArray &output,
                        int timeoutMs = 30000);

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
    // Empty when the encoder is missing, failed or timed out.
    void finished(const QString &duration);

private:
    void failLater();
    void conclude(const QString &duration);
    void releaseProcess();

    QProcess *m_process = nullptr;
    QTimer m_watchdog;
    QByteArray m_output;
    int m_timeout = 30000;
    bool m_running = false;
    quint64 m_run = 0; // tells a stale queued failure from the current run
};
