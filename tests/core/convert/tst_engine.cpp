#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/base/progresspercent.h"
#include "core/base/runandcapture.h"
#include "core/base/workfilename.h"
#include "core/convert/batchsequencer.h"
#include "core/convert/commandline.h"
#include "core/convert/encoderrunner.h"
#include "core/convert/outputfile.h"
#include "core/convert/outputnaming.h"
#include "core/convert/outputplan.h"
#include "core/joblist/joblistmodel.h"
#include "core/session/endaction.h"
#include "core/tags/tid3v1.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(JobStatus)
Q_DECLARE_METATYPE(EncodingProfile)

namespace {

const QString Mp3 = QStringLiteral(".mp3");
// Names a folder the engine treats as FAT (see NameRulesFor()).
const char FatFolderVariable[] = "WAVETRANSMUTER_TEST_FAT_FOLDER";
const QByteArray SourceBytes(4000, 'S');

const TargetFormat &format(const QString &extension)
{
    return *TargetFormatForExtension(extension);
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
    return "TAG" + field(e.Title, 30) + field(e.Artist, 30) + field(e.Album, 30) +
           field(e.Year, 4) + field(e.Comment, 30) + char(e.Genre);
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

using Progress = QVector<QPair<int, int>>;

// A batch over the test's list, with everything it tells its owner written down in order.
struct Batch
{
    BatchSequencer seq;
    QStringList log;
    Progress progress;
    Progress rowPercents;    // (row, percent)
    QVector<double> overall; // the batch's done / total
    int finished = 0;
    int stopped = 0;
    NamingOptions naming;
    int jobs = 1;
    const EncodingProfile *profile;
    const QString *outputDir;

    Batch(JobListModel *model, TID3v1 *tag, const QString &encoder,
          const EncodingProfile *profileIn, const QString *outputDirIn)
        : seq(model, tag), profile(profileIn), outputDir(outputDirIn)
    {
        seq.setEncoderPath(encoder);
        QObject::connect(&seq, &BatchSequencer::jobStarted, &seq,
                         [this](int row) { log << QStringLiteral("start %1").arg(row); });
        QObject::connect(&seq, &BatchSequencer::jobEnded, &seq, [this](int row, JobStatus s) {
            log << QStringLiteral("end %1 %2").arg(row).arg(JobStatusText(s));
        });
        QObject::connect(&seq, &BatchSequencer::progress, &seq, [this](int done, int total) {
            progress.append({done, total});
        });
        QObject::connect(&seq, &BatchSequencer::rowProgress, &seq, [this](int row, int percent) {
            rowPercents.append({row, percent});
        });
        QObject::connect(&seq, &BatchSequencer::batchProgress, &seq,
                         [this](int done, int total) { overall.append(double(done) / total); });
        QObject::connect(&seq, &BatchSequencer::batchFinished, &seq, [this] {
            ++finished;
            log << QStringLiteral("finished");
        });
        QObject::connect(&seq, &BatchSequencer::batchStopped, &seq, [this] {
            ++stopped;
            log << QStringLiteral("stopped");
        });
    }

    // The test's profile, folder, naming and jobs, as the next job to start reads them.
    void sync()
    {
        ConversionOptions options;
        options.profile = *profile;
        options.outputDir = *outputDir;
        options.naming = naming;
        options.jobsAtOnce = jobs;
        seq.setOptions(options);
    }
    bool start(const QString &extension = Mp3)
    {
        sync();
        return seq.StartConversion(format(extension));
    }
    // Starts and waits for the batch's end.
    bool run(const QString &extension = Mp3, int timeoutMs = 10000)
    {
        const int before = finished;
        return start(extension) && QTest::qWaitFor([&] { return finished > before; }, timeoutMs) &&
               finished == before + 1;
    }
    bool stopAndSettle()
    {
        seq.stop();
        return QTest::qWaitFor([&] { return !seq.isStopping(); }, 5000);
    }
};

// The file's type and permission bits, 0 when nothing is there.
mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

// Another run's claim on a name: an empty file it holds locked, as a running job does.
struct HeldClaim
{
    int fd = -1;
    explicit HeldClaim(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    ~HeldClaim()
    {
        if (fd >= 0)
            ::close(fd);
    }
    HeldClaim(const HeldClaim &) = delete;
    HeldClaim &operator=(const HeldClaim &) = delete;
};

// Delivers what is queued already: a signal that should not come would have come by now,
// since everything that could send one has ended.
void deliverQueued()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

QStringList steps(std::initializer_list<const char *> names)
{
    QStringList list;
    for (const char *n : names)
        list << QString::fromLatin1(n);
    return list;
}

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void lastErrorLine_data();
    void lastErrorLine();
    void outputErrorLine_data();
    void outputErrorLine();
    void runnerChunks_data();
    void runnerChunks();
    void progressFromRecordedTranscript();

    void emptyListStartsNothing();
    void wavRecomputesSizesBeforeTheFirstJob();
    void rowsFinishInOrderAndAreTagged();
    void failures_data();
    void failures();
    void refusedBeforeTheEncoderRuns_data();
    void refusedBeforeTheEncoderRuns();
    void stopEndsOnlyTheRunningRow();
    void stopKillsAnEncoderThatIgnoresTerminate();
    void newBatchAfterStopWaitsAndIsLeftAlone();
    void listChangeAfterStopIsLeftAlone();
    void shutdownEndsTheEncoderAndRemovesPartialOutput();
    void jobsReadFolderAndProfileWhenTheyStart();
    void secondBatchConvertsEveryRowAgain();
    void severalAtOnce_data();
    void severalAtOnce();
    void existingWithSeveralAtOnce_data();
    void existingWithSeveralAtOnce();
    void stopWithSeveralRunning();
    void oneFailureLeavesTheOthers();

    void linkRace_data();
    void linkRace();
    void outputFolderMovedWhileConverting_data();
    void outputFolderMovedWhileConverting();
    void twoRunsIntoOneFolder_data();
    void twoRunsIntoOneFolder();
    void existingThatIsNoOutput_data();
    void existingThatIsNoOutput();
    void staleWorkFilesAreRemoved();
    void somethingWhereAFolderGoes_data();
    void somethingWhereAFolderGoes();
    void fatFolderNames();

    void shutdownCandidates_data();
    void shutdownCandidates();
    void endActionRunsOnceAfterTheLastRow();

    void realFormats_data();
    void realFormats();
    void realVideoSourceGivesAudio();
    void refusedProfiles_data();
    void refusedProfiles();
    void realSameTitleLaterWins();
    void realProgressAndStop();

private:
    std::unique_ptr<Batch> batch(const QString &encoder = FakeEncoder::path())
    {
        return std::make_unique<Batch>(m_model, &m_tag, encoder, &m_profile, &m_outputDir);
    }
    // A row over a dummy source named after the title (or the given source).
    ID3info addRow(const QByteArray &title, const QString &source = {},
                   const QString &time = QStringLiteral("00:00:03"))
    {
        const ID3info e = entryFor(source.isEmpty() ? dummySource(title) : source, title);
        m_model->appendEntry(e, secondsOf(time));
        return e;
    }
    QString dummySource(const QByteArray &title)
    {
        const QString path =
            m_src + QLatin1Char('/') + QString::fromUtf8(title) + QStringLiteral(".wav");
        writeFile(path, SourceBytes);
        return path;
    }
    QString realSource(const QString &name, double seconds, int rate = 22050, int channels = 1,
                       const QStringList &extra = {})
    {
        const QString path = m_src + QLatin1Char('/') + name;
        makeSine(path, seconds, rate, channels, extra);
        return path;
    }
    QString outOf(const ID3info &e, const QString &extension = Mp3,
                  const QString &dir = QString()) const
    {
        return OutputPath(dir.isEmpty() ? m_out : dir, e.Title, e.SourcePath, extension);
    }
    // The fake encoder's argument lines since the test started.
    QStringList argsLog() const
    {
        return QString::fromUtf8(readFile(m_argsLog)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The encoder's arguments for a job: it writes its work file through the descriptor it
    // inherits, in the format `final`'s extension names.
    QRegularExpression argsFor(const QString &head, const QString &final) const
    {
        const TargetFormat *target = TargetFormatForExtension(u'.' + QFileInfo(final).suffix());
        return QRegularExpression(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(head + QStringLiteral(" -f ") + target->muxer) +
            QStringLiteral(" /proc/self/fd/\\d+")));
    }
    // The encoder has written into its work file in the output folder.
    bool waitForWorkFile() const
    {
        return QTest::qWaitFor(
            [&] {
                const QStringList work = workFilesIn(m_out);
                return !work.isEmpty() && QFileInfo(m_out + u'/' + work.first()).size() > 0;
            },
            5000);
    }
    qint64 waitForPid() const
    {
        (void)QTest::qWaitFor([&] { return !FakeEncoder::pids(m_pidFile).isEmpty(); }, 5000);
        const QList<qint64> pids = FakeEncoder::pids(m_pidFile);
        return pids.isEmpty() ? 0 : pids.last();
    }

    QTemporaryDir m_tmp;
    QString m_src;
    QString m_out;
    QString m_argsLog;
    QString m_pidFile;
    QString m_timesLog;
    EncodingProfile m_profile;
    QString m_outputDir;
    JobListModel *m_model = nullptr;
    TID3v1 m_tag;
};

void TestEngine::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    QVERIFY(QFileInfo(QStringLiteral(WT_LINK_RACER)).isExecutable());
    QVERIFY2(!ffmpegPath().isEmpty() && !ffprobePath().isEmpty(), "ffmpeg and ffprobe are needed");
    qRegisterMetaType<JobStatus>();
}

void TestEngine::init()
{
    FakeEncoder::reset();
    qunsetenv(FatFolderVariable);
    static int round = 0;
    ++round;
    const QString dir = m_tmp.filePath(QString::number(round));
    m_src = dir + QStringLiteral("/src");
    m_out = dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(m_src) && QDir().mkpath(m_out));
    m_argsLog = dir + QStringLiteral("/args.log");
    m_pidFile = dir + QStringLiteral("/pids");
    FakeEncoder::set("FAKE_ARGS_LOG", QFile::encodeName(m_argsLog));
    FakeEncoder::set("FAKE_PID_FILE", QFile::encodeName(m_pidFile));
    m_timesLog = dir + QStringLiteral("/times");
    FakeEncoder::set("FAKE_TIMES_LOG", QFile::encodeName(m_timesLog));
    m_profile = EncodingProfile::defaults();
    m_outputDir = m_out;
    delete m_model;
    m_model = new JobListModel(this);
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

void TestEngine::outputErrorLine_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("isError");
    auto row = [](const char *line, bool isError) {
        QTest::newRow(line) << QByteArray(line) << isError;
    };
    // ffmpeg 5.1 on a full disk or past `ulimit -f`, exiting 0 all the same.
    row("Error writing trailer of /o/a.mp3: No space left on device", true);
    row("Error closing file /o/a.mp3: File too large", true);
    row("av_interleaved_write_frame(): No space left on device", true);
    // Later ffmpeg names the muxer first.
    row("[out#0/mp3 @ 0x55d1c0] Error writing trailer: No space left on device", true);
    row("[mp3 @ 0x55d1c0] Failed to update header: Disk quota exceeded", true);
    // Information lines may quote any text: a tag, a file name.
    row("    title           : No space left on device", false);
    row("Input #0, wav, from '/in/a: File too large':", false);
    row("Error while decoding stream #0:0: Invalid data found when processing input", false);
    row("size=      64kB time=00:00:10.00 bitrate=  52.4kbits/s speed=26.4x", false);
}

void TestEngine::outputErrorLine()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, isError);
    QCOMPARE(IsOutputErrorLine(line), isError);
}

