#include "common/testguard.h"

#include "core/convert/batchsequencer.h"
#include "core/convert/commandline.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/endaction.h"
#include "core/convert/progressmeter.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/tid3v1.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>

Q_DECLARE_METATYPE(JobStatus)
Q_DECLARE_METATYPE(EncodingProfile)

namespace {

const char *const FakeVariables[] = {
    "FAKE_DURATION",     "FAKE_TRANSCRIPT", "FAKE_CHUNK_BYTES", "FAKE_CHUNK_DELAY_MS",
    "FAKE_OUTPUT_BYTES", "FAKE_EXIT",       "FAKE_MODE",        "FAKE_HANG_ON",
    "FAKE_ARGS_LOG",     "FAKE_PID_FILE",   "FAKE_IGNORE_TERM", "WT_SHUTDOWN_RECORD"};

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray field(const QByteArray &text, int size)
{
    QByteArray f = text.left(size);
    f.append(QByteArray(size - f.size(), '\0'));
    return f;
}

// The block an entry's tag must be, byte for byte: no track number, genre unchanged.
QByteArray expectedTag(const ID3info &e)
{
    QByteArray block = "TAG";
    block += field(e.Title, 30);
    block += field(e.Artist, 30);
    block += field(e.Album, 30);
    block += field(e.Year, 4);
    block += field(e.Comment, 30);
    block += char(e.Genre);
    return block;
}

ID3info entryFor(const QString &source, const QByteArray &title,
                 const QByteArray &artist = "Artist")
{
    ID3info e;
    e.Title = title;
    e.EditTitle = title;
    e.SourcePath = source;
    e.Artist = artist;
    e.Album = "Album";
    e.Year = "2024";
    e.Comment = "Comment";
    e.Genre = 17;
    e.GenreName = "Rock";
    return e;
}

bool processAlive(qint64 pid)
{
    // A reaped child has no /proc entry; a zombie would still show "Z".
    const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.isEmpty())
        return false;
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 || stat.mid(close + 2, 1) != "Z";
}

// Everything the batch tells its owner, in order.
struct Events
{
    QStringList log;
    QVector<QPair<int, int>> progress;
    int finished = 0;
    int stopped = 0;

    void attach(BatchSequencer &batch)
    {
        QObject::connect(&batch, &BatchSequencer::jobStarted, &batch,
                         [this](int row) { log << QStringLiteral("start %1").arg(row); });
        QObject::connect(&batch, &BatchSequencer::jobEnded, &batch, [this](int row, JobStatus s) {
            log << QStringLiteral("end %1 %2").arg(row).arg(JobStatusText(s));
        });
        QObject::connect(&batch, &BatchSequencer::progress, &batch, [this](int done, int total) {
            progress.append({done, total});
        });
        QObject::connect(&batch, &BatchSequencer::batchFinished, &batch, [this] {
            ++finished;
            log << QStringLiteral("finished");
        });
        QObject::connect(&batch, &BatchSequencer::batchStopped, &batch, [this] {
            ++stopped;
            log << QStringLiteral("stopped");
        });
    }
};

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void lastErrorLine_data();
    void lastErrorLine();
    void zeroByteCutsItsChunk();
    void chunksAreAtMost1024Bytes();
    void progressFromRecordedTranscript();

    void emptyListStartsNothing();
    void wavRecomputesSizesBeforeTheFirstJob();
    void rowsFinishInOrderAndAreTagged();
    void failures_data();
    void failures();
    void outputThatIsTheSourceIsNotRun();
    void stopEndsOnlyTheRunningRow();
    void stopKillsAnEncoderThatIgnoresTerminate();
    void newBatchAfterStopWaitsAndIsLeftAlone();
    void listChangeAfterStopIsLeftAlone();
    void shutdownEndsTheEncoderAndRemovesPartialOutput();
    void tagGoesIntoTheJobsOwnFile();
    void profileChangeAppliesFromTheNextFile();
    void secondBatchConvertsEveryRowAgain();

    void shutdownCandidates_data();
    void shutdownCandidates();
    void endActionRunsOnceAfterTheLastRow();
    void endActionDoesNotRunAfterStop();

    void realFormats_data();
    void realFormats();
    void realEncoderFailure_data();
    void realEncoderFailure();
    void realSameTitleLaterWins();
    void realProgressReachesTheDisplay();
    void realStopInTheMiddle();

private:
    QString makeSource(const QString &name, double seconds, int rate = 22050, int channels = 1);
    QString dummySource(const QString &name);
    void setUpBatch(BatchSequencer &batch,
                    const QString &encoder = QStringLiteral(WT_FAKE_ENCODER));
    QStringList argsLog() const;
    QString probe(const QString &path, const QString &entries) const;

    QTemporaryDir m_tmp;
    QString m_src;
    QString m_out;
    QString m_ffmpeg;
    QString m_ffprobe;
    EncodingProfile m_profile;
    QString m_outputDir;
    JobListModel *m_model = nullptr;
    TID3v1 m_tag;
};

void TestEngine::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    m_ffprobe = QStandardPaths::findExecutable(QStringLiteral("ffprobe"));
    QVERIFY2(!m_ffmpeg.isEmpty() && !m_ffprobe.isEmpty(), "ffmpeg and ffprobe are needed");
    qRegisterMetaType<JobStatus>();
}

