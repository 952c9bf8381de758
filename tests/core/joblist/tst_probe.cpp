#include "common/testcommon.h"

#include "core/base/durationtext.h"
#include "core/base/runandcapture.h"
#include "core/base/sizeestimate.h"
#include "core/joblist/mediaprobe.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>

#include <sys/stat.h>

Q_DECLARE_METATYPE(RunResult::Outcome)

namespace {

const QString SomeWav = QStringLiteral("/x.wav");

// Runs the asynchronous probe to its end: the result, or what went wrong instead.
QString probeAsync(const QString &encoder, const QString &path, int timeoutMs = 30000)
{
    MediaProbe probe;
    probe.setTimeout(timeoutMs);
    QSignalSpy spy(&probe, &MediaProbe::finished);
    probe.start(encoder, path);
    if (!probe.isRunning() || spy.count() != 0)
        return QStringLiteral("<emitted inside start>");
    if (!spy.wait(timeoutMs + 10000) || probe.isRunning())
        return QStringLiteral("<no end>");
    QTest::qWait(50);
    return spy.count() == 1 ? DurationText(spy.first().first().value<std::optional<int>>())
                            : QStringLiteral("<twice>");
}

// The process whose id the fake encoder wrote has ended; the file is removed for the next run.
bool processGone(const QString &pidFile)
{
    QFile file(pidFile);
    const pid_t pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    file.remove();
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

class TestProbe : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_pidFile = m_dir.filePath(QStringLiteral("pid"));

private slots:
    void init()
    {
        FakeEncoder::reset();
        QFile::remove(m_pidFile);
        qputenv("FAKE_PID_FILE", QFile::encodeName(m_pidFile));
    }
    void cleanupTestCase() { FakeEncoder::reset(); }

    void durationFromOutput_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("duration");
        const QString data = QStringLiteral(WT_TEST_DATA_DIR "/");
        auto row = [](const char *name, const QByteArray &output, const QString &path,
                      const char *duration) {
            QTest::newRow(name) << output << path << QString::fromLatin1(duration);
        };
        const QString x = QStringLiteral("/x.wav");
        row("ffmpeg line", "Input #0, wav, from '/x.wav':\n  Duration: 00:03:45.23, start: 0.0\n",
            x, "00:03:45");
        row("no input section", "in.xyz: Invalid data found when processing input\n", x, "");
        // ffmpeg 5.1's own words, recorded.
        row("recorded: unknown length is N/A",
            readFile(data + QStringLiteral("ffmpeg51-probe-unknown-length.txt")),
            QStringLiteral("/tmp/wt10m/live.mkv"), "");
        row("recorded: 101 hours in full",
            readFile(data + QStringLiteral("ffmpeg51-probe-101h.txt")),
            QStringLiteral("/tmp/wt10m/long101h.wav"), "101:00:00");
        row("recorded: a file named Duration",
            readFile(data + QStringLiteral("ffmpeg51-probe-duration-in-name.txt")),
            QStringLiteral("/tmp/wt10m/Duration: live.wav"), "00:00:10");
        row("recorded: ADTS estimated from the bitrate",
            readFile(data + QStringLiteral("ffmpeg51-probe-adts.txt")),
            QStringLiteral("/tmp/wt10m/adts.aac"), "00:00:03");
        // Text that only looks like the line.
        row("a name holding a Duration line",
            "Input #0, wav, from '/a\n  Duration: 09:09:09.00\n.wav':\n  Duration: 00:00:01.00,\n",
            QStringLiteral("/a\n  Duration: 09:09:09.00\n.wav"), "00:00:01");
        row("a tag holding Duration",
            "Input #0, wav, from '/x.wav':\n  Metadata:\n    comment         : Duration: 01:00:00\n"
            "  Duration: 00:00:02.00, bitrate: 1 kb/s\n",
            x, "00:00:02");
        row("the section ends first",
            "Input #0, wav, from '/x.wav':\n  Metadata:\nOutput #0, mp3, to 'o.mp3':\n"
            "  Duration: 01:00:00.00\n",
            x, "");
        row("an error naming Duration", "Duration: live.wav: Protocol not found\n", x, "");
        row("without the path, the Input line",
            "Input #0, wav, from 'y':\n  Duration: 00:00:07.50,", QString(), "00:00:07");
        row("garbage time", "Input #0, wav, from '/x.wav':\n  Duration: 0x:00:00.00,\n", x, "");
        row("ends early", "Input #0, wav, from '/x.wav':\n  Duration: 00:03:4", x, "");
    }

