#include "joblist/mediaprobe.h"

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
#include <unistd.h>

namespace {

const QString FakeEncoder = QStringLiteral(WT_FAKE_ENCODER);

// The fake encoder's knobs, set for one test and cleared after it.
class FakeEnvironment
{
public:
    FakeEnvironment() { clear(); }
    ~FakeEnvironment() { clear(); }
    void set(const char *name, const QByteArray &value) { qputenv(name, value); }

private:
    static void clear()
    {
        for (const char *name : {"FAKE_DURATION", "FAKE_TRANSCRIPT", "FAKE_CHUNK_BYTES",
                                 "FAKE_CHUNK_DELAY_MS", "FAKE_OUTPUT_BYTES", "FAKE_EXIT",
                                 "FAKE_MODE", "FAKE_HANG_ON", "FAKE_ARGS_LOG", "FAKE_PID_FILE"})
            qunsetenv(name);
    }
};

QString realEncoder()
{
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

bool makeSine(const QString &encoder, const QString &path, int seconds)
{
    QProcess process;
    process.setProgram(encoder);
    process.setArguments({QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                          QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                          QStringLiteral("-i"),
                          QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                          QStringLiteral("-y"), path});
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0 && QFile::exists(path);
}

// Runs the asynchronous probe to its end; the result, or "<none>" when no signal came.
QString probeAsync(const QString &encoder, const QString &path, int timeoutMs = 30000)
{
    MediaProbe probe;
    probe.setTimeout(timeoutMs);
    QSignalSpy spy(&probe, &MediaProbe::finished);
    probe.start(encoder, path);
    if (!probe.isRunning() || spy.count() != 0)
        return QStringLiteral("<emitted inside start>");
    if (!spy.wait(timeoutMs + 10000))
        return QStringLiteral("<none>");
    if (probe.isRunning())
        return QStringLiteral("<still running>");
    QTest::qWait(50);
    if (spy.count() != 1)
        return QStringLiteral("<emitted %1 times>").arg(spy.count());
    return spy.first().first().toString();
}

bool processGone(const QByteArray &pidFile)
{
    QFile file(QString::fromLocal8Bit(pidFile));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const pid_t pid = file.readAll().trimmed().toInt();
    return pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH;
}

} // namespace

class TestProbe : public QObject
{
    Q_OBJECT

private slots:
    void durationToSeconds_data();
    void durationToSeconds();
    void estimateSize_data();
    void estimateSize();
    void durationFromOutput_data();
    void durationFromOutput();
    void fakeProbe_data();
    void fakeProbe();
    void runAndCaptureExitCodes();
    void missingEncoder();
    void hangingEncoderIsKilled();
    void abortKillsItsChild();
    void restartReportsOnlyTheLastRun();
    void realEncoder225Seconds();
    void fifoDoesNotFreeze();
};

void TestProbe::durationToSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("seconds");

    QTest::newRow("probe") << "00:03:45" << 225;
    QTest::newRow("hour") << "01:00:00" << 3600;
    QTest::newRow("largest") << "99:59:59" << 359999;
    QTest::newRow("places 3 and 6 unread") << "00x03y45" << 225;
    QTest::newRow("fraction ignored") << "00:03:45.23" << 225;
    QTest::newRow("short last piece") << "00:03:4" << 184;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("missing seconds") << "00:03:" << 0;
    QTest::newRow("letters first") << "ab:00:00" << 0;
    QTest::newRow("not available") << "N/A, sta" << 0;
    QTest::newRow("one-digit hours") << "0:03:45" << 0;
    QTest::newRow("leading blank") << " 0:03:45" << 0;
    QTest::newRow("sign") << "+1:00:00" << 0;
    QTest::newRow("negative") << "-1:00:00" << 0;
    QTest::newRow("blank inside a piece") << "00:0 :45" << 0;
    QTest::newRow("non-ASCII digits") << u"\u0661\u0662:00:00"_qs << 0;
}

void TestProbe::durationToSeconds()
{
    QFETCH(QString, text);
    QFETCH(int, seconds);
    QCOMPARE(DurationToSeconds(text), seconds);
}

void TestProbe::estimateSize_data()
{
    QTest::addColumn<QString>("duration");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("size");

    QTest::newRow("probe at 128k") << "00:03:45"
                                   << "128000"
                                   << "3.43MB";
    QTest::newRow("nothing") << "00:00:00"
                             << "128000"
                             << "0MB";
    QTest::newRow("no duration") << ""
                                 << "128000"
                                 << "0MB";
    QTest::newRow("garbage duration") << "N/A, sta"
                                      << "128000"
                                      << "0MB";
    QTest::newRow("tiny") << "00:00:10"
                          << "8000"
                          << "0.00MB";
    QTest::newRow("smallest") << "00:00:01"
                              << "8000"
                              << "0.00MB";
    QTest::newRow("below exponent limit") << "00:00:01"
                                          << "1"
                                          << "0.00MB";
    QTest::newRow("half an hour of WAV") << "00:30:00"
                                         << "1411000"
                                         << "302.76MB";
    QTest::newRow("whole number") << "02:16:32"
                                  << "128000"
                                  << "125MB";
    QTest::newRow("thousand") << "18:12:16"
                              << "128000"
                              << "1000MB";
    QTest::newRow("longest WAV") << "99:59:59"
                                 << "1411000"
                                 << "60553.38MB";
    QTest::newRow("huge bitrate") << "00:00:01"
                                  << "9000000000000000000"
                                  << "1072883605957.03MB";
    QTest::newRow("past 15 digits") << "99:59:59"
                                    << "9000000000000000000"
                                    << "386237025260925000MB";
    QTest::newRow("bitrate not a number") << "00:03:45"
                                          << "128k"
                                          << "0MB";
    QTest::newRow("negative bitrate") << "00:03:45"
                                      << "-128000"
                                      << "0MB";
}