void TestEngine::init()
{
    for (const char *name : FakeVariables)
        qunsetenv(name);
    static int round = 0;
    ++round;
    m_src = m_tmp.filePath(QStringLiteral("src%1").arg(round));
    m_out = m_tmp.filePath(QStringLiteral("out%1").arg(round));
    QVERIFY(QDir().mkpath(m_src) && QDir().mkpath(m_out));
    m_profile = EncodingProfile::defaults();
    m_outputDir = m_out;
    delete m_model;
    m_model = new JobListModel(this);
}

QString TestEngine::makeSource(const QString &name, double seconds, int rate, int channels)
{
    const QString path = m_src + QLatin1Char('/') + name;
    QByteArray output;
    const int code = RunAndCapture(
        m_ffmpeg,
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=440:duration=%1").arg(seconds), QStringLiteral("-ar"),
         QString::number(rate), QStringLiteral("-ac"), QString::number(channels), path},
        output);
    if (code != 0)
        qWarning("making %s failed: %s", qPrintable(path), output.constData());
    return path;
}

QString TestEngine::dummySource(const QString &name)
{
    const QString path = m_src + QLatin1Char('/') + name;
    writeFile(path, QByteArray(4000, 'S'));
    return path;
}

void TestEngine::setUpBatch(BatchSequencer &batch, const QString &encoder)
{
    batch.setEncoderPath(encoder);
    batch.setProfileSource([this] { return m_profile; });
    batch.setOutputDirSource([this] { return m_outputDir; });
}

QStringList TestEngine::argsLog() const
{
    const QByteArray text = readFile(m_tmp.filePath(QStringLiteral("args.log")));
    QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return lines;
}

QString TestEngine::probe(const QString &path, const QString &entries) const
{
    QByteArray output;
    RunAndCapture(m_ffprobe,
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   entries, QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), path},
                  output);
    return QString::fromUtf8(output).trimmed();
}

// ---------------------------------------------------------------- runner

void TestEngine::lastErrorLine_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("line");

    const QString data = QStringLiteral(WT_TEST_DATA_DIR "/");
    QTest::newRow("ffmpeg wma 8 Kbps")
        << readFile(data + QStringLiteral("ffmpeg51-wma-8kbps.txt"))
        << QStringLiteral("[wmav2] bitrate too low: got 8000, need 24000 or higher");
    QTest::newRow("ffmpeg rm 22050 Hz")
        << readFile(data + QStringLiteral("ffmpeg51-rm-22050.txt"))
        << QStringLiteral("[ac3] Specified sample rate 22050 is not supported");
    QTest::newRow("ffmpeg missing input")
        << readFile(data + QStringLiteral("ffmpeg51-missing-input.txt"))
        << QStringLiteral("missing.wav: No such file or directory");
    QTest::newRow("progress reports are not errors")
        << QByteArray("disk full\nsize= 1kB time=00:00:01.00 bitrate= 1.0kbits/s\r\r\n")
        << QStringLiteral("disk full");
    QTest::newRow("only generic closing lines")
        << QByteArray("Conversion failed!\n") << QStringLiteral("Conversion failed!");
    QTest::newRow("no line at all") << QByteArray("\r\n  \n") << QString();
    QTest::newRow("last line without line end") << QByteArray("a\nb") << QStringLiteral("b");
}

void TestEngine::lastErrorLine()
{
    QFETCH(QByteArray, output);
    QFETCH(QString, line);
    QVERIFY(!output.isEmpty() || line.isEmpty());
    QCOMPARE(LastErrorLine(output), line);
}

void TestEngine::zeroByteCutsItsChunk()
{
    // One write, well under 1024 bytes: one chunk. Its zero byte drops the rest of it,
    // the two line ends after it included, so the report is shown once, not three times.
    const QString transcript = m_tmp.filePath(QStringLiteral("zero.txt"));
    QVERIFY(writeFile(transcript, QByteArray("size= 1kB time=00:00:07.00 bitrate=1\rjunk\0"
                                             "time=00:00:09.00 bitrate=2\r\nmore\n",
                                             68)));
    qputenv("FAKE_TRANSCRIPT", QFile::encodeName(transcript));
    qputenv("FAKE_CHUNK_BYTES", "4096");
    qputenv("FAKE_CHUNK_DELAY_MS", "100"); // the banner line is read on its own first
    EncoderRunner runner;
    QList<int> shown;
    connect(&runner, &EncoderRunner::progress, this, [&](int s) { shown << s; });
    QSignalSpy ended(&runner, &EncoderRunner::ended);
    intputrec job;
    job.EncoderFile = QStringLiteral(WT_FAKE_ENCODER);
    job.InFile = dummySource(QStringLiteral("in.wav"));
    job.OutFile = m_out + QStringLiteral("/x.mp3");
    runner.RunEncoder(job, m_profile);
    QVERIFY(ended.wait(5000));
    QCOMPARE(shown, QList<int>{7});
    QCOMPARE(runner.OutputText, QByteArray("junk"));
    QVERIFY(!runner.outputTail().contains("more"));
    QCOMPARE(runner.outcome(), EncoderRunner::Outcome::Exited);
    QCOMPARE(ended.count(), 1);
}