    void durationFromOutput()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, path);
        QFETCH(QString, duration);
        QVERIFY(!output.isEmpty());
        QCOMPARE(DurationFromOutput(output, path), duration);
    }

    void durationToSeconds_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("seconds");
        QTest::newRow("two digits") << QStringLiteral("00:03:45") << 225;
        QTest::newRow("short seconds") << QStringLiteral("00:03:4") << 184;
        QTest::newRow("places 3 and 6 unread") << QStringLiteral("00x03y45") << 225;
        QTest::newRow("leading blank") << QStringLiteral(" 0:03:45") << 0;
        QTest::newRow("sign") << QStringLiteral("+1:00:00") << 0;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("100 hours and more in full") << QStringLiteral("101:00:00") << 363600;
        QTest::newRow("largest") << QStringLiteral("596523:14:07") << 2147483647;
        QTest::newRow("past 32 bits") << QStringLiteral("596523:14:08") << 0;
    }

    void durationToSeconds()
    {
        QFETCH(QString, text);
        QFETCH(int, seconds);
        QCOMPARE(DurationToSeconds(text), seconds);
    }

    void estimateSize_data()
    {
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("size");
        auto row = [](const char *name, const char *duration, const char *bitrate,
                      const char *size) {
            QTest::newRow(name) << QString::fromLatin1(duration) << QString::fromLatin1(bitrate)
                                << QString::fromLatin1(size);
        };
        row("probe at 128k", "00:03:45", "128000", "3.43MB");
        row("cut, not rounded", "00:00:10", "8000", "0.00MB");
        row("nothing", "00:00:00", "128000", "0MB");
        row("garbage duration", "N/A, sta", "128000", "0MB");
        row("half an hour of WAV", "00:30:00", "1411000", "302.76MB");
        row("whole number", "02:16:32", "128000", "125MB");
        row("thousand", "18:12:16", "128000", "1000MB");
        row("past 15 digits", "99:59:59", "9000000000000000000", "386237025260925000MB");
        row("bitrate not a number", "00:03:45", "128k", "0MB");
        row("negative bitrate", "00:03:45", "-128000", "0MB");
    }

    void estimateSize()
    {
        QFETCH(QString, duration);
        QFETCH(QString, bitrate);
        QFETCH(QString, size);
        QCOMPARE(EstimateSize(duration, bitrate), size);
    }

    void fakeProbe_data()
    {
        QTest::addColumn<QByteArray>("knob");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<RunResult::Outcome>("outcome");
        QTest::addColumn<int>("exitCode");
        using O = RunResult::Outcome;
        auto row = [](const char *name, const char *knob, const char *value, const char *duration,
                      O outcome = O::Finished, int exitCode = 1) {
            QTest::newRow(name) << QByteArray(knob) << QByteArray(value)
                                << QString::fromLatin1(duration) << outcome << exitCode;
        };
        row("normal", "FAKE_MODE", "normal", "00:03:45");
        row("unknown length", "FAKE_DURATION", "N/A", "");
        row("no duration line", "FAKE_DURATION", "", "");
        row("exit code not examined", "FAKE_EXIT", "3", "00:03:45", O::Finished, 3);
        // A signal and an exit code of the same number are told apart.
        row("exit 9", "FAKE_EXIT", "9", "00:03:45", O::Finished, 9);
        row("crash after printing", "FAKE_MODE", "crash", "00:03:45", O::Crashed, SIGKILL);
        row("prints nothing", "FAKE_MODE", "nooutput", "");
    }

    void fakeProbe()
    {
        QFETCH(QByteArray, knob);
        QFETCH(QByteArray, value);
        QFETCH(QString, duration);
        QFETCH(RunResult::Outcome, outcome);
        QFETCH(int, exitCode);
        qputenv(knob.constData(), value);
        const QString log = m_dir.filePath(QStringLiteral("args.log"));
        QFile::remove(log);
        qputenv("FAKE_ARGS_LOG", QFile::encodeName(log));
        const QString path = m_dir.filePath(QStringLiteral("a b \"c\".wav"));
        QByteArray output;
        const RunResult run =
            RunAndCapture(FakeEncoder::path(), {QStringLiteral("-i"), path}, output);
        QCOMPARE(run.outcome, outcome);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(ProbeDuration(FakeEncoder::path(), path), duration);
        QCOMPARE(probeAsync(FakeEncoder::path(), path), duration);
        // The path reaches the encoder as one argument, as it stands.
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), ("-i " + QFile::encodeName(path) + '\n').repeated(3));
    }

    void missingEncoder()
    {
        const QString notExecutable = m_dir.filePath(QStringLiteral("ffmpeg"));
        QVERIFY(QFile(notExecutable).open(QIODevice::WriteOnly));
        for (const QString &encoder :
             {m_dir.filePath(QStringLiteral("none")), notExecutable, QString()}) {
            QByteArray output = "kept";
            QCOMPARE(RunAndCapture(encoder, {QStringLiteral("-i"), SomeWav}, output).outcome,
                     RunResult::Outcome::FailedToStart);
            QCOMPARE(output, QByteArray("kept"));
            QCOMPARE(ProbeDuration(encoder, SomeWav), QString());
            QCOMPARE(probeAsync(encoder, SomeWav), QString());
        }
    }

    void hangingEncoderIsKilled()
    {
        qputenv("FAKE_MODE", "hang");
        QElapsedTimer clock;
        clock.start();
        QByteArray output;
        QCOMPARE(RunAndCapture(FakeEncoder::path(), {QStringLiteral("-i"), SomeWav}, output, 500)
                     .outcome,
                 RunResult::Outcome::TimedOut);
        // What it printed before hanging is kept, yet the probe result is empty.
        QVERIFY(output.contains("Duration: 00:03:45"));
        QVERIFY(processGone(m_pidFile));
        QCOMPARE(probeAsync(FakeEncoder::path(), SomeWav, 500), QString());
        QVERIFY(processGone(m_pidFile));
        QVERIFY(clock.elapsed() < 10000);
    }

    void staleRunsStaySilent()
    {
        qputenv("FAKE_MODE", "hang");
        MediaProbe probe;
        QSignalSpy spy(&probe, &MediaProbe::finished);
        probe.start(FakeEncoder::path(), SomeWav);
        // Wait for the whole pid line: the file exists a moment before it is written.
        QTRY_VERIFY(QFileInfo(m_pidFile).size() > 1);
        probe.abort();
        QVERIFY(!probe.isRunning());
        QVERIFY(processGone(m_pidFile));
        // A restart drops the failure already queued for the run it replaces.
        qputenv("FAKE_MODE", "normal");
        qputenv("FAKE_DURATION", "01:02:03.00");
        probe.start(QString(), QStringLiteral("/first.wav"));
        probe.start(FakeEncoder::path(), QStringLiteral("/second.wav"));
        QVERIFY(spy.wait(10000));
        QTest::qWait(100);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.first().first().value<std::optional<int>>(), std::optional<int>(3723));
    }

    void realEncoder()
    {
        const QString encoder = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
        if (encoder.isEmpty())
            QSKIP("ffmpeg is not installed");
        const QString sine = m_dir.filePath(u"sine 440 \u00E9.wav"_qs);
        QCOMPARE(
            QProcess::execute(encoder, {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"),
                                        QStringLiteral("error"), QStringLiteral("-f"),
                                        QStringLiteral("lavfi"), QStringLiteral("-i"),
                                        QStringLiteral("sine=frequency=440:duration=225"),
                                        QStringLiteral("-y"), sine}),
            0);
        const QString duration = ProbeDuration(encoder, sine);
        QCOMPARE(duration, QStringLiteral("00:03:45"));
        QCOMPARE(EstimateSize(duration, QStringLiteral("128000")), QStringLiteral("3.43MB"));
        QCOMPARE(probeAsync(encoder, sine), QStringLiteral("00:03:45"));

        // Opening a FIFO blocks ffmpeg for good: the watchdog ends it, sync and async.
        const QString fifo = m_dir.filePath(QStringLiteral("pipe.wav"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QElapsedTimer clock;
        clock.start();
        QByteArray output;
        QCOMPARE(RunAndCapture(encoder, {QStringLiteral("-i"), fifo}, output, 500).outcome,
                 RunResult::Outcome::TimedOut);
        QCOMPARE(probeAsync(encoder, fifo, 500), QString());
        QVERIFY(clock.elapsed() < 10000);
    }
};

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