void TestEngine::runnerChunks_data()
{
    QTest::addColumn<QByteArray>("transcript");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QByteArray>("tailLacks");
    // One write, well under 1024 bytes, is one chunk: its zero byte drops the rest of it,
    // the two line ends after it included, so the report is shown once, not three times.
    QTest::newRow("zero byte cuts its chunk")
        << QByteArray("size= 1kB time=00:00:07.00 bitrate=1\rjunk\0"
                      "time=00:00:09.00 bitrate=2\r\nmore\n",
                      68)
        << QList<int>{7} << QByteArray("more");
    // A zero byte at the start cuts only its own 1024-byte chunk: the report that begins
    // at byte 1024 is the next chunk and is shown.
    QTest::newRow("chunks are at most 1024 bytes")
        << QByteArray("A", 1) + '\0' + QByteArray(1022, 'x') + "time=00:00:03.00 bitrate=1\n"
        << QList<int>{3} << QByteArray("xxx");
}

void TestEngine::runnerChunks()
{
    QFETCH(QByteArray, transcript);
    QFETCH(QList<int>, shown);
    QFETCH(QByteArray, tailLacks);
    const QString file = m_tmp.filePath(QStringLiteral("chunks.txt"));
    QVERIFY(writeFile(file, transcript));
    FakeEncoder::set("FAKE_TRANSCRIPT", QFile::encodeName(file));
    FakeEncoder::set("FAKE_CHUNK_BYTES", "4096");
    FakeEncoder::set("FAKE_CHUNK_DELAY_MS", "100"); // the banner line is read on its own first
    EncoderRunner runner;
    QList<int> seen;
    connect(&runner, &EncoderRunner::progress, this, [&](int s) { seen << s; });
    QSignalSpy ended(&runner, &EncoderRunner::ended);
    intputrec job;
    job.EncoderFile = FakeEncoder::path();
    job.InFile = dummySource("in");
    job.OutFile = m_out + QStringLiteral("/x.mp3");
    runner.RunEncoder(job, m_profile);
    QVERIFY(ended.wait(5000));
    QCOMPARE(seen, shown);
    QVERIFY(!runner.outputTail().contains(tailLacks));
    QCOMPARE(runner.outcome(), EncoderRunner::Outcome::Exited);
    deliverQueued();
    QCOMPARE(ended.count(), 1);
}

void TestEngine::progressFromRecordedTranscript()
{
    // ffmpeg 5.1's own report lines, replayed a line at a time, reach the progress
    // signal with the row's total, from 0 when the job starts; its end shows 100 of 100,
    // which stays.
    FakeEncoder::set("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt");
    FakeEncoder::set("FAKE_CHUNK_DELAY_MS", "20"); // one report per read
    auto b = batch();
    addRow("a", {}, QStringLiteral("00:03:45"));
    QVERIFY(b->run());
    QVERIFY(b->progress.contains(qMakePair(89, 225)));
    QVERIFY(b->progress.contains(qMakePair(177, 225)));
    QCOMPARE(b->progress.first(), qMakePair(0, 225));
    QCOMPARE(b->progress.last(), qMakePair(100, 100));
}

// ---------------------------------------------------------------- batch, fake encoder

void TestEngine::emptyListStartsNothing()
{
    auto b = batch();
    b->seq.TargetExtension = QStringLiteral(".aac");
    QVERIFY(!b->start(Mp3));
    QVERIFY(!b->start(QStringLiteral(".wav")));
    QCOMPARE(b->seq.TargetExtension, QStringLiteral(".aac"));
    QVERIFY(!b->seq.isRunning());
    deliverQueued();
    QVERIFY(b->log.isEmpty());
    QVERIFY(b->progress.isEmpty());
}

void TestEngine::wavRecomputesSizesBeforeTheFirstJob()
{
    auto b = batch();
    addRow("a", {}, QStringLiteral("00:01:00"));
    addRow("b", {}, QStringLiteral("00:00:30"));
    QStringList sizesAtStart;
    connect(&b->seq, &BatchSequencer::jobStarted, this, [&](int) {
        if (sizesAtStart.isEmpty())
            sizesAtStart << sizeShown(*m_model, 0) << sizeShown(*m_model, 1);
    });
    QVERIFY(b->run(QStringLiteral(".wav")));
    // 16-bit stereo at 44100 Hz.
    QCOMPARE(sizesAtStart, QStringList({QStringLiteral("10.09MB"), QStringLiteral("5.04MB")}));
    QCOMPARE(b->seq.TargetExtension, QStringLiteral(".wav"));
    // Mono at 8000 Hz is 128000 bit/s; the next MP3 batch shows the chosen bitrate again.
    m_profile = {QStringLiteral("8000"), QStringLiteral("32000"), QStringLiteral("1")};
    sizesAtStart.clear();
    QVERIFY(b->run(QStringLiteral(".wav")));
    QCOMPARE(sizesAtStart, QStringList({QStringLiteral("0.91MB"), QStringLiteral("0.45MB")}));
    sizesAtStart.clear();
    QVERIFY(b->run(Mp3));
    QCOMPARE(sizesAtStart, QStringList({QStringLiteral("0.22MB"), QStringLiteral("0.11MB")}));
}

