#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/intputrec.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QProcess>
#include <QString>

class QTimer;

// One run of the encoder over one job. The encoder's output and error arrive merged
// and are read on the GUI thread in chunks of at most 1024 bytes; after each chunk the
// progress parser runs over what has not been consumed yet. ended() comes exactly once,
// from the event loop, after the encoder has ended or could not be started.
class EncoderRunner : public QObject
{
    Q_OBJECT
public:
    enum class Outcome
    {
        Running,
        Exited,        // ended by itself; see exitCode()
        Crashed,       // ended by a signal it did not ask for
        FailedToStart, // no such program, or not executable
        Stopped        // ended because stop() asked it to
    };

    explicit EncoderRunner(QObject *parent = nullptr);
    // Kills an encoder still running: it must never outlive the program.
    ~EncoderRunner() override;

    // A front end that handles the terminal's signals itself puts the encoder in a
    // process group of its own, so Ctrl+C reaches only us and we stop it as "stop" does.
    void setOwnProcessGroup(bool own) { m_ownProcessGroup = own; }
    // Starts the encoder for a copy of `job` with the profile as it is now.
    void RunEncoder(const intputrec &job, const EncodingProfile &profile);
    // Ends the encoder: terminate now, kill once `graceMs` has passed.
    void stop(int graceMs);
    // As stop(), but waits here (bounded by the grace and a short kill wait) until it ended.
    void stopAndWait(int graceMs);

    const intputrec &job() const { return m_job; }
    Outcome outcome() const { return m_outcome; }
    // The exit code; for Outcome::Crashed, the number of the signal that ended it.
    int exitCode() const { return m_exitCode; }
    // The first line in which the encoder said that writing or closing its output failed
    // (see IsOutputErrorLine); empty when it said no such thing. ffmpeg exits 0 after some
    // of them, leaving a truncated file.
    const QByteArray &outputError() const { return m_outputError; }
    bool hasEnded() const { return m_outcome != Outcome::Running; }
    // The last output lines kept for the failure reason (a few kilobytes at most).
    const QByteArray &outputTail() const { return m_tail; }
    // The first output, where the encoder describes the streams it writes (32 KiB at most).
    const QByteArray &outputHead() const { return m_head; }
    // Output read and not yet consumed by the progress parser.
    const QByteArray &OutputText() const { return m_outputText; }

signals:
    // Whole seconds of the latest progress report, once per line end (see ParseProgress).
    void progress(int seconds);
    // At most once: the duration the encoder reports for its input, in whole seconds, as
    // SecondsFromOutput() reads it from the head of the output (ffmpeg prints it before its
    // first report).
    void durationReported(int seconds);
    void ended();

private:
    void readOutput();
    void scanLines(const QByteArray &chunk);
    void scanHead();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);
    void finish(Outcome outcome);

    QProcess *m_process;
    QTimer *m_killTimer;
    intputrec m_job;
    QByteArray m_outputText;
    QByteArray m_tail;
    QByteArray m_line; // the line being read, for scanLines(); bounded
    QByteArray m_outputError;
    QByteArray m_head;
    bool m_durationRead = false; // the input's duration was looked for in m_head
    Outcome m_outcome = Outcome::Running;
    int m_exitCode = -1;
    bool m_ownProcessGroup = false;
    bool m_started = false;
    bool m_stopRequested = false;
};

// True for a line of the encoder's output that reports a failed write or close of the
// output file: ffmpeg's "Error writing trailer ...", "Error closing file ...",
// "av_interleaved_write_frame(): ...", and any line (not an indented information line) that
// ends in "No space left on device", "File too large" or "Disk quota exceeded". A leading
// "[muxer @ 0x...]" context is passed over.
bool IsOutputErrorLine(QByteArrayView line);

// The encoder line as a reason for people: trimmed, the memory address in
// "[wmav2 @ 0x55d1...]" left out.
QString EncoderLineText(const QByteArray &line);

// The line a person needs to see when the encoder failed: the last non-empty line of
// its output that is not a progress report, passing over ffmpeg's generic closing
// lines ("Conversion failed!", "Error initializing output stream ...") when a more
// specific one comes before them, as EncoderLineText(). Empty when the output holds no
// such line.
QString LastErrorLine(const QByteArray &output);
