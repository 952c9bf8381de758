#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QProcess;

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

// More than any probe prints; a child that floods its output cannot eat memory.
constexpr qsizetype MaxCapture = 4 * 1024 * 1024;
// Appends as much of `more` as fits under MaxCapture.
void AppendCapped(QByteArray &output, const QByteArray &more);
// Sets up a process as RunAndCapture() runs it: merged channels, no standard input, the
// executable's folder as its working folder.
void ConfigureCapture(QProcess &process, const QString &program, const QStringList &args);