void TestEngine::chunksAreAtMost1024Bytes()
{
    // A zero byte at the start cuts only its own 1024-byte chunk: the report that
    // begins at byte 1024 is the next chunk and is shown.
    QByteArray text("A", 1);
    text += '\0';
    text += QByteArray(1022, 'x');
    text += "time=00:00:03.00 bitrate=1\n";
    const QString transcript = m_tmp.filePath(QStringLiteral("chunks.txt"));
    QVERIFY(writeFile(transcript, text));
    qputenv("FAKE_TRANSCRIPT", QFile::encodeName(transcript));
    qputenv("FAKE_CHUNK_BYTES", "4096");
    qputenv("FAKE_CHUNK_DELAY_MS", "100"); // the banner line is read on its own first
    EncoderRunner runner;
    QList<int> shown;
    connect(&runner, &EncoderRunner::progress, this, [&](int s) { shown << s; });
    QSignalSpy ended(&runner, &EncoderRunner::ended);
    intputrec job;
    job.EncoderFile = QStringLiteral(WT_FAKE_ENCODER);
    job.InFile = dummySource(QStringLiteral("in.wav"));
    job.OutFile = m_out + QStringLiteral("/x.mp3");
    runner.RunEncoder(job, m_profile);
    QVERIFY(ended.wait(5000));
    QCOMPARE(shown, QList<int>{3});
    QVERIFY(!runner.outputTail().contains("xxx"));
}

void TestEngine::progressFromRecordedTranscript()
{
    // ffmpeg 5.1's own report lines, replayed a line at a time, reach the progress
    // signal with the row's total; the job end shows 100 and then 0 of 100.
    qputenv("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt");
    qputenv("FAKE_CHUNK_DELAY_MS", "20"); // one report per read
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:03:45"), QString());
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);
    QVERIFY(ev.progress.contains(qMakePair(89, 225)));
    QVERIFY(ev.progress.contains(qMakePair(177, 225)));
    QCOMPARE(ev.progress.mid(ev.progress.size() - 2),
             (QVector<QPair<int, int>>{{100, 100}, {0, 100}}));
}

// ---------------------------------------------------------------- batch, fake encoder

void TestEngine::emptyListStartsNothing()
{
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    batch.TargetExtension = QStringLiteral(".aac");
    QVERIFY(!batch.StartConversion(QStringLiteral(".mp3")));
    QVERIFY(!batch.StartConversion(QStringLiteral(".wav")));
    QCOMPARE(batch.TargetExtension, QStringLiteral(".aac"));
    QVERIFY(!batch.isRunning());
    QTest::qWait(50);
    QVERIFY(ev.log.isEmpty());
    QVERIFY(ev.progress.isEmpty());
}

void TestEngine::wavRecomputesSizesBeforeTheFirstJob()
{
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:01:00"), QStringLiteral("0.91MB"));
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("b.wav")), "b"),
                         QStringLiteral("00:00:30"), QStringLiteral("0.45MB"));
    QStringList sizesAtStart;
    connect(&batch, &BatchSequencer::jobStarted, this, [&](int) {
        if (sizesAtStart.isEmpty())
            sizesAtStart << m_model->size(0) << m_model->size(1);
    });
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    QVERIFY(batch.StartConversion(QStringLiteral(".wav")));
    QCOMPARE(sizesAtStart,
             QStringList({EstimateSize(QStringLiteral("00:01:00"), QStringLiteral("1411000")),
                          EstimateSize(QStringLiteral("00:00:30"), QStringLiteral("1411000"))}));
    QVERIFY(finished.wait(5000));
    QCOMPARE(batch.TargetExtension, QStringLiteral(".wav"));
}

void TestEngine::rowsFinishInOrderAndAreTagged()
{
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    const ID3info a = entryFor(dummySource(QStringLiteral("a.wav")), "Caf\xe9 \xff bytes", "X");
    const ID3info b = entryFor(dummySource(QStringLiteral("b.wav")),
                               "A title longer than thirty bytes is cut", "Y");
    m_model->appendEntry(a, QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(b, QStringLiteral("00:00:03"), QString());
    QStringList statusAtStart;
    connect(&batch, &BatchSequencer::jobStarted, this, [&](int row) {
        statusAtStart << JobStatusText(m_model->status(row));
        QVERIFY(batch.isRunning());
    });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);
    QCOMPARE(ev.log, QStringList({QStringLiteral("start 0"), QStringLiteral("end 0 Finish"),
                                  QStringLiteral("start 1"), QStringLiteral("end 1 Finish"),
                                  QStringLiteral("finished")}));
    QCOMPARE(statusAtStart,
             QStringList({QStringLiteral("Converting"), QStringLiteral("Converting")}));
    QVERIFY(!batch.isRunning());
    QCOMPARE(batch.CurrentIndex, 2);
    for (const ID3info &e : {a, b}) {
        const QByteArray file =
            readFile(OutputPath(m_out, e.Title, e.SourcePath, QStringLiteral(".mp3")));
        QCOMPARE(file.size(), 1024 + 128);
        QCOMPARE(file.right(128), expectedTag(e));
    }
}