void TestEngine::rowsFinishInOrderAndAreTagged()
{
    auto b = batch();
    const ID3info a = addRow("Caf\xe9 \xff bytes");
    const ID3info c = addRow("A title longer than thirty bytes is cut");
    QStringList statusAtStart;
    connect(&b->seq, &BatchSequencer::jobStarted, this, [&](int row) {
        statusAtStart << JobStatusText(m_model->status(row));
        QVERIFY(b->seq.isRunning());
    });
    QVERIFY(b->run());
    QCOMPARE(b->log, steps({"start 0", "end 0 Finish", "start 1", "end 1 Finish", "finished"}));
    QCOMPARE(statusAtStart, steps({"Converting", "Converting"}));
    QVERIFY(!b->seq.isRunning());
    QCOMPARE(b->seq.CurrentIndex, 2);
    for (const ID3info &e : {a, c}) {
        const QByteArray file = readFile(outOf(e));
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

    const QString fake = FakeEncoder::path();
    auto row = [&](const char *name, const QString &encoder, const char *mode, const char *exit,
                   const char *bytes, const char *transcript, bool earlier, const char *reason,
                   bool kept) {
        QTest::newRow(name) << encoder << QByteArray(mode) << QByteArray(exit) << QByteArray(bytes)
                            << QByteArray(transcript) << earlier << QString::fromUtf8(reason)
                            << kept;
    };
    row("non-zero exit, last line is the reason", fake, "normal", "1", "700",
        "Input #0\r\nsomething broke: Invalid data\n", false, "something broke: Invalid data",
        false);
    row("non-zero exit without output text", fake, "nooutput", "3", "700", "", false,
        "Encoder exited with code 3", false);
    // The earlier output of the same name is never the one that says "Finish".
    row("exit 0 but no output, earlier output there", fake, "normal", "0", "-1",
        "all fine, says the encoder\n", true, "all fine, says the encoder", true);
    row("exit 0 with an empty output file", fake, "nooutput", "0", "0", "", false, "No output file",
        false);
    row("crash", fake, "crash", "0", "900", "", false, "Encoder crashed (signal 9, SIGKILL)",
        false);
    row("failure before writing", fake, "normal", "1", "-1", "in.wav: No such file or directory\n",
        true, "in.wav: No such file or directory", true);
    row("failure after writing half", fake, "normal", "1", "10", "half way\n", true, "half way",
        true);
    // What ffmpeg 5.1 printed on a full disk (recorded), and its exit code: 0.
    const QByteArray diskFull =
        readFile(QStringLiteral(WT_TEST_DATA_DIR "/ffmpeg51-disk-full.txt"));
    QTest::newRow("exit 0 after a failed trailer")
        << fake << QByteArray("normal") << QByteArray("0") << QByteArray("700") << diskFull << true
        << QStringLiteral(
               "Error writing trailer of /tmp/wt10m/full/out.mp3: No space left on device")
        << true;
    row("exit 0 after a failed close", fake, "normal", "0", "700",
        "size=  1kB time=00:00:01.00 bitrate= 8.0kbits/s\rError closing file x: File too large\n",
        false, "Error closing file x: File too large", false);
    row("encoder missing", m_tmp.filePath(QStringLiteral("no/such/ffmpeg")), "", "", "", "", true,
        "Encoder not found", true);
    row("encoder not executable", QStringLiteral(WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt"), "", "", "",
        "", false, "Encoder not found", false);
    row("no encoder resolved", QString(), "", "", "", "", false, "Encoder not found", false);
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

    auto b = batch(encoder);
    const ID3info bad = addRow("bad");
    const ID3info good = addRow("good");
    if (earlierOutput)
        QVERIFY(writeFile(outOf(bad), QByteArray(3000, 'E')));

    // The first row's run fails; the environment is back to normal for the second, which
    // starts once the first has ended.
    const QString transcriptFile = m_tmp.filePath(QStringLiteral("failure.txt"));
    QVERIFY(writeFile(transcriptFile, transcript));
    FakeEncoder::set("FAKE_MODE", mode);
    FakeEncoder::set("FAKE_EXIT", exitCode);
    FakeEncoder::set("FAKE_OUTPUT_BYTES", outputBytes);
    if (!transcript.isEmpty())
        FakeEncoder::set("FAKE_TRANSCRIPT", QFile::encodeName(transcriptFile));
    connect(&b->seq, &BatchSequencer::jobEnded, this, [] { FakeEncoder::reset(); });
    QVERIFY(b->run());

    const bool encoderRuns = QFileInfo(encoder).isExecutable() && QFileInfo(encoder).isFile();
    QCOMPARE(b->log.first(2), steps({"start 0", "end 0 Failed"}));
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason);
    QCOMPARE(QFileInfo::exists(outOf(bad)), outputKept);
    if (outputKept && earlierOutput)
        QCOMPARE(readFile(outOf(bad)), QByteArray(3000, 'E')); // untouched, no tag added
    QCOMPARE(readFile(bad.SourcePath), SourceBytes);
    QCOMPARE(workFilesIn(m_out), QStringList());
    // Exactly one end per row, and the batch went on.
    QCOMPARE(b->log.count(QStringLiteral("end 0 Failed")), 1);
    QCOMPARE(m_model->status(1), encoderRuns ? JobStatus::Finish : JobStatus::Failed);
    if (encoderRuns)
        QCOMPARE(readFile(outOf(good)).right(128), expectedTag(good));
}

void TestEngine::refusedBeforeTheEncoderRuns_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // @OUT@ and @SRC@ are the folders
    QTest::newRow("output is its own source")
        << "own" << QStringLiteral("Output would overwrite the source file");
    QTest::newRow("output is another row's source")
        << "other"
        << QStringLiteral("Output would overwrite the source of another row: @OUT@/Theirs.mp3");
    QTest::newRow("output is another row's source through a link")
        << "link"
        << QStringLiteral("Output would overwrite the source of another row: @SRC@/real.wav");
    QTest::newRow("a folder at the output path")
        << "dir" << QStringLiteral("The output path is a folder");
    QTest::newRow("a FIFO at the output path")
        << "fifo" << QStringLiteral("The output path is a FIFO");
    QTest::newRow("source deleted after it was added")
        << "deleted" << QStringLiteral("Source no longer exists");
}

void TestEngine::refusedBeforeTheEncoderRuns()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    reason.replace(QStringLiteral("@OUT@"), m_out).replace(QStringLiteral("@SRC@"), m_src);
    auto b = batch();
    // Row 0 is refused; row 1 is the source it would hit, or just a row that converts.
    const QString out = m_out + QStringLiteral("/Song.mp3");
    if (kind == QLatin1String("own")) {
        QVERIFY(writeFile(out, QByteArray(5000, 'M')));
        addRow("Song", out);
        addRow("Other");
    } else if (kind == QLatin1String("other")) {
        addRow("Theirs");
        QVERIFY(writeFile(m_out + QStringLiteral("/Theirs.mp3"), QByteArray(5000, 'M')));
        addRow("Other", m_out + QStringLiteral("/Theirs.mp3"));
    } else if (kind == QLatin1String("link")) {
        addRow("Song");
        QVERIFY(QFile::link(dummySource("real"), out));
        addRow("Other", m_src + QStringLiteral("/real.wav"));
    } else {
        if (kind == QLatin1String("dir"))
            QVERIFY(QDir().mkdir(out));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(out).constData(), 0600), 0);
        const ID3info song = addRow("Song");
        if (kind == QLatin1String("deleted"))
            QVERIFY(QFile::remove(song.SourcePath));
        addRow("Other");
    }
    const QMap<QString, QByteArray> sources = snapshot(m_src);
    const QMap<QString, QByteArray> outputs = snapshot(m_out);
    QVERIFY(b->run());
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason);
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(argsLog().size(), 1); // row 1's run only
    QCOMPARE(snapshot(m_src), sources);
    QMap<QString, QByteArray> after = snapshot(m_out);
    QVERIFY(after.remove(m_out + QStringLiteral("/Other.mp3")) == 1);
    QCOMPARE(after, outputs); // the refused row's output path as it was, and no work file
}

void TestEngine::stopEndsOnlyTheRunningRow()
{
    FakeEncoder::set("FAKE_MODE", "hang");
    auto b = batch();
    const ID3info a = addRow("a");
    addRow("b");
    addRow("c");
    m_model->setStatus(2, JobStatus::Failed, QStringLiteral("an earlier batch's reason"));
    QVERIFY(writeFile(outOf(a), "an earlier run's output"));
    QVERIFY(b->start());
    const qint64 pid = waitForPid();
    QVERIFY(waitForWorkFile());
    QVERIFY(processAlive(pid));

    b->seq.stop();
    QVERIFY(!b->seq.isRunning());
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(m_model->status(1), JobStatus::Unconvert);
    // Every row of the batch started afresh, and the stop left the rest so.
    QCOMPARE(m_model->status(2), JobStatus::Unconvert);
    QCOMPARE(m_model->reason(2), QString());
    QCOMPARE(b->stopped, 1);
    QCOMPARE(b->progress.last(), qMakePair(0, 100));
    QTRY_VERIFY_WITH_TIMEOUT(!b->seq.isStopping(), 5000);
    QVERIFY(!processAlive(pid));
    // Only the stopped job's own work file goes; the earlier output stays as it was.
    QCOMPARE(workFilesIn(m_out), QStringList());
    QCOMPARE(readFile(outOf(a)), QByteArray("an earlier run's output"));
    deliverQueued();
    QCOMPARE(b->log, steps({"start 0", "end 0 Stopped", "stopped"}));
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(readFile(a.SourcePath), SourceBytes);

    // stop while idle changes nothing visible.
    b->seq.stop();
    QCOMPARE(b->stopped, 1);
}

void TestEngine::stopKillsAnEncoderThatIgnoresTerminate()
{
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    auto b = batch();
    b->seq.setStopGrace(300);
    const ID3info a = addRow("a");
    QVERIFY(b->start());
    QVERIFY(waitForWorkFile()); // it ignores SIGTERM from before it writes
    QElapsedTimer timer;
    timer.start();
    QVERIFY(b->stopAndSettle());
    QVERIFY2(timer.elapsed() >= 250, "killed before the grace was over");
    QVERIFY(!QFileInfo::exists(outOf(a)));
    QCOMPARE(workFilesIn(m_out), QStringList());
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
}

void TestEngine::newBatchAfterStopWaitsAndIsLeftAlone()
{
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    auto b = batch();
    b->seq.setStopGrace(400);
    const ID3info a = addRow("a");
    const ID3info c = addRow("c");
    QVERIFY(b->start());
    QVERIFY(waitForWorkFile()); // it ignores SIGTERM from before it writes

    b->seq.stop();
    QVERIFY(b->seq.isStopping());
    qunsetenv("FAKE_MODE");
    qunsetenv("FAKE_IGNORE_TERM");
    // A new batch accepted at once: it waits for the stopped encoder, whose late end
    // must not delete the new run's file of the same name.
    b->log.clear();
    bool startedWhileStopping = false;
    connect(&b->seq, &BatchSequencer::jobStarted, this,
            [&] { startedWhileStopping |= b->seq.isStopping(); });
    QVERIFY(b->run());
    QVERIFY(!startedWhileStopping);
    QCOMPARE(b->log, steps({"start 0", "end 0 Finish", "start 1", "end 1 Finish", "finished"}));
    QCOMPARE(readFile(outOf(a)).right(128), expectedTag(a));
    QCOMPARE(readFile(outOf(c)).right(128), expectedTag(c));

    // stop while the new batch still waits: nothing starts at all.
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    const qsizetype runsBefore = FakeEncoder::pids(m_pidFile).size();
    QVERIFY(b->start());
    // It ignores SIGTERM from before it tells its id.
    QTRY_VERIFY_WITH_TIMEOUT(FakeEncoder::pids(m_pidFile).size() > runsBefore, 5000);
    b->seq.stop();
    QVERIFY(b->start());
    b->log.clear();
    QVERIFY(b->stopAndSettle());
    deliverQueued();
    QVERIFY(!b->log.contains(QStringLiteral("start 0")));
    QCOMPARE(m_model->status(1), JobStatus::Unconvert);      // part of a batch that never ran it
    QCOMPARE(readFile(outOf(c)).right(128), expectedTag(c)); // its last output stays
}