void TestProbe::estimateSize()
{
    QFETCH(QString, duration);
    QFETCH(QString, bitrate);
    QFETCH(QString, size);
    QCOMPARE(EstimateSize(duration, bitrate), size);
}

void TestProbe::durationFromOutput_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("duration");

    QTest::newRow("ffmpeg line")
        << QByteArrayLiteral(
               "Input #0\n  Duration: 00:03:45.23, start: 0.000000, bitrate: 128 kb/s\n")
        << "00:03:45";
    QTest::newRow("none") << QByteArrayLiteral("in.xyz: Invalid data found when processing input\n")
                          << "";
    QTest::newRow("empty") << QByteArray() << "";
    QTest::newRow("ends early") << QByteArrayLiteral("Duration: 00:0") << "00:0";
    QTest::newRow("ends at marker") << QByteArrayLiteral("Duration:") << "";
    QTest::newRow("letters") << QByteArrayLiteral("  Duration: N/A, start: 0.000000\n")
                             << "N/A, sta";
    QTest::newRow("first one") << QByteArrayLiteral("Duration: 00:00:01.00\nDuration: 00:00:02.00")
                               << "00:00:01";
    QTest::newRow("any character after the colon")
        << QByteArrayLiteral("Duration:\t01:02:03") << "01:02:03";
}

void TestProbe::durationFromOutput()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, duration);
    QCOMPARE(DurationFromOutput(output), duration);
}

void TestProbe::fakeProbe_data()
{
    QTest::addColumn<QByteArray>("knob");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("duration");

    QTest::newRow("normal") << QByteArray() << QByteArray() << "00:03:45";
    QTest::newRow("letters for the time")
        << QByteArray("FAKE_DURATION") << QByteArray("N/A") << "N/A, sta";
    QTest::newRow("no duration line") << QByteArray("FAKE_DURATION") << QByteArray() << "";
    QTest::newRow("exit code not examined")
        << QByteArray("FAKE_EXIT") << QByteArray("3") << "00:03:45";
    QTest::newRow("crash after printing")
        << QByteArray("FAKE_MODE") << QByteArray("crash") << "00:03:45";
    QTest::newRow("prints nothing") << QByteArray("FAKE_MODE") << QByteArray("nooutput") << "";
}

void TestProbe::fakeProbe()
{
    QFETCH(QByteArray, knob);
    QFETCH(QByteArray, value);
    QFETCH(QString, duration);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeEnvironment fake;
    if (!knob.isEmpty())
        fake.set(knob.constData(), value);
    const QByteArray log = QFile::encodeName(dir.filePath(QStringLiteral("args.log")));
    fake.set("FAKE_ARGS_LOG", log);

    const QString path = dir.filePath(QStringLiteral("a b \"c\".wav"));
    QCOMPARE(ProbeDuration(FakeEncoder, path), duration);
    QCOMPARE(probeAsync(FakeEncoder, path), duration);

    // The path reaches the encoder as one argument, as it stands.
    QFile file(QString::fromLocal8Bit(log));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray line = "-i " + QFile::encodeName(path) + '\n';
    QCOMPARE(file.readAll(), line + line);
}

void TestProbe::runAndCaptureExitCodes()
{
    FakeEnvironment fake;
    QByteArray output;

    fake.set("FAKE_EXIT", "7");
    QCOMPARE(RunAndCapture(FakeEncoder, {QStringLiteral("-i"), QStringLiteral("/x.wav")}, output),
             7);
    QVERIFY(output.startsWith("fakeencoder version"));
    QVERIFY(output.contains("  Duration: 00:03:45.23, start: 0.000000, bitrate: 128 kb/s\n"));

    fake.set("FAKE_MODE", "crash");
    QCOMPARE(RunAndCapture(FakeEncoder, {QStringLiteral("-i"), QStringLiteral("/x.wav")}, output),
             int(SIGKILL));
    QVERIFY(output.contains("Duration:"));
}