void TestEngine::failures_data()
{
    QTest::addColumn<QString>("encoder");
    QTest::addColumn<QByteArray>("mode");
    QTest::addColumn<QByteArray>("exitCode");
    QTest::addColumn<QByteArray>("outputBytes");
    QTest::addColumn<QByteArray>("transcript");
    QTest::addColumn<bool>("earlierOutput");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("outputKept");

    const QString fake = QStringLiteral(WT_FAKE_ENCODER);
    QTest::newRow("non-zero exit, last line is the reason")
        << fake << QByteArray("normal") << QByteArray("1") << QByteArray("700")
        << QByteArray("Input #0\r\nsomething broke: Invalid data\n") << false
        << QStringLiteral("something broke: Invalid data") << false;
    QTest::newRow("non-zero exit without output text")
        << fake << QByteArray("nooutput") << QByteArray("3") << QByteArray("700") << QByteArray()
        << false << QStringLiteral("Encoder exited with code 3") << false;
    QTest::newRow("exit 0 but no output file")
        << fake << QByteArray("normal") << QByteArray("0") << QByteArray("-1")
        << QByteArray("all fine, says the encoder\n") << false
        << QStringLiteral("all fine, says the encoder") << false;
    QTest::newRow("exit 0 with an empty output file")
        << fake << QByteArray("nooutput") << QByteArray("0") << QByteArray("0") << QByteArray()
        << false << QStringLiteral("No output file") << false;
    QTest::newRow("crash") << fake << QByteArray("crash") << QByteArray("0") << QByteArray("900")
                           << QByteArray() << false
                           << QStringLiteral("Duration: 00:03:45.23, start: 0.000000, "
                                             "bitrate: 128 kb/s")
                           << false;
    QTest::newRow("failure before touching an earlier output")
        << fake << QByteArray("normal") << QByteArray("1") << QByteArray("-1")
        << QByteArray("in.wav: No such file or directory\n") << true
        << QStringLiteral("in.wav: No such file or directory") << true;
    QTest::newRow("failure after overwriting an earlier output")
        << fake << QByteArray("normal") << QByteArray("1") << QByteArray("10")
        << QByteArray("half way\n") << true << QStringLiteral("half way") << false;
    QTest::newRow("encoder missing")
        << m_tmp.filePath(QStringLiteral("no/such/ffmpeg")) << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << true << QStringLiteral("Encoder not found") << true;
    QTest::newRow("encoder not executable")
        << QString::fromLatin1(WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt") << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << false << QStringLiteral("Encoder not found") << false;
    QTest::newRow("no encoder resolved")
        << QString() << QByteArray() << QByteArray() << QByteArray() << QByteArray() << false
        << QStringLiteral("Encoder not found") << false;
}

void TestEngine::failures()
{
    QFETCH(QString, encoder);
    QFETCH(QByteArray, mode);
    QFETCH(QByteArray, exitCode);
    QFETCH(QByteArray, outputBytes);
    QFETCH(QByteArray, transcript);
    QFETCH(bool, earlierOutput);
    QFETCH(QString, reason);
    QFETCH(bool, outputKept);

    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, encoder);
    Events ev;
    ev.attach(batch);
    const ID3info bad = entryFor(dummySource(QStringLiteral("in.wav")), "bad");
    const ID3info good = entryFor(dummySource(QStringLiteral("good.wav")), "good");
    m_model->appendEntry(bad, QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(good, QStringLiteral("00:00:03"), QString());
    const QString badOut = OutputPath(m_out, bad.Title, bad.SourcePath, QStringLiteral(".mp3"));
    const QString goodOut = OutputPath(m_out, good.Title, good.SourcePath, QStringLiteral(".mp3"));
    if (earlierOutput)
        QVERIFY(writeFile(badOut, QByteArray(3000, 'E')));

    // The first row's run fails; the environment is back to normal for the second.
    const QString transcriptFile = m_tmp.filePath(QStringLiteral("failure.txt"));
    QVERIFY(writeFile(transcriptFile, transcript));
    connect(&batch, &BatchSequencer::jobStarted, this, [&](int row) {
        for (const char *name : FakeVariables)
            qunsetenv(name);
        if (row != 0)
            return;
        qputenv("FAKE_MODE", mode);
        qputenv("FAKE_EXIT", exitCode);
        qputenv("FAKE_OUTPUT_BYTES", outputBytes);
        if (!transcript.isEmpty())
            qputenv("FAKE_TRANSCRIPT", QFile::encodeName(transcriptFile));
    });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);

    const bool encoderRuns = QFileInfo(encoder).isExecutable() && QFileInfo(encoder).isFile();
    QCOMPARE(ev.log.first(2),
             QStringList({QStringLiteral("start 0"), QStringLiteral("end 0 Failed")}));
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason);
    QCOMPARE(QFileInfo::exists(badOut), outputKept);
    if (outputKept && earlierOutput)
        QCOMPARE(readFile(badOut), QByteArray(3000, 'E')); // untouched, no tag added
    QCOMPARE(readFile(bad.SourcePath), QByteArray(4000, 'S'));
    // Exactly one end per row, and the batch went on.
    QCOMPARE(ev.log.count(QStringLiteral("end 0 Failed")), 1);
    QCOMPARE(m_model->status(1), encoderRuns ? JobStatus::Finish : JobStatus::Failed);
    if (encoderRuns)
        QCOMPARE(readFile(goodOut).right(128), expectedTag(good));
}

void TestEngine::outputThatIsTheSourceIsNotRun()
{
    qputenv("FAKE_ARGS_LOG", QFile::encodeName(m_tmp.filePath(QStringLiteral("args.log"))));
    QFile::remove(m_tmp.filePath(QStringLiteral("args.log")));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    // A source in the output folder whose tag title is its own base name.
    const QString source = m_out + QStringLiteral("/Song.mp3");
    QVERIFY(writeFile(source, QByteArray(5000, 'M')));
    m_model->appendEntry(entryFor(source, "Song"), QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("b.wav")), "Other"),
                         QStringLiteral("00:00:03"), QString());
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), QStringLiteral("Output would overwrite the source file"));
    QCOMPARE(readFile(source), QByteArray(5000, 'M'));
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(argsLog().size(), 1);
    QVERIFY(argsLog().first().endsWith(QStringLiteral("/Other.mp3")));
}