void TestEngine::listChangeAfterStopIsLeftAlone()
{
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    auto b = batch();
    b->seq.setStopGrace(300);
    const ID3info a = addRow("a");
    QVERIFY(b->start());
    QVERIFY(waitForWorkFile()); // it ignores SIGTERM from before it writes
    b->seq.stop();
    // Rows added after the stop: CurrentIndex would name one of them again.
    m_model->clear();
    addRow("n1");
    addRow("n2");
    b->log.clear();
    b->progress.clear();
    QTRY_VERIFY_WITH_TIMEOUT(!b->seq.isStopping(), 5000);
    deliverQueued();
    QVERIFY(b->log.isEmpty());
    QVERIFY(b->progress.isEmpty());
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(m_model->status(row), JobStatus::Unconvert);
        QVERIFY(m_model->reason(row).isEmpty());
    }
    QVERIFY(!QFileInfo::exists(outOf(a)));
    QCOMPARE(workFilesIn(m_out), QStringList());
}

void TestEngine::shutdownEndsTheEncoderAndRemovesPartialOutput()
{
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    auto b = batch();
    b->seq.setStopGrace(300);
    const ID3info a = addRow("a");
    QVERIFY(b->start());
    const qint64 pid = waitForPid();
    QVERIFY(waitForWorkFile());
    QElapsedTimer timer;
    timer.start();
    b->seq.shutdown();
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(!b->seq.isRunning());
    QVERIFY(!b->seq.isStopping());
    QVERIFY(!processAlive(pid));
    QVERIFY(!QFileInfo::exists(outOf(a)));
    QCOMPARE(workFilesIn(m_out), QStringList());
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    b.reset();

    // Destroyed without shutdown(): the encoder still does not outlive it.
    QFile::remove(m_pidFile);
    auto second = batch();
    QVERIFY(second->start());
    const qint64 pid2 = waitForPid();
    second.reset();
    QVERIFY(!processAlive(pid2));
    QVERIFY(!QFileInfo::exists(outOf(a)));
    QCOMPARE(workFilesIn(m_out), QStringList());
}

void TestEngine::jobsReadFolderAndProfileWhenTheyStart()
{
    FakeEncoder::set("FAKE_CHUNK_DELAY_MS", "30");
    FakeEncoder::set("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt");
    const QString second = m_tmp.filePath(QStringLiteral("second-dir"));
    QVERIFY(QDir().mkpath(second));
    auto b = batch();
    const ID3info a = addRow("a b");
    const ID3info c = addRow("c");
    // Folder and profile change while row 0 converts (the settings dialog and the lists
    // may do that): row 0 keeps what it started with, and its tag goes into its own file.
    connect(&b->seq, &BatchSequencer::jobStarted, this, [&](int row) {
        if (row != 0)
            return;
        m_outputDir = second;
        m_profile = {QStringLiteral("22050"), QStringLiteral("64000"), QStringLiteral("1")};
        b->sync();
    });
    QVERIFY(b->run(QStringLiteral(".aac")));
    const QByteArray first = readFile(outOf(a, QStringLiteral(".aac")));
    QCOMPARE(first.size(), 1024 + 128);
    QCOMPARE(first.right(128), expectedTag(a));
    QVERIFY(!QFileInfo::exists(outOf(a, QStringLiteral(".aac"), second)));
    QCOMPARE(readFile(outOf(c, QStringLiteral(".aac"), second)).right(128), expectedTag(c));
    // The profile each job started with, no metadata of ffmpeg's (the tag writer does that
    // job), and the work file (each one argument: the fake encoder logs them joined by
    // blanks).
    const QString noMetadata = QStringLiteral("-vn -map_metadata -1");
    const QStringList log = argsLog();
    QCOMPARE(log.size(), 2);
    QVERIFY2(
        argsFor(
            QStringLiteral("-y -i %1 -ab 128000 -ar 44100 -ac 2 %2").arg(a.SourcePath, noMetadata),
            outOf(a, QStringLiteral(".aac")))
            .match(log.at(0))
            .hasMatch(),
        qPrintable(log.at(0)));
    QVERIFY2(
        argsFor(
            QStringLiteral("-y -i %1 -ab 64000 -ar 22050 -ac 1 %2").arg(c.SourcePath, noMetadata),
            outOf(c, QStringLiteral(".aac"), second))
            .match(log.at(1))
            .hasMatch(),
        qPrintable(log.at(1)));
}

void TestEngine::secondBatchConvertsEveryRowAgain()
{
    auto b = batch();
    const ID3info a = addRow("a");
    addRow("b");
    QVERIFY(b->run());
    QVERIFY(b->run());
    QCOMPARE(argsLog().size(), 4);
    // Converted again, not tagged twice.
    QCOMPARE(readFile(outOf(a)).size(), 1024 + 128);
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    QCOMPARE(m_model->status(1), JobStatus::Finish);
}

// ---------------------------------------------------------------- several jobs at once

void TestEngine::severalAtOnce_data()
{
    QTest::addColumn<int>("jobs");
    QTest::addColumn<QByteArrayList>("titles"); // equal titles write the same output
    QTest::addColumn<int>("atOnce");
    QTest::newRow("one at a time") << 1 << QByteArrayList{"a", "b", "c"} << 1;
    QTest::newRow("two at once over five rows")
        << 2 << QByteArrayList{"a", "b", "c", "d", "e"} << 2;
    QTest::newRow("more slots than rows") << 4 << QByteArrayList{"a", "b", "c"} << 3;
    QTest::newRow("the later of the same output waits")
        << 3 << QByteArrayList{"a", "Same", "b", "Same", "c"} << 3;
}

void TestEngine::severalAtOnce()
{
    QFETCH(int, jobs);
    QFETCH(QByteArrayList, titles);
    QFETCH(int, atOnce);
    FakeEncoder::set("FAKE_SLEEP_MS", "300");
    FakeEncoder::set("FAKE_SLOW_ON", "Same1"); // the first of the same output takes longest
    FakeEncoder::set("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt");
    FakeEncoder::set("FAKE_CHUNK_DELAY_MS", "10");
    auto b = batch();
    b->jobs = jobs;
    QVector<ID3info> rows;
    for (int i = 0; i < titles.size(); ++i)
        rows << addRow(titles.at(i), dummySource(titles.at(i) + QByteArray::number(i)),
                       QStringLiteral("00:03:45"));
    bool settledAtEnd = false;
    connect(&b->seq, &BatchSequencer::batchFinished, this, [&] {
        settledAtEnd = b->seq.runningJobs() == 0 && !b->seq.isRunning();
        for (int row = 0; row < m_model->rowCount(); ++row)
            settledAtEnd &= m_model->status(row) == JobStatus::Finish;
    });
    QVERIFY(b->run());
    QVERIFY(settledAtEnd);
    QCOMPARE(b->finished, 1);

    // Rows start in list order, never more than N run, and as many as may do.
    QStringList starts = b->log.filter(QStringLiteral("start"));
    QStringList inOrder;
    for (int i = 0; i < titles.size(); ++i)
        inOrder << QStringLiteral("start %1").arg(i);
    QCOMPARE(starts, inOrder);
    const QList<FakeEncoder::Conversion> runs = FakeEncoder::conversions(m_timesLog);
    QCOMPARE(runs.size(), titles.size());
    QCOMPARE(FakeEncoder::mostAtOnce(runs), atOnce);
    if (jobs == 1)
        QCOMPARE(b->log.first(4), steps({"start 0", "end 0 Finish", "start 1", "end 1 Finish"}));

    // Two runs that write one output never overlap, and the later row's output is the one
    // that stays.
    for (int i = 0; i < rows.size(); ++i) {
        for (int j = i + 1; j < rows.size(); ++j) {
            if (titles.at(i) != titles.at(j))
                continue;
            const auto run = [&](int row) {
                for (const FakeEncoder::Conversion &c : runs) {
                    if (c.in == rows.at(row).SourcePath)
                        return c;
                }
                return FakeEncoder::Conversion();
            };
            QVERIFY(run(i).end > 0 && run(i).end <= run(j).start);
            QCOMPARE(readFile(outOf(rows.at(j))).right(128), expectedTag(rows.at(j)));
        }
    }
    QCOMPARE(workFilesIn(m_out), QStringList());

    // Each row shows its own percentage from 0 on; the batch's never goes back and ends whole.
    for (int row = 0; row < rows.size(); ++row) {
        QList<int> seen;
        for (const auto &p : std::as_const(b->rowPercents)) {
            if (p.first == row)
                seen << p.second;
        }
        // Reports read together show the first of them, so the last need not be 100.
        QVERIFY2(seen.size() >= 2 && seen.first() == 0 && std::is_sorted(seen.begin(), seen.end()),
                 qPrintable(QStringLiteral("row %1").arg(row)));
    }
    QVERIFY(!b->overall.isEmpty());
    QVERIFY(std::is_sorted(b->overall.begin(), b->overall.end()));
    QCOMPARE(b->overall.last(), 1.0);
}

// Jobs side by side decide "existing" against each other too: never two on one numbered
// name, never one over a file that is there, even one another program writes meanwhile.
void TestEngine::existingWithSeveralAtOnce_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<bool>("before");          // Same.mp3 is there before the batch
    QTest::addColumn<bool>("midway");          // another program writes Same (4).mp3 meanwhile
    QTest::addColumn<QStringList>("expected"); // each row: status and output name
    const auto skip = int(ExistingOutput::Skip);
    const auto number = int(ExistingOutput::Number);
    QTest::newRow("skip what is there and the later rows of one name")
        << skip << true << false
        << QStringList{u"Skipped Same.mp3"_qs, u"Skipped Same.mp3"_qs, u"Skipped Same.mp3"_qs,
                       u"Finish Other.mp3"_qs};
    QTest::newRow("skip: the first of one name converts")
        << skip << false << false
        << QStringList{u"Finish Same.mp3"_qs, u"Skipped Same.mp3"_qs, u"Skipped Same.mp3"_qs,
                       u"Finish Other.mp3"_qs};
    QTest::newRow("number past what is there")
        << number << true << false
        << QStringList{u"Finish Same (2).mp3"_qs, u"Finish Same (3).mp3"_qs,
                       u"Finish Same (4).mp3"_qs, u"Finish Other.mp3"_qs};
    QTest::newRow("number: a name taken while converting is left alone")
        << number << true << true
        << QStringList{u"Finish Same (2).mp3"_qs, u"Finish Same (3).mp3"_qs,
                       u"Failed Same (4).mp3"_qs, u"Finish Other.mp3"_qs};
}