void TestProbe::missingEncoder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("no-ffmpeg"));
    const QString notExecutable = dir.filePath(QStringLiteral("ffmpeg"));
    QFile file(notExecutable);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));

    for (const QString &encoder : {missing, notExecutable, QString()}) {
        QByteArray output = QByteArrayLiteral("kept");
        QCOMPARE(RunAndCapture(encoder, {QStringLiteral("-i"), QStringLiteral("/x.wav")}, output),
                 -1);
        QCOMPARE(output, QByteArrayLiteral("kept"));
        QCOMPARE(ProbeDuration(encoder, QStringLiteral("/x.wav")), QString());
        QCOMPARE(probeAsync(encoder, QStringLiteral("/x.wav")), QString());
    }
}

void TestProbe::hangingEncoderIsKilled()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeEnvironment fake;
    fake.set("FAKE_MODE", "hang");
    const QByteArray pidFile = QFile::encodeName(dir.filePath(QStringLiteral("pid")));
    fake.set("FAKE_PID_FILE", pidFile);

    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    QCOMPARE(
        RunAndCapture(FakeEncoder, {QStringLiteral("-i"), QStringLiteral("/x.wav")}, output, 500),
        -2);
    QVERIFY(clock.elapsed() < 10000);
    // What it printed before hanging is kept, yet the probe result is empty.
    QVERIFY(output.contains("Duration: 00:03:45"));
    QVERIFY(processGone(pidFile));

    QFile::remove(QString::fromLocal8Bit(pidFile));
    clock.restart();
    QCOMPARE(probeAsync(FakeEncoder, QStringLiteral("/x.wav"), 500), QString());
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY(processGone(pidFile));

    // Hanging before any output, picked by the file name.
    fake.set("FAKE_MODE", "normal");
    fake.set("FAKE_HANG_ON", "hang");
    QCOMPARE(probeAsync(FakeEncoder, QStringLiteral("/music/hang.wav"), 500), QString());
    QCOMPARE(probeAsync(FakeEncoder, QStringLiteral("/music/fine.wav"), 500),
             QStringLiteral("00:03:45"));
}

void TestProbe::abortKillsItsChild()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    FakeEnvironment fake;
    fake.set("FAKE_MODE", "hang");
    const QByteArray pidFile = QFile::encodeName(dir.filePath(QStringLiteral("pid")));
    fake.set("FAKE_PID_FILE", pidFile);

    MediaProbe probe;
    QSignalSpy spy(&probe, &MediaProbe::finished);
    probe.start(FakeEncoder, QStringLiteral("/x.wav"));
    // Wait for the whole pid line: the file exists a moment before it is written.
    QTRY_VERIFY(QFileInfo(QString::fromLocal8Bit(pidFile)).size() > 1);
    QVERIFY(probe.isRunning());
    probe.abort();
    QVERIFY(!probe.isRunning());
    QVERIFY(processGone(pidFile));
    QTest::qWait(200);
    QCOMPARE(spy.count(), 0);

    // A failure already queued for an aborted run is dropped too.
    probe.start(QString(), QStringLiteral("/x.wav"));
    probe.abort();
    QTest::qWait(100);
    QCOMPARE(spy.count(), 0);
}

void TestProbe::restartReportsOnlyTheLastRun()
{
    FakeEnvironment fake;
    MediaProbe probe;
    QSignalSpy spy(&probe, &MediaProbe::finished);
    probe.start(QString(), QStringLiteral("/first.wav"));
    fake.set("FAKE_DURATION", "01:02:03.00");
    probe.start(FakeEncoder, QStringLiteral("/second.wav"));
    QVERIFY(spy.wait(10000));
    QTest::qWait(100);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().first().toString(), QStringLiteral("01:02:03"));
}

void TestProbe::realEncoder225Seconds()
{
    const QString encoder = realEncoder();
    if (encoder.isEmpty())
        QSKIP("ffmpeg is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(u"sine 440 \u00E9.wav"_qs);
    QVERIFY(makeSine(encoder, path, 225));

    const QString duration = ProbeDuration(encoder, path);
    QCOMPARE(duration, QStringLiteral("00:03:45"));
    QCOMPARE(DurationToSeconds(duration), 225);
    QCOMPARE(EstimateSize(duration, QStringLiteral("128000")), QStringLiteral("3.43MB"));
    QCOMPARE(probeAsync(encoder, path), QStringLiteral("00:03:45"));

    // A file ffmpeg cannot read gives no duration.
    const QString text = dir.filePath(QStringLiteral("notes.wav"));
    QFile file(text);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not audio at all\n");
    file.close();
    QCOMPARE(ProbeDuration(encoder, text), QString());
}

void TestProbe::fifoDoesNotFreeze()
{
    const QString encoder = realEncoder();
    if (encoder.isEmpty())
        QSKIP("ffmpeg is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe.wav"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    QElapsedTimer clock;
    clock.start();
    QByteArray output;
    QCOMPARE(RunAndCapture(encoder, {QStringLiteral("-i"), fifo}, output, 500), -2);
    QVERIFY(clock.elapsed() < 10000);

    clock.restart();
    QCOMPARE(probeAsync(encoder, fifo, 500), QString());
    QVERIFY(clock.elapsed() < 10000);
}

QTEST_GUILESS_MAIN(TestProbe)
#include "tst_probe.moc"