void TestEngine::stopEndsOnlyTheRunningRow()
{
    const QString pids = m_tmp.filePath(QStringLiteral("pids-stop"));
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_PID_FILE", QFile::encodeName(pids));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    for (const char *name : {"a", "b", "c"})
        m_model->appendEntry(
            entryFor(dummySource(QString::fromLatin1(name) + QStringLiteral(".wav")), name),
            QStringLiteral("00:00:03"), QString());
    m_model->setStatus(2, JobStatus::Finish); // from an earlier batch
    const QString out =
        OutputPath(m_out, "a", m_model->entry(0).SourcePath, QStringLiteral(".mp3"));
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out) && !readFile(pids).isEmpty(), 5000);
    const qint64 pid = readFile(pids).trimmed().toLongLong();
    QVERIFY(processAlive(pid));

    batch.stop();
    QVERIFY(!batch.isRunning());
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(m_model->status(1), JobStatus::Unconvert);
    QCOMPARE(m_model->status(2), JobStatus::Finish);
    QCOMPARE(ev.stopped, 1);
    QCOMPARE(ev.progress.last(), qMakePair(0, 100));
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QVERIFY(!processAlive(pid));
    QVERIFY(!QFileInfo::exists(out));
    QTest::qWait(50);
    QCOMPARE(ev.finished, 0);
    QCOMPARE(ev.log, QStringList({QStringLiteral("start 0"), QStringLiteral("end 0 Stopped"),
                                  QStringLiteral("stopped")}));
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(readFile(m_model->entry(0).SourcePath), QByteArray(4000, 'S'));

    // stop while idle changes nothing visible.
    batch.stop();
    QCOMPARE(ev.stopped, 1);
}

void TestEngine::stopKillsAnEncoderThatIgnoresTerminate()
{
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_IGNORE_TERM", "1");
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    batch.setStopGrace(300);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:00:03"), QString());
    const QString out =
        OutputPath(m_out, "a", m_model->entry(0).SourcePath, QStringLiteral(".mp3"));
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out), 5000);
    QTest::qWait(50); // let it ignore SIGTERM for real
    QElapsedTimer timer;
    timer.start();
    batch.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QVERIFY2(timer.elapsed() >= 250, "killed before the grace was over");
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
}

void TestEngine::newBatchAfterStopWaitsAndIsLeftAlone()
{
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_IGNORE_TERM", "1");
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    batch.setStopGrace(400);
    Events ev;
    ev.attach(batch);
    const ID3info a = entryFor(dummySource(QStringLiteral("a.wav")), "a");
    const ID3info b = entryFor(dummySource(QStringLiteral("b.wav")), "b");
    m_model->appendEntry(a, QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(b, QStringLiteral("00:00:03"), QString());
    const QString outA = OutputPath(m_out, a.Title, a.SourcePath, QStringLiteral(".mp3"));
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(outA), 5000);
    QTest::qWait(50);

    batch.stop();
    QVERIFY(batch.isStopping());
    qunsetenv("FAKE_MODE");
    qunsetenv("FAKE_IGNORE_TERM");
    // A new batch accepted at once: it waits for the stopped encoder, whose late end
    // must not delete the new run's file of the same name.
    ev.log.clear();
    bool startedWhileStopping = false;
    connect(&batch, &BatchSequencer::jobStarted, this,
            [&] { startedWhileStopping |= batch.isStopping(); });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QVERIFY(batch.isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 5000);
    QVERIFY(!startedWhileStopping);
    QCOMPARE(ev.log, QStringList({QStringLiteral("start 0"), QStringLiteral("end 0 Finish"),
                                  QStringLiteral("start 1"), QStringLiteral("end 1 Finish"),
                                  QStringLiteral("finished")}));
    QCOMPARE(readFile(outA).right(128), expectedTag(a));
    QCOMPARE(readFile(OutputPath(m_out, b.Title, b.SourcePath, QStringLiteral(".mp3"))).right(128),
             expectedTag(b));

    // stop while the new batch still waits: nothing starts at all.
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_IGNORE_TERM", "1");
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(m_model->status(0) == JobStatus::Converting, 5000);
    QTest::qWait(50);
    batch.stop();
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    batch.stop();
    ev.log.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QTest::qWait(50);
    QVERIFY(!ev.log.contains(QStringLiteral("start 0")));
    QCOMPARE(m_model->status(1), JobStatus::Finish);
}

void TestEngine::listChangeAfterStopIsLeftAlone()
{
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_IGNORE_TERM", "1");
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    batch.setStopGrace(300);
    Events ev;
    ev.attach(batch);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:00:03"), QString());
    const QString out =
        OutputPath(m_out, "a", m_model->entry(0).SourcePath, QStringLiteral(".mp3"));
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out), 5000);
    QTest::qWait(50);
    batch.stop();
    // Rows added after the stop: CurrentIndex would name one of them again.
    m_model->clear();
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("n1.wav")), "n1"),
                         QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("n2.wav")), "n2"),
                         QStringLiteral("00:00:03"), QString());
    ev.log.clear();
    ev.progress.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QTest::qWait(50);
    QVERIFY(ev.log.isEmpty());
    QVERIFY(ev.progress.isEmpty());
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(m_model->status(row), JobStatus::Unconvert);
        QVERIFY(m_model->reason(row).isEmpty());
    }
    QVERIFY(!QFileInfo::exists(out));
}