void TestEngine::existingWithSeveralAtOnce()
{
    QFETCH(int, policy);
    QFETCH(bool, before);
    QFETCH(bool, midway);
    QFETCH(QStringList, expected);
    FakeEncoder::set("FAKE_SLEEP_MS", "300");
    auto b = batch();
    b->jobs = 3;
    b->naming.existing = ExistingOutput(policy);
    const QByteArray earlier = "an earlier output";
    if (before)
        QVERIFY(writeFile(m_out + QStringLiteral("/Same.mp3"), earlier));
    for (const char *title : {"Same", "Same", "Same", "Other"})
        addRow(title, dummySource(title + QByteArray::number(m_model->rowCount())));
    const QString theirs = m_out + QStringLiteral("/Same (4).mp3");
    if (midway)
        connect(&b->seq, &BatchSequencer::jobStarted, this, [&](int row) {
            if (row == 2) // its output is named, its encoder about to run
                writeFile(theirs, "another program's");
        });
    QVERIFY(b->run());
    QStringList got;
    for (int row = 0; row < m_model->rowCount(); ++row)
        got << JobStatusText(m_model->status(row)) + u' ' +
                   QFileInfo(m_model->run(row).output).fileName();
    QCOMPARE(got, expected);
    if (before)
        QCOMPARE(readFile(m_out + QStringLiteral("/Same.mp3")), earlier);
    if (midway) {
        QCOMPARE(readFile(theirs), QByteArray("another program's"));
        QCOMPARE(m_model->reason(2),
                 u"Another program wrote the output meanwhile; it is left as it was"_qs);
    }
    const QList<FakeEncoder::Conversion> runs = FakeEncoder::conversions(m_timesLog);
    QCOMPARE(runs.size(), 4 - int(expected.filter(u"Skipped"_qs).size()));
    if (policy == int(ExistingOutput::Number))
        QCOMPARE(FakeEncoder::mostAtOnce(runs), 3);
    QCOMPARE(workFilesIn(m_out), QStringList());
}

void TestEngine::stopWithSeveralRunning()
{
    // Encoders that go on reporting until they are killed.
    QByteArray reports;
    for (int s = 0; s < 100; ++s)
        reports += "size= 1kB time=00:00:" + QByteArray::number(s % 60).rightJustified(2, '0') +
                   ".00 bitrate= 1.0kbits/s\r";
    const QString transcript = m_tmp.filePath(QStringLiteral("reports.txt"));
    QVERIFY(writeFile(transcript, reports));
    FakeEncoder::set("FAKE_TRANSCRIPT", QFile::encodeName(transcript));
    FakeEncoder::set("FAKE_CHUNK_DELAY_MS", "10");
    FakeEncoder::set("FAKE_MODE", "hang");
    FakeEncoder::set("FAKE_IGNORE_TERM", "1");
    auto b = batch();
    int lateReports = 0;
    connect(&b->seq, &BatchSequencer::progress, this, [&] { lateReports += b->seq.isStopping(); });
    connect(&b->seq, &BatchSequencer::rowProgress, this,
            [&] { lateReports += b->seq.isStopping(); });
    connect(&b->seq, &BatchSequencer::batchProgress, this,
            [&] { lateReports += b->seq.isStopping(); });
    b->jobs = 3;
    b->seq.setStopGrace(300);
    QVector<ID3info> rows;
    for (const char *title : {"a", "b", "c", "d"})
        rows << addRow(title);
    QVERIFY(writeFile(outOf(rows.at(0)), "an earlier run's output"));
    QVERIFY(b->start());
    QTRY_VERIFY_WITH_TIMEOUT(
        FakeEncoder::pids(m_pidFile).size() == 3 && workFilesIn(m_out).size() == 3, 5000);
    // Each ignores SIGTERM from before it tells its id.
    const QList<qint64> pids = FakeEncoder::pids(m_pidFile);

    b->seq.stop();
    QVERIFY(!b->seq.isRunning());
    QVERIFY(b->seq.isStopping());
    for (int row = 0; row < 3; ++row)
        QCOMPARE(m_model->status(row), JobStatus::Stopped);
    QCOMPARE(m_model->status(3), JobStatus::Unconvert);
    QCOMPARE(b->log, steps({"start 0", "start 1", "start 2", "end 0 Stopped", "end 1 Stopped",
                            "end 2 Stopped", "stopped"}));

    // A new batch accepted now waits until every stopped encoder has ended, and their late
    // ends touch neither it nor its files.
    FakeEncoder::reset();
    bool startedWhileStopping = false;
    connect(&b->seq, &BatchSequencer::jobStarted, this,
            [&] { startedWhileStopping |= b->seq.isStopping(); });
    b->log.clear();
    QVERIFY(b->run());
    QVERIFY(!startedWhileStopping);
    QCOMPARE(lateReports, 1); // the stop's own 0 of 100
    for (qint64 pid : pids)
        QVERIFY(!processAlive(pid));
    QCOMPARE(b->log.count(QStringLiteral("finished")), 1);
    QCOMPARE(b->log.filter(QStringLiteral("Finish")).size(), 4);
    for (const ID3info &e : rows)
        QCOMPARE(readFile(outOf(e)).right(128), expectedTag(e));
    QCOMPARE(workFilesIn(m_out), QStringList());
}

void TestEngine::oneFailureLeavesTheOthers()
{
    const QString record = m_tmp.filePath(QStringLiteral("shutdown-once"));
    FakeEncoder::set("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
    FakeEncoder::set("FAKE_SLEEP_MS", "200");
    FakeEncoder::set("FAKE_FAIL_ON", "bad");
    auto b = batch();
    b->jobs = 2;
    connect(&b->seq, &BatchSequencer::batchFinished, this, [] { RunShutdownCommand(); });
    QVector<ID3info> rows;
    for (const char *title : {"a", "bad", "c", "d"})
        rows << addRow(title);
    QVERIFY(writeFile(outOf(rows.at(1)), "an earlier run's output"));
    QVERIFY(b->run());
    QCOMPARE(m_model->status(1), JobStatus::Failed);
    QCOMPARE(m_model->reason(1),
             rows.at(1).SourcePath + QStringLiteral(": Invalid data found when processing input"));
    QCOMPARE(readFile(outOf(rows.at(1))), QByteArray("an earlier run's output"));
    for (int row : {0, 2, 3}) {
        QCOMPARE(m_model->status(row), JobStatus::Finish);
        QCOMPARE(readFile(outOf(rows.at(row))).right(128), expectedTag(rows.at(row)));
        QCOMPARE(b->log.count(QStringLiteral("end %1 Finish").arg(row)), 1);
    }
    QCOMPARE(workFilesIn(m_out), QStringList());
    // The end action once, after the last job.
    QTRY_COMPARE_WITH_TIMEOUT(readFile(record), QByteArray("shutdown \n"), 5000);
    QCOMPARE(b->finished, 1);
    QCOMPARE(b->log.last(), QStringLiteral("finished"));
}

// ---------------------------------------------------------------- shared folders

// Another local user swaps names in a writable output folder for links to a file (or folder)
// outside it while the batch converts. Nothing outside the output folder may change, and no
// row may say Finish for an output that is not its own file at its path. The tests run as
// root, whom no permission stops: the victim is safe only because no link is ever followed.
void TestEngine::linkRace_data()
{
    QTest::addColumn<QString>("mode"); // what the racer swaps (see tests/linkracer)
    QTest::addColumn<bool>("fat");     // named work files, as on FAT, instead of unnamed ones
    QTest::addColumn<int>("policy");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("reason"); // of every row, when the swaps must fail them all
    const auto replace = int(ExistingOutput::Replace);
    const auto number = int(ExistingOutput::Number);
    const QString title = QStringLiteral("{title}");
    const QString folders = QStringLiteral("{artist}/{title}");
    QTest::newRow("named work files swapped before the encoder opens them")
        << "work" << true << replace << title
        << u"Another program removed or replaced the work file; the output was not kept"_qs;
    QTest::newRow("unnamed work files") << "work" << false << replace << title << QString();
    QTest::newRow("subfolders swapped") << "folders" << false << replace << folders << QString();
    QTest::newRow("subfolders swapped, named work files")
        << "folders" << true << number << folders << QString();
    QTest::newRow("earlier outputs and claims swapped, named work files")
        << "outputs" << true << number << title
        << u"Another program wrote the output meanwhile; it is left as it was"_qs;
    QTest::newRow("earlier outputs swapped") << "outputs" << false << replace << title << QString();
}

void TestEngine::linkRace()
{
    QFETCH(QString, mode);
    QFETCH(bool, fat);
    QFETCH(int, policy);
    QFETCH(QString, pattern);
    QFETCH(QString, reason);
    if (fat)
        qputenv(FatFolderVariable, QFile::encodeName(m_out));
    const QString victimDir = QFileInfo(m_out).path() + QStringLiteral("/victim");
    const QString victim = victimDir + QStringLiteral("/victim.bin");
    QVERIFY(QDir().mkpath(victimDir));
    QVERIFY(writeFile(victim, "the victim's own bytes"));
    QCOMPARE(::chmod(QFile::encodeName(victim).constData(), 0444), 0);
    const QMap<QString, QByteArray> before = snapshot(victimDir);

    // The encoder opens its output late, so the racer surely sees the work file first.
    FakeEncoder::set("FAKE_WRITE_DELAY_MS", "100");
    FakeEncoder::set("FAKE_SLEEP_MS", "50");
    auto b = batch();
    b->jobs = 2;
    b->naming.pattern = pattern;
    b->naming.existing = ExistingOutput(policy);
    const QList<QByteArray> titles = {"One", "Two", "Three"};
    for (const QByteArray &title : titles) {
        addRow(title);
        if (mode == u"outputs"_qs)
            QVERIFY(writeFile(m_out + u'/' + QString::fromUtf8(title) + Mp3, "earlier"));
    }

    QProcess racer;
    racer.start(QStringLiteral(WT_LINK_RACER),
                {m_out, mode == u"folders"_qs ? victimDir : victim, mode});
    QByteArray swaps;
    connect(&racer, &QProcess::readyReadStandardOutput, this,
            [&] { swaps += racer.readAllStandardOutput(); });
    QVERIFY(racer.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(swaps.contains("ready\n"), 5000);
    QVERIFY(b->run(Mp3, 20000));
    racer.terminate();
    QVERIFY(racer.waitForFinished(5000));
    swaps += racer.readAllStandardOutput();
    if (mode != u"work"_qs || fat)
        QVERIFY2(swaps.contains("swapped"), "the racer found nothing to swap");

    QCOMPARE(snapshot(victimDir), before);
    QCOMPARE(modeOf(victim), mode_t(S_IFREG | 0444));
    for (int row = 0; row < m_model->rowCount(); ++row) {
        const QString output = m_model->run(row).output;
        const QString what =
            QStringLiteral("row %1: %2 %3 (%4)")
                .arg(row)
                .arg(JobStatusText(m_model->status(row)), output, m_model->reason(row));
        if (!reason.isEmpty())
            QCOMPARE(m_model->reason(row), reason);
        if (m_model->status(row) == JobStatus::Finish) {
            QVERIFY2(S_ISREG(modeOf(output)), qPrintable(what));
            QVERIFY2(readFile(output).right(128) == expectedTag(m_model->entry(row)),
                     qPrintable(what));
        } else {
            QVERIFY2(m_model->status(row) == JobStatus::Failed && !m_model->reason(row).isEmpty(),
                     qPrintable(what));
        }
    }
    // No work file of ours is left anywhere; the racer's links with such names may be.
    QMap<QString, QByteArray> after = snapshot(m_out);
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        if (IsWorkFileName(QFileInfo(it.key()).fileName()))
            QVERIFY2(it.value().startsWith("link to "), qPrintable(it.key()));
    }
}

// The output folder (or a folder below it) moved or removed while a row converts: the row
// says so, and its complete output is left neither in the moved folder nor anywhere else.
void TestEngine::outputFolderMovedWhileConverting_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<bool>("fat");
    QTest::newRow("output folder renamed") << "renamed" << false;
    QTest::newRow("output folder renamed, named work file") << "renamed" << true;
    QTest::newRow("output folder removed") << "removed" << false;
    QTest::newRow("subfolder renamed, named work file") << "subfolder" << true;
}