void TestEngine::shutdownEndsTheEncoderAndRemovesPartialOutput()
{
    const QString pids = m_tmp.filePath(QStringLiteral("pids-shutdown"));
    qputenv("FAKE_MODE", "hang");
    qputenv("FAKE_IGNORE_TERM", "1");
    qputenv("FAKE_PID_FILE", QFile::encodeName(pids));
    auto *batch = new BatchSequencer(m_model, &m_tag);
    setUpBatch(*batch);
    batch->setStopGrace(300);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:00:03"), QString());
    const QString out =
        OutputPath(m_out, "a", m_model->entry(0).SourcePath, QStringLiteral(".mp3"));
    QVERIFY(batch->StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(out) && !readFile(pids).isEmpty(), 5000);
    const qint64 pid = readFile(pids).trimmed().toLongLong();
    QElapsedTimer timer;
    timer.start();
    batch->shutdown();
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(!batch->isRunning());
    QVERIFY(!batch->isStopping());
    QVERIFY(!processAlive(pid));
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    delete batch;

    // Destroyed without shutdown(): the encoder still does not outlive it.
    QFile::remove(pids);
    auto *second = new BatchSequencer(m_model, &m_tag);
    setUpBatch(*second);
    QVERIFY(second->StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(!readFile(pids).isEmpty(), 5000);
    const qint64 pid2 = readFile(pids).trimmed().toLongLong();
    delete second;
    QVERIFY(!processAlive(pid2));
    QVERIFY(!QFileInfo::exists(out));
}

void TestEngine::tagGoesIntoTheJobsOwnFile()
{
    qputenv("FAKE_CHUNK_DELAY_MS", "30");
    qputenv("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt");
    const QString second = m_tmp.filePath(QStringLiteral("second-dir"));
    QVERIFY(QDir().mkpath(second));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    Events ev;
    ev.attach(batch);
    const ID3info a = entryFor(dummySource(QStringLiteral("a.wav")), "a");
    const ID3info b = entryFor(dummySource(QStringLiteral("b.wav")), "b");
    m_model->appendEntry(a, QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(b, QStringLiteral("00:00:03"), QString());
    // The folder changes while row 0 converts (the settings dialog may do that).
    connect(&batch, &BatchSequencer::jobStarted, this, [&](int row) {
        if (row == 0)
            m_outputDir = second;
    });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 10000);
    const QByteArray first =
        readFile(OutputPath(m_out, a.Title, a.SourcePath, QStringLiteral(".mp3")));
    QCOMPARE(first.size(), 1024 + 128);
    QCOMPARE(first.right(128), expectedTag(a));
    QVERIFY(!QFileInfo::exists(OutputPath(second, a.Title, a.SourcePath, QStringLiteral(".mp3"))));
    QCOMPARE(readFile(OutputPath(second, b.Title, b.SourcePath, QStringLiteral(".mp3"))).right(128),
             expectedTag(b));
}

void TestEngine::profileChangeAppliesFromTheNextFile()
{
    const QString log = m_tmp.filePath(QStringLiteral("args.log"));
    QFile::remove(log);
    qputenv("FAKE_ARGS_LOG", QFile::encodeName(log));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a b.wav")), "a b"),
                         QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("c.wav")), "c"),
                         QStringLiteral("00:00:03"), QString());
    connect(&batch, &BatchSequencer::jobStarted, this, [&](int row) {
        if (row == 0)
            m_profile = {QStringLiteral("22050"), QStringLiteral("64000"), QStringLiteral("1")};
    });
    QVERIFY(batch.StartConversion(QStringLiteral(".aac")));
    QVERIFY(finished.wait(5000));
    const QStringList runs = argsLog();
    QCOMPARE(runs.size(), 2);
    // One argument each, no shell: the blank in the path stays inside its argument.
    QCOMPARE(
        runs.at(0),
        QStringLiteral("-y -i %1/a b.wav -ab 128000 -ar 44100 -ac 2 %2/a b.aac").arg(m_src, m_out));
    QCOMPARE(runs.at(1),
             QStringLiteral("-y -i %1/c.wav -ab 64000 -ar 22050 -ac 1 %2/c.aac").arg(m_src, m_out));
}

void TestEngine::secondBatchConvertsEveryRowAgain()
{
    const QString log = m_tmp.filePath(QStringLiteral("args.log"));
    QFile::remove(log);
    qputenv("FAKE_ARGS_LOG", QFile::encodeName(log));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    const ID3info a = entryFor(dummySource(QStringLiteral("a.wav")), "a");
    m_model->appendEntry(a, QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("b.wav")), "b"),
                         QStringLiteral("00:00:03"), QString());
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QVERIFY(finished.wait(5000));
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QVERIFY(finished.wait(5000));
    QCOMPARE(argsLog().size(), 4);
    // Converted again, not tagged twice.
    const QByteArray out =
        readFile(OutputPath(m_out, a.Title, a.SourcePath, QStringLiteral(".mp3")));
    QCOMPARE(out.size(), 1024 + 128);
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    QCOMPARE(m_model->status(1), JobStatus::Finish);
}

// ---------------------------------------------------------------- end actions