void TestEngine::outputFolderMovedWhileConverting()
{
    QFETCH(QString, what);
    QFETCH(bool, fat);
    if (fat)
        qputenv(FatFolderVariable, QFile::encodeName(m_out));
    // The encoder ends only once the folder has moved.
    const QString gate = QFileInfo(m_out).path() + QStringLiteral("/moved");
    FakeEncoder::set("FAKE_WAIT_FOR", QFile::encodeName(gate));
    auto b = batch();
    const bool subfolder = what == u"subfolder"_qs;
    if (subfolder)
        b->naming.pattern = QStringLiteral("{artist}/{title}");
    addRow("Song");
    const QString folder = subfolder ? m_out + QStringLiteral("/Artist") : m_out;
    const QString moved = folder + QStringLiteral(".moved");
    QVERIFY(b->start());
    QVERIFY(waitForPid() != 0);
    if (what == u"removed"_qs)
        QVERIFY(QDir(folder).removeRecursively());
    else
        QVERIFY(QDir().rename(folder, moved));
    QVERIFY(writeFile(gate, {}));
    QTRY_COMPARE_WITH_TIMEOUT(b->finished, 1, 10000);
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0),
             QStringLiteral("The output folder %1 was moved or removed during the conversion; the "
                            "output was not kept")
                 .arg(folder));
    QCOMPARE(snapshot(moved), (QMap<QString, QByteArray>()));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/Song.mp3")));
}

// Two runs at once (two programs, or two machines on a shared folder) into one folder, rows
// of the same name in each: they number and skip each other as rows of one batch do.
void TestEngine::twoRunsIntoOneFolder_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<QStringList>("expected"); // sorted: status and output name of all rows
    QTest::newRow("number") << int(ExistingOutput::Number)
                            << QStringList{u"Finish Same (2).mp3"_qs, u"Finish Same (3).mp3"_qs,
                                           u"Finish Same (4).mp3"_qs, u"Finish Same (5).mp3"_qs,
                                           u"Finish Same (6).mp3"_qs, u"Finish Same.mp3"_qs};
    QTest::newRow("skip") << int(ExistingOutput::Skip)
                          << QStringList{u"Finish Same.mp3"_qs,  u"Skipped Same.mp3"_qs,
                                         u"Skipped Same.mp3"_qs, u"Skipped Same.mp3"_qs,
                                         u"Skipped Same.mp3"_qs, u"Skipped Same.mp3"_qs};
}

void TestEngine::twoRunsIntoOneFolder()
{
    QFETCH(int, policy);
    QFETCH(QStringList, expected);
    FakeEncoder::set("FAKE_SLEEP_MS", "300");
    JobListModel otherList;
    TID3v1 otherTag;
    auto first = batch();
    Batch second(&otherList, &otherTag, FakeEncoder::path(), &m_profile, &m_outputDir);
    for (Batch *run : {first.get(), &second}) {
        run->jobs = 3;
        run->naming.existing = ExistingOutput(policy);
    }
    for (int i = 0; i < 3; ++i) {
        addRow("Same", dummySource("first" + QByteArray::number(i)));
        otherList.appendEntry(entryFor(dummySource("second" + QByteArray::number(i)), "Same"), 3);
    }
    QVERIFY(first->start() && second.start());
    QTRY_VERIFY_WITH_TIMEOUT(first->finished == 1 && second.finished == 1, 20000);
    QStringList got;
    QStringList reasons;
    for (const JobListModel *list : {static_cast<const JobListModel *>(m_model),
                                     static_cast<const JobListModel *>(&otherList)}) {
        for (int row = 0; row < list->rowCount(); ++row) {
            got << JobStatusText(list->status(row)) + u' ' +
                       QFileInfo(list->run(row).output).fileName();
            reasons << list->reason(row);
        }
    }
    got.sort();
    QVERIFY2(got == expected, qPrintable(got.join(u',') + u'\n' + reasons.join(u'\n')));
    for (const QString &name : QDir(m_out).entryList(QDir::Files))
        QCOMPARE(readFile(m_out + u'/' + name).size(), 1024 + 128);
    QCOMPARE(workFilesIn(m_out), QStringList());
}

// An empty file (the claim of a run that crashed) or a dangling link is no output: "skip"
// converts over it and "number" takes its name. A claim another run holds is one.
void TestEngine::existingThatIsNoOutput_data()
{
    QTest::addColumn<int>("policy");
    QTest::addColumn<QString>("there");
    QTest::addColumn<QString>("expected"); // status and output name
    QTest::addColumn<QString>("reason");
    const auto skip = int(ExistingOutput::Skip);
    const auto number = int(ExistingOutput::Number);
    // The fake encoder's bytes are no MP3: TagLib finds no file to write its tag into.
    const QString untagged = u"Tag not written into the output; not kept: title, artist, album, "
                             u"date, genre, comment"_qs;
    QTest::newRow("skip: an empty file") << skip << "empty"
                                         << "Finish Song.mp3" << untagged;
    QTest::newRow("skip: a dangling link") << skip << "dangling"
                                           << "Finish Song.mp3" << untagged;
    QTest::newRow("skip: a link to an output")
        << skip << "link"
        << "Skipped Song.mp3" << u"The output exists already"_qs;
    QTest::newRow("skip: another run's claim")
        << skip << "claim"
        << "Skipped Song.mp3" << u"Another run writes this output"_qs;
    QTest::newRow("number: an empty file") << number << "empty"
                                           << "Finish Song.mp3" << untagged;
    QTest::newRow("number: a dangling link") << number << "dangling"
                                             << "Finish Song.mp3" << untagged;
    QTest::newRow("number: another run's claim") << number << "claim"
                                                 << "Finish Song (2).mp3" << untagged;
}

void TestEngine::existingThatIsNoOutput()
{
    QFETCH(int, policy);
    QFETCH(QString, there);
    QFETCH(QString, expected);
    QFETCH(QString, reason);
    auto b = batch();
    b->naming.existing = ExistingOutput(policy);
    const ID3info song = addRow("Song");
    const QString path = m_out + QStringLiteral("/Song.mp3");
    const QString elsewhere = QFileInfo(m_out).path() + QStringLiteral("/elsewhere.mp3");
    std::unique_ptr<HeldClaim> claim;
    if (there == u"empty"_qs) {
        QVERIFY(writeFile(path, QByteArray()));
    } else if (there == u"dangling"_qs) {
        QVERIFY(QFile::link(elsewhere, path));
    } else if (there == u"link"_qs) {
        QVERIFY(writeFile(elsewhere, "an output"));
        QVERIFY(QFile::link(elsewhere, path));
    } else {
        claim = std::make_unique<HeldClaim>(path);
        QVERIFY(claim->fd >= 0);
    }
    QVERIFY(b->run());
    QCOMPARE(JobStatusText(m_model->status(0)) + u' ' +
                 QFileInfo(m_model->run(0).output).fileName(),
             expected);
    QCOMPARE(m_model->reason(0), reason);
    if (m_model->status(0) == JobStatus::Finish) {
        QVERIFY(S_ISREG(modeOf(m_model->run(0).output)));
        QCOMPARE(readFile(m_model->run(0).output).right(128), expectedTag(song));
    }
    if (there == u"link"_qs)
        QCOMPARE(readFile(elsewhere), QByteArray("an output"));
    if (claim)
        QCOMPARE(readFile(path), QByteArray()); // the other run's claim as it was
    QVERIFY(!QFileInfo::exists(elsewhere) || there == u"link"_qs);
}

// A run killed outright leaves its named work file; the next run into that folder removes
// it, but never one that a running job still holds, a link, or a file in another folder.
void TestEngine::staleWorkFilesAreRemoved()
{
    const QString stale = m_out + QStringLiteral("/.Old.wt-AAAAAA.mp3");
    const QString held = m_out + QStringLiteral("/.Busy.wt-BBBBBB.mp3");
    const QString link = m_out + QStringLiteral("/.Link.wt-CCCCCC.mp3");
    const QString deeper = m_out + QStringLiteral("/sub/.Deep.wt-DDDDDD.mp3");
    const QString target = QFileInfo(m_out).path() + QStringLiteral("/target.mp3");
    QVERIFY(QDir().mkpath(m_out + QStringLiteral("/sub")));
    for (const QString &path : {stale, held, deeper, target})
        QVERIFY(writeFile(path, QByteArray(5000, 'W')));
    QVERIFY(QFile::link(target, link));
    auto owner = std::make_unique<HeldClaim>(held);
    QVERIFY(owner->fd >= 0);

    auto b = batch();
    addRow("Song");
    QVERIFY(b->run());
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    QVERIFY(!QFileInfo::exists(stale));
    QCOMPARE(readFile(held), QByteArray(5000, 'W'));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(target), QByteArray(5000, 'W'));
    QVERIFY(QFileInfo::exists(deeper));

    // Once its owner has ended, the next run takes it away too.
    owner.reset();
    QVERIFY(b->run());
    QVERIFY(!QFileInfo::exists(held));
    QCOMPARE(workFilesIn(m_out), QStringList{QStringLiteral(".Link.wt-CCCCCC.mp3")});
}

// A link (or a file) planted where the pattern's folder goes: the row is refused; nothing is
// written where the link leads.
void TestEngine::somethingWhereAFolderGoes_data()
{
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("reason"); // @OUT@ is the output folder
    QTest::newRow("a link to a folder elsewhere")
        << true << u"Cannot create the folder @OUT@/Artist: a link is in the way"_qs;
    QTest::newRow("a file") << false
                            << u"Cannot create the folder @OUT@/Artist: a file is in the way"_qs;
}

void TestEngine::somethingWhereAFolderGoes()
{
    QFETCH(bool, link);
    QFETCH(QString, reason);
    const QString elsewhere = QFileInfo(m_out).path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(elsewhere));
    if (link)
        QVERIFY(QFile::link(elsewhere, m_out + QStringLiteral("/Artist")));
    else
        QVERIFY(writeFile(m_out + QStringLiteral("/Artist"), "a file"));
    auto b = batch();
    b->naming.pattern = QStringLiteral("{artist}/{title}");
    addRow("Song");
    QVERIFY(b->run());
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason.replace(u"@OUT@"_qs, m_out));
    QCOMPARE(QDir(elsewhere).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(argsLog(), QStringList());
}

// A folder on FAT (a USB stick): names it refuses are made safe, and names that differ only
// in letter case are one name, in the run and the dry run alike.
void TestEngine::fatFolderNames()
{
    qputenv(FatFolderVariable, QFile::encodeName(m_out));
    auto b = batch();
    b->jobs = 2;
    b->naming.pattern = QStringLiteral("{artist}/{title}");
    b->naming.existing = ExistingOutput::Number;
    for (const char *title : {"Song", "song", "SONG", "Q: \"A\" <b>|*\\?", "Dots. "})
        m_model->appendEntry(entryFor(dummySource(QByteArray(title).toHex()), title, "Live."), 3);
    const QStringList expected = {u"Live_/Song.mp3"_qs, u"Live_/song (2).mp3"_qs,
                                  u"Live_/SONG (3).mp3"_qs, u"Live_/Q_ _A_ _b_____.mp3"_qs,
                                  u"Live_/Dots__.mp3"_qs};
    const QVector<PlannedOutput> plan =
        PlanOutputs(*m_model, m_out, format(Mp3), m_profile, b->naming);
    QVERIFY(b->run());
    for (int row = 0; row < m_model->rowCount(); ++row) {
        QCOMPARE(m_model->status(row), JobStatus::Finish);
        QCOMPARE(m_model->run(row).output, m_out + u'/' + expected.at(row));
        QCOMPARE(plan.at(row).path, m_model->run(row).output);
    }
    // Replacing, the three are one output: the plan says so.
    b->naming.existing = ExistingOutput::Replace;
    const QVector<PlannedOutput> replacing =
        PlanOutputs(*m_model, m_out, format(Mp3), m_profile, b->naming);
    QCOMPARE(replacing.at(0).sameOutputRows, (QList<int>{1, 2}));
    QCOMPARE(replacing.at(3).sameOutputRows, QList<int>());
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
    FakeEncoder::set("WT_SHUTDOWN_RECORD", QFile::encodeName(record));
    auto b = batch();
    addRow("a");
    addRow("b");
    bool recordedBeforeLastRowEnded = false;
    connect(&b->seq, &BatchSequencer::jobEnded, this,
            [&] { recordedBeforeLastRowEnded |= QFileInfo::exists(record); });
    // What the owner does with EndAction::Shutdown.
    connect(&b->seq, &BatchSequencer::batchFinished, this, [] { RunShutdownCommand(); });
    QVERIFY(b->run());
    QTRY_COMPARE_WITH_TIMEOUT(readFile(record), QByteArray("shutdown \n"), 5000);
    QVERIFY(!recordedBeforeLastRowEnded);

    // After a stop, no end action at all.
    QFile::remove(record);
    FakeEncoder::set("FAKE_MODE", "hang");
    QVERIFY(b->start());
    QTRY_VERIFY_WITH_TIMEOUT(m_model->status(0) == JobStatus::Converting, 5000);
    const int finishedBefore = b->finished;
    QVERIFY(b->stopAndSettle());
    deliverQueued();
    // The end action is carried out on batchFinished alone, and that never came.
    QCOMPARE(b->finished, finishedBefore);
    QVERIFY(!QFileInfo::exists(record));
}

// ---------------------------------------------------------------- the real ffmpeg

void TestEngine::realFormats_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<EncodingProfile>("profile");
    QTest::addColumn<QString>("note");       // what the row's tooltip says of the bitrate
    QTest::addColumn<QString>("tagSection"); // where ffprobe finds the output's own tags
    QTest::addColumn<QStringList>("keys");   // the entry's fields the container keeps
    const QStringList all = {u"title"_qs, u"artist"_qs, u"album"_qs,
                             u"date"_qs,  u"genre"_qs,  u"comment"_qs};
    // As ffprobe 5.1 reads them: Vorbis comments and OpusTags belong to the stream, ADTS has
    // no tags, RealMedia keeps title and comment (and the artist as "author"). A new row of
    // the format table needs its line here.
    const QHash<QString, QPair<QString, QStringList>> tags = {
        {u"mp3"_qs, {u"format_tags"_qs, all}},
        {u"wav"_qs, {u"format_tags"_qs, all}},
        {u"wma"_qs, {u"format_tags"_qs, all}},
        {u"aac"_qs, {QString(), {}}},
        {u"rm"_qs, {u"format_tags"_qs, {u"title"_qs, u"comment"_qs}}},
        {u"flac"_qs, {u"format_tags"_qs, all}},
        {u"ogg"_qs, {u"stream_tags"_qs, all}},
        {u"opus"_qs, {u"stream_tags"_qs, all}},
        {u"m4a"_qs, {u"format_tags"_qs, all}},
    };
    // 48000 Hz: the one rate every format takes.
    const EncodingProfile every{QStringLiteral("48000"), QStringLiteral("128000"),
                                QStringLiteral("2")};
    for (const TargetFormat &f : TargetFormats()) {
        QVERIFY2(tags.contains(f.cliName()), qPrintable(f.cliName()));
        const auto &[section, keys] = tags.value(f.cliName());
        QTest::newRow(qPrintable(f.name)) << f.extension << every << QString() << section << keys;
    }
    // Where the encoders settle on another bitrate than the chosen one.
    const EncodingProfile high{QStringLiteral("22050"), QStringLiteral("192000"),
                               QStringLiteral("1")};
    QTest::newRow("MP3 192 Kbps at 22050 Hz")
        << Mp3 << high
        << QStringLiteral("Encoded at 160 Kbps, not the chosen 192 Kbps: the encoder goes no "
                          "higher at 22050 Hz mono.")
        << tags.value(u"mp3"_qs).first << tags.value(u"mp3"_qs).second;
    QTest::newRow("AAC 192 Kbps at 22050 Hz mono")
        << QStringLiteral(".aac") << high
        << QStringLiteral("Encoded at 132 Kbps, not the chosen 192 Kbps: the encoder goes no "
                          "higher at 22050 Hz mono.")
        << QString() << QStringList();
}