void TestEngine::shutdownCandidates_data()
{
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<bool>("testing");
    QTest::addColumn<QList<QStringList>>("candidates");

    const QString recorder = m_tmp.filePath(QStringLiteral("rec order"));
    QTest::newRow("replacement path with a blank")
        << QFile::encodeName(recorder) << true << QList<QStringList>{{recorder}};
    QTest::newRow("replacement command with arguments")
        << QByteArray("/bin/echo \"two words\" x") << true
        << QList<QStringList>{
               {QStringLiteral("/bin/echo"), QStringLiteral("two words"), QStringLiteral("x")}};
    QTest::newRow("testing without replacement is refused")
        << QByteArray() << true << QList<QStringList>{};
    QTest::newRow("blank replacement under testing is refused")
        << QByteArray("   ") << true << QList<QStringList>{};
    QTest::newRow("the machine's own command (only listed, never run here)")
        << QByteArray() << false
        << QList<QStringList>{
               {QStringLiteral("systemctl"), QStringLiteral("poweroff")},
               {QStringLiteral("shutdown"), QStringLiteral("-h"), QStringLiteral("now")}};
}

void TestEngine::shutdownCandidates()
{
    QFETCH(QByteArray, replacement);
    QFETCH(bool, testing);
    QFETCH(QList<QStringList>, candidates);
    writeFile(m_tmp.filePath(QStringLiteral("rec order")), "#!/bin/sh\n");

    const QByteArray saved = qgetenv("WAVETRANSMUTER_SHUTDOWN_COMMAND");
    if (replacement.isEmpty())
        qunsetenv("WAVETRANSMUTER_SHUTDOWN_COMMAND");
    else
        qputenv("WAVETRANSMUTER_SHUTDOWN_COMMAND", replacement);
    if (!testing)
        qunsetenv("WAVETRANSMUTER_TESTING");
    const QList<QStringList> actual = ShutdownCommandCandidates();
    // Back at once: nothing below may ever see the machine's command.
    qputenv("WAVETRANSMUTER_TESTING", "1");
    qputenv("WAVETRANSMUTER_SHUTDOWN_COMMAND", saved);
    QCOMPARE(actual, candidates);
}

void TestEngine::endActionRunsOnceAfterTheLastRow()
{
    const QString record = m_tmp.filePath(QStringLiteral("shutdown-record"));
    QFile::remove(record);
    qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:00:03"), QString());
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("b.wav")), "b"),
                         QStringLiteral("00:00:03"), QString());
    bool recordedBeforeLastRowEnded = false;
    connect(&batch, &BatchSequencer::jobEnded, this,
            [&] { recordedBeforeLastRowEnded |= QFileInfo::exists(record); });
    // What the owner does with FinishAction 2.
    connect(&batch, &BatchSequencer::batchFinished, this, [] { RunShutdownCommand(); });
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QVERIFY(finished.wait(5000));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(record), 5000);
    QTest::qWait(100);
    QCOMPARE(readFile(record), QByteArray("shutdown \n"));
    QVERIFY(!recordedBeforeLastRowEnded);
}

void TestEngine::endActionDoesNotRunAfterStop()
{
    const QString record = m_tmp.filePath(QStringLiteral("shutdown-record-stop"));
    QFile::remove(record);
    qputenv("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
    qputenv("FAKE_MODE", "hang");
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch);
    m_model->appendEntry(entryFor(dummySource(QStringLiteral("a.wav")), "a"),
                         QStringLiteral("00:00:03"), QString());
    connect(&batch, &BatchSequencer::batchFinished, this, [] { RunShutdownCommand(); });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_VERIFY_WITH_TIMEOUT(m_model->status(0) == JobStatus::Converting, 5000);
    QTest::qWait(50);
    batch.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QTest::qWait(200);
    QVERIFY(!QFileInfo::exists(record));
}

// ---------------------------------------------------------------- the real ffmpeg

void TestEngine::realFormats_data()
{
    QTest::addColumn<QString>("extension");
    for (const char *ext : {".mp3", ".wav", ".wma", ".aac", ".rm"})
        QTest::newRow(ext) << QString::fromLatin1(ext);
}

void TestEngine::realFormats()
{
    QFETCH(QString, extension);
    // A mono 22050 Hz source, so the default profile's 44100 Hz stereo shows in the output.
    const QString source = makeSource(QStringLiteral("sine.wav"), 2, 22050, 1);
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, m_ffmpeg);
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    ID3info e = entryFor(source, "Sine \xe9t\xe9", "Wavetransmuter");
    e.Comment = "a comment of exactly thirty b.";
    m_model->appendEntry(e, QStringLiteral("00:00:02"), QString());
    QVERIFY(batch.StartConversion(extension));
    QVERIFY(finished.wait(20000));
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    const QString out = OutputPath(m_out, e.Title, source, extension);
    QCOMPARE(out, m_out + QStringLiteral("/Sine \u00e9t\u00e9") + extension);
    QCOMPARE(readFile(out).right(128), expectedTag(e));
    QCOMPARE(probe(out, QStringLiteral("stream=sample_rate")), QStringLiteral("44100"));
    QCOMPARE(probe(out, QStringLiteral("stream=channels")), QStringLiteral("2"));
    QByteArray decoded;
    QCOMPARE(RunAndCapture(m_ffmpeg,
                           {QStringLiteral("-v"), QStringLiteral("fatal"), QStringLiteral("-i"),
                            out, QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("-")},
                           decoded),
             0);
}