void TestEngine::realFormats()
{
    QFETCH(QString, extension);
    QFETCH(EncodingProfile, profile);
    QFETCH(QString, note);
    QFETCH(QString, tagSection);
    QFETCH(QStringList, keys);
    m_profile = profile;
    // A mono 22050 Hz MP3 (it decodes to float samples), so the profile's rate and channels
    // show in the output; its own title must not reach the output, the entry's must.
    const QString source =
        realSource(QStringLiteral("sine.mp3"), 2, 22050, 1,
                   {QStringLiteral("-metadata"), QStringLiteral("title=Source Title")});
    auto b = batch(ffmpegPath());
    ID3info e = entryFor(source, "Sine \xe9t\xe9", "Wavetransmuter");
    e.Comment = "a comment of exactly thirty b.";
    m_model->appendEntry(e, 2);
    QVERIFY(b->run(extension, 20000));
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    const QString out = outOf(e, extension);
    QCOMPARE(out, m_out + QStringLiteral("/Sine \u00e9t\u00e9") + extension);
    QVERIFY(decodesCleanly(out));
    QCOMPARE(probeEntries(out, QStringLiteral("stream=sample_rate")), profile.SampleRate);
    QCOMPARE(probeEntries(out, QStringLiteral("stream=channels")), profile.Channels);
    QVERIFY(!readFile(out).contains("Source Title"));
    // The ID3v1 block only where the format carries one: after a FLAC or Ogg stream it is
    // junk to a strict reader.
    if (format(extension).carriesId3v1)
        QCOMPARE(readFile(out).right(128), expectedTag(e));
    else
        QVERIFY(!readFile(out).right(128).startsWith("TAG"));
    const QStringList values = {u"Sine \u00e9t\u00e9"_qs,
                                u"Wavetransmuter"_qs,
                                u"Album"_qs,
                                u"2024"_qs,
                                u"Rock"_qs,
                                u"a comment of exactly thirty b."_qs};
    const QStringList names = {u"title"_qs, u"artist"_qs, u"album"_qs,
                               u"date"_qs,  u"genre"_qs,  u"comment"_qs};
    for (int i = 0; i < names.size(); ++i) {
        // ffmpeg reads an ASF file's year (WM/Year) under that name.
        const QString name =
            extension == u".wma"_qs && names.at(i) == u"date"_qs ? u"WM/Year"_qs : names.at(i);
        if (keys.contains(names.at(i)))
            QCOMPARE(probeEntries(out, tagSection + u'=' + name), values.at(i));
    }
    if (extension == QLatin1String(".flac")) // 16 bits, not the 24 of a float source
        QCOMPARE(probeEntries(out, QStringLiteral("stream=bits_per_raw_sample")), u"16"_qs);
    QCOMPARE(m_model->reason(0), note);
    QCOMPARE(m_model->sizeBytes(0), QFileInfo(out).size());
    QVERIFY(m_model->hasRealSize(0));
}

void TestEngine::realVideoSourceGivesAudio()
{
    // A video file with a sound track: every format converts it, and into sound alone.
    const QString source = m_src + QStringLiteral("/clip.wmv");
    QByteArray made;
    QVERIFY(RunAndCapture(ffmpegPath(),
                          {u"-v"_qs, u"error"_qs, u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                           u"testsrc=size=160x120:rate=10:duration=1"_qs, u"-f"_qs, u"lavfi"_qs,
                           u"-i"_qs, u"sine=duration=1"_qs, u"-shortest"_qs, source},
                          made)
                .succeeded());
    auto b = batch(ffmpegPath());
    m_profile.SampleRate = QStringLiteral("48000"); // the one rate every format takes
    const ID3info e = addRow("clip", source, QStringLiteral("00:00:01"));
    for (const TargetFormat &f : TargetFormats()) {
        QVERIFY(b->run(f.extension, 20000));
        QCOMPARE(m_model->status(0), JobStatus::Finish);
        QCOMPARE(probeEntries(outOf(e, f.extension), u"stream=codec_type"_qs), u"audio"_qs);
    }
}

void TestEngine::refusedProfiles_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<EncodingProfile>("profile");
    QTest::addColumn<QString>("reason");
    auto row = [](const char *ext, const char *rate, const char *bitrate, const char *channels,
                  const char *reason) {
        QTest::addRow("%s %s %s %s", ext, rate, bitrate, channels)
            << QString::fromLatin1(ext)
            << EncodingProfile{QString::fromLatin1(rate), QString::fromLatin1(bitrate),
                               QString::fromLatin1(channels)}
            << QString::fromLatin1(reason);
    };
    row(".wma", "44100", "8000", "2", "WMA needs a bitrate of at least 24 Kbps");
    row(".rm", "22050", "128000", "2", "RealMedia needs a sample rate of at least 32000 Hz");
    row(".opus", "44100", "128000", "2", "Opus takes only 8000, 12000, 16000, 24000 or 48000 Hz");
    row(".opus", "48000", "320000", "1", "Opus takes at most 256 Kbps in mono");
    row(".ogg", "44100", "320000", "1", "Ogg Vorbis takes 32 to 224 Kbps at 44100 Hz in mono");
}

void TestEngine::refusedProfiles()
{
    QFETCH(QString, extension);
    QFETCH(EncodingProfile, profile);
    QFETCH(QString, reason);
    // The real encoder does refuse it: the table says nothing ffmpeg 5.1 would not.
    const QString source = realSource(QStringLiteral("sine.wav"), 1);
    QByteArray output;
    QVERIFY(
        !RunAndCapture(ffmpegPath(),
                       ConversionArguments(source, m_out + QStringLiteral("/direct") + extension,
                                           profile, format(extension).encoderArguments),
                       output)
             .succeeded());
    // The batch says so in its own words, without starting the encoder, and goes on; the
    // next row gets a profile every format takes.
    auto b = batch();
    const ID3info refused = addRow("refused");
    addRow("next");
    m_profile = profile;
    connect(&b->seq, &BatchSequencer::jobStarted, this, [&] {
        m_profile = EncodingProfile::defaults();
        m_profile.SampleRate = QStringLiteral("48000");
        b->sync();
    });
    QVERIFY(b->run(extension));
    QCOMPARE(m_model->status(0), JobStatus::Failed);
    QCOMPARE(m_model->reason(0), reason);
    QVERIFY(!QFileInfo::exists(outOf(refused, extension)));
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(argsLog().size(), 1);
    QCOMPARE(workFilesIn(m_out), QStringList());
}

void TestEngine::realSameTitleLaterWins()
{
    auto b = batch(ffmpegPath());
    m_model->appendEntry(entryFor(realSource(QStringLiteral("one.wav"), 1), "Same", "first"), 1);
    m_model->appendEntry(entryFor(realSource(QStringLiteral("two.wav"), 3), "Same", "second"), 3);
    QVERIFY(b->run(Mp3, 20000));
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    QCOMPARE(m_model->status(1), JobStatus::Finish);
    QCOMPARE(QDir(m_out).entryList(QDir::Files), QStringList{QStringLiteral("Same.mp3")});
    const QString out = m_out + QStringLiteral("/Same.mp3");
    QCOMPARE(readFile(out).right(128), expectedTag(m_model->entry(1)));
    QVERIFY(probeEntries(out, QStringLiteral("format=duration")).toDouble() > 2.5);
}

void TestEngine::realProgressAndStop()
{
    const QString source = realSource(QStringLiteral("long.wav"), 90, 44100, 2);
    m_profile.SampleRate = QStringLiteral("48000"); // resampling keeps ffmpeg busy a while
    auto b = batch(ffmpegPath());
    const ID3info first = addRow("long", source, QStringLiteral("00:01:30"));
    QStringList shown; // what the row's status says along the way
    connect(m_model, &JobListModel::dataChanged, this, [&] {
        const QString text = m_model->index(0, JobListModel::StatusColumn).data().toString();
        if (text != QLatin1String("Unconvert") && (shown.isEmpty() || shown.last() != text))
            shown << text;
    });
    QVERIFY(b->run(Mp3, 30000));
    QCOMPARE(shown.mid(0, 2),
             (QStringList{QStringLiteral("Converting"), QStringLiteral("Converting 0%")}));
    QVERIFY2(shown.filter(QRegularExpression(QStringLiteral("^Converting [1-9]\\d*%$"))).size() >=
                 1,
             qPrintable(shown.join(u',')));
    QCOMPARE(shown.last(), QStringLiteral("Finish"));
    QCOMPARE(m_model->status(0), JobStatus::Finish);
    // From 0 of the row's 90 seconds through the encoder's reports to the job end's 100 of
    // 100.
    QVERIFY(b->progress.size() >= 3);
    QCOMPARE(b->progress.first(), qMakePair(0, 90));
    QCOMPARE(b->progress.last(), qMakePair(100, 100));
    bool moved = false;
    for (const auto &p : b->progress.mid(0, b->progress.size() - 1)) {
        QCOMPARE(p.second, 90);
        QVERIFY(p.first >= 0 && p.first <= 90);
        moved |= ProgressPercent(p.first, p.second).value_or(0) > 0;
    }
    QVERIFY(moved);

    // Again, stopped from inside a progress report, as a click handled during the
    // display's event processing would: no partial output is left, the first run's output
    // is kept byte for byte, the next row untouched.
    addRow("after", source, QStringLiteral("00:01:30"));
    const QString out = outOf(first);
    const QByteArray earlier = readFile(out);
    QVERIFY(earlier.size() > 100000);
    connect(&b->seq, &BatchSequencer::progress, this, [&](int done, int total) {
        if (total == 90 && done > 0 && b->seq.isRunning())
            b->seq.stop();
    });
    QVERIFY(b->start());
    QTRY_COMPARE_WITH_TIMEOUT(b->stopped, 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!b->seq.isStopping(), 5000);
    QCOMPARE(m_model->status(0), JobStatus::Stopped);
    QCOMPARE(m_model->status(1), JobStatus::Unconvert);
    QCOMPARE(readFile(out), earlier);
    QCOMPARE(workFilesIn(m_out), QStringList());
    QCOMPARE(b->finished, 1);
    QVERIFY(QFileInfo(source).size() > 1000000);
}

WT_SAFE_TEST_MAIN(TestEngine)

#include "tst_engine.moc"