void TestEngine::realEncoderFailure_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<EncodingProfile>("profile");
    QTest::addColumn<QString>("reason");
    QTest::newRow("wma at 8 Kbps")
        << QStringLiteral(".wma")
        << EncodingProfile{QStringLiteral("44100"), QStringLiteral("8000"), QStringLiteral("2")}
        << QStringLiteral("[wmav2] bitrate too low: got 8000, need 24000 or higher");
    QTest::newRow("rm at 22050 Hz")
        << QStringLiteral(".rm")
        << EncodingProfile{QStringLiteral("22050"), QStringLiteral("128000"), QStringLiteral("2")}
        << QStringLiteral("[ac3] Specified sample rate 22050 is not supported");
}

void TestEngine::realEncoderFailure()
{
    QFETCH(QString, extension);
    QFETCH(EncodingProfile, profile);
    QFETCH(QString, reason);
    const QString source = makeSource(QStringLiteral("sine.wav"), 1);
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, m_ffmpeg);
    QSignalSpy finished(&batch, &BatchSequencer::batchFinished);
    m_model->appendEntry(entryFor(source, "low"), QStringLiteral("00:00:01"), QString());
    m_model->appendEntry(entryFor(source, "next"), QStringLiteral("00:00:01"), QString());
    // Row 0's job has read the profile when it starts; the next row gets the default.
    m_profile = profile;
    connect(&batch, &BatchSequencer::jobStarted, this,
            [&] { m_profile = EncodingProfile::defaults(); });
    QVERIFY(batch.StartConversion(extension));
    QVERIFY(finished.wait(20000));
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason);
    QVERIFY(!QFileInfo::exists(OutputPath(m_out, "low", source, extension)));
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(readFile(OutputPath(m_out, "next", source, extension)).right(128),
             expectedTag(m_model->entry(1)));
}

void TestEngine::realSameTitleLaterWins()
{
    const QString one = makeSource(QStringLiteral("one.wav"), 1);
    const QString two = makeSource(QStringLiteral("two.wav"), 3);
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, m_ffmpeg);
    Events ev;
    ev.attach(batch);
    m_model->appendEntry(entryFor(one, "Same", "first"), QStringLiteral("00:00:01"), QString());
    m_model->appendEntry(entryFor(two, "Same", "second"), QStringLiteral("00:00:03"), QString());
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 20000);
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(QDir(m_out).entryList(QDir::Files), QStringList{QStringLiteral("Same.mp3")});
    const QString out = m_out + QStringLiteral("/Same.mp3");
    QCOMPARE(readFile(out).right(128), expectedTag(m_model->entry(1)));
    QVERIFY(probe(out, QStringLiteral("format=duration")).toDouble() > 2.5);
}

void TestEngine::realProgressReachesTheDisplay()
{
    const QString source = makeSource(QStringLiteral("long.wav"), 90, 44100, 2);
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, m_ffmpeg);
    m_profile.SampleRate = QStringLiteral("48000"); // resampling keeps ffmpeg busy a while
    Events ev;
    ev.attach(batch);
    m_model->appendEntry(entryFor(source, "long"), QStringLiteral("00:01:30"), QString());
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.finished, 1, 30000);
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    // The encoder's reports of the row's 90 seconds, then the job end's 100 and 0 of 100.
    QVERIFY(ev.progress.size() >= 3);
    QCOMPARE(ev.progress.mid(ev.progress.size() - 2),
             (QVector<QPair<int, int>>{{100, 100}, {0, 100}}));
    const QVector<QPair<int, int>> whileRunning = ev.progress.mid(0, ev.progress.size() - 2);
    bool moved = false;
    for (const auto &p : whileRunning) {
        QCOMPARE(p.second, 90);
        QVERIFY(p.first >= 0 && p.first <= 90);
        const std::optional<ProgressFrame> frame = ProgressFrameFor(p.first, p.second);
        QVERIFY(frame);
        moved |= frame->percent > 0;
    }
    QVERIFY(moved);
}

void TestEngine::realStopInTheMiddle()
{
    const QString source = makeSource(QStringLiteral("long.wav"), 90, 44100, 2);
    BatchSequencer batch(m_model, &m_tag);
    setUpBatch(batch, m_ffmpeg);
    m_profile.SampleRate = QStringLiteral("48000");
    Events ev;
    ev.attach(batch);
    m_model->appendEntry(entryFor(source, "long"), QStringLiteral("00:01:30"), QString());
    m_model->appendEntry(entryFor(source, "after"), QStringLiteral("00:01:30"), QString());
    const QString out = OutputPath(m_out, "long", source, QStringLiteral(".mp3"));
    // Stopped from inside the progress report, as a click handled during the display's
    // event processing would.
    connect(&batch, &BatchSequencer::progress, this, [&](int done, int total) {
        if (total == 90 && batch.isRunning() && QFileInfo(out).size() > 0)
            batch.stop();
        Q_UNUSED(done);
    });
    QVERIFY(batch.StartConversion(QStringLiteral(".mp3")));
    QTRY_COMPARE_WITH_TIMEOUT(ev.stopped, 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!batch.isStopping(), 5000);
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(m_model->status(1), JobStatus::Unconvert);
    QVERIFY(!QFileInfo::exists(out));
    QCOMPARE(ev.finished, 0);
    QVERIFY(QFileInfo(source).size() > 1000000);
}

WT_SAFE_TEST_MAIN(TestEngine)

#include "tst_engine.moc"
