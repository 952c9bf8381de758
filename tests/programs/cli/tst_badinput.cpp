#include "common/testcommon.h"

// Inputs that break naive converters, made at test time and sent through the real paths:
// the command-line program (probe, batch, tags, output naming) and the job list model fed by
// the file adder. Whatever the input: no crash, no hang, a defined status, no partial output,
// and the sources' bytes unchanged.
#include "core/convert/commandline.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/joblistmodel.h"
#include "core/tags/tid3v1.h"

#include "core/convert/batchsequencer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// Generous: the sanitized build is slower, the encoder is not.
constexpr int RunBoundMs = 120000;

const QString Mp3 = QStringLiteral(".mp3");

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes(size, '\0');
    for (char &c : bytes)
        c = char(random.bounded(256));
    return bytes;
}

QByteArray tagBlock(const QByteArray &title)
{
    QByteArray block(128, '\0');
    block.replace(0, 3, "TAG");
    block.replace(3, title.size(), title);
    block[127] = char(17);
    return block;
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

struct Run
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    qint64 ms = 0;
};

// Runs the CLI (through `/bin/sh -c` with `shellPrefix` when given, for limits).
Run runCli(const QStringList &args, const QString &shellPrefix = QString())
{
    QProcess process;
    if (shellPrefix.isEmpty()) {
        process.setProgram(QStringLiteral(WT_CLI));
        process.setArguments(args);
    } else {
        process.setProgram(QStringLiteral("/bin/sh"));
        process.setArguments(QStringList{QStringLiteral("-c"),
                                         shellPrefix + QStringLiteral(" && exec \"$0\" \"$@\""),
                                         QStringLiteral(WT_CLI)} +
                             args);
    }
    process.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    process.start();
    Run run;
    run.finished = process.waitForStarted() && process.waitForFinished(RunBoundMs);
    run.ms = clock.elapsed();
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    run.exitStatus = process.exitStatus();
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A source file and what its row must end as: "Finish", "Failed", or "any" (the encoder
// decides; the file system must agree with what it said).
struct Source
{
    QString path;
    QByteArray title; // the entry's title: its tag title, else its file name
    QString expect;
};

// The one status line the CLI prints for `source`: its status, or empty when none.
QString statusOf(const QByteArray &out, const Source &source, const QString &outDir)
{
    const QString output = OutputPath(outDir, source.title, source.path, Mp3);
    for (const char *status : {"Finish", "Failed", "Stopped"}) {
        // Paths are printed escaped, so a name with a newline still makes one line.
        const QByteArray line = QByteArray(status) + '\t' +
                                EscapeLineField(QFile::encodeName(source.path)) + '\t' +
                                EscapeLineField(QFile::encodeName(output)) + '\n';
        if (out.contains(line))
            return QString::fromLatin1(status);
    }
    return QString();
}

bool decodes(const QString &path)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                  QStringLiteral("-i"), path, QStringLiteral("-f"), QStringLiteral("null"),
                  QStringLiteral("-")});
    return ffmpeg.waitForFinished(RunBoundMs) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cli_data();
    void cli();
    void outputFolder_data();
    void outputFolder();
    void encoderHitsFileSizeLimit();
    void listModel();
    void listModelBatch();

private:
    // Makes the sources of case `kind` in `in`; true when they are to be given as the folder.
    bool makeSources(const QString &kind, const QString &in, QList<Source> &sources);
    QList<Source> makeAllListSources(const QString &in);
    void checkCliRun(const Run &run, const QList<Source> &sources, const QString &outDir);

    QTemporaryDir m_home;
    QTemporaryDir m_media;
    QString m_wav;     // 1 s of a tone
    QString m_longWav; // 60 s
    QString m_mp3;     // 3 s, MPEG layer 3
};

void TestBadInput::initTestCase()
{
    QVERIFY(m_home.isValid() && m_media.isValid());
    // Nothing the programs read or write of their settings lies outside our folder.
    qputenv("HOME", QFile::encodeName(m_home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.filePath(QStringLiteral(".config"))));
    qputenv("WAVETRANSMUTER_SETTINGS_FILE",
            QFile::encodeName(m_home.filePath(QStringLiteral("settings.ini"))));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty(),
             "the bad-input suite needs ffmpeg");

    m_wav = m_media.filePath(QStringLiteral("tone.wav"));
    m_longWav = m_media.filePath(QStringLiteral("long.wav"));
    m_mp3 = m_media.filePath(QStringLiteral("tone.mp3"));
    const struct
    {
        QString path;
        const char *seconds;
    } media[] = {{m_wav, "1"}, {m_longWav, "60"}, {m_mp3, "3"}};
    for (const auto &m : media) {
        QProcess ffmpeg;
        ffmpeg.start(QStringLiteral("ffmpeg"),
                     {QStringLiteral("-nostdin"), QStringLiteral("-v"), QStringLiteral("error"),
                      QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                      QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=440:duration=") + QLatin1String(m.seconds),
                      QStringLiteral("-ac"), QStringLiteral("2"), m.path});
        QVERIFY(ffmpeg.waitForFinished(RunBoundMs));
        QCOMPARE(ffmpeg.exitCode(), 0);
    }
}

bool TestBadInput::makeSources(const QString &kind, const QString &in, QList<Source> &sources)
{
    auto add = [&](const QString &name, const QByteArray &bytes, const QString &expect,
                   const QByteArray &title = QByteArray()) {
        const QString path = in + QLatin1Char('/') + name;
        if (!writeFile(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        sources.append({path, title.isEmpty() ? name.toUtf8() : title, expect});
    };
    const QByteArray wav = readFile(m_wav);
    const QString finish = QStringLiteral("Finish");
    const QString failed = QStringLiteral("Failed");

    if (kind == QLatin1String("zero-byte")) {
        add(QStringLiteral("empty.mp3"), QByteArray(), failed);
    } else if (kind == QLatin1String("127 bytes")) {
        add(QStringLiteral("short.mp3"), randomBytes(127, 127), failed);
    } else if (kind == QLatin1String("random bytes")) {
        add(QStringLiteral("noise.mp3"), randomBytes(64 * 1024, 1), QStringLiteral("any"));
    } else if (kind == QLatin1String("truncated mp3")) {
        const QByteArray mp3 = readFile(m_mp3);
        add(QStringLiteral("cut.mp3"), mp3.left(mp3.size() * 3 / 5 + 7), finish);
    } else if (kind == QLatin1String("wav claims huge data")) {
        QByteArray huge = wav;
        const qsizetype data = huge.indexOf("data");
        huge.replace(4, 4, QByteArray("\xf0\xff\xff\xff", 4));        // RIFF size
        huge.replace(data + 4, 4, QByteArray("\xf0\xff\xff\x7f", 4)); // data size
        add(QStringLiteral("huge.wav"), huge, finish);
    } else if (kind == QLatin1String("directory x.mp3 given")) {
        QDir(in).mkdir(QStringLiteral("x.mp3"));
    } else if (kind == QLatin1String("fifo y.mp3 given")) {
        makeFifo(in + QStringLiteral("/y.mp3"));
    } else if (kind == QLatin1String("directory and fifo in a folder")) {
        QDir(in).mkdir(QStringLiteral("x.mp3"));
        makeFifo(in + QStringLiteral("/y.mp3"));
        add(QStringLiteral("good.wav"), wav, finish);
        return true;
    } else if (kind == QLatin1String("odd file names")) {
        for (const QString &name :
             {QStringLiteral("new\nline.wav"), QStringLiteral("it's \"quoted\".wav"),
              QStringLiteral("back\\slash.wav"), QStringLiteral("Grüße ☃ 日本.wav"),
              QString(251, QLatin1Char('n')) + QStringLiteral(".wav")})
            add(name, wav, finish);
    } else if (kind == QLatin1String("odd file names in a folder")) {
        for (const QString &name : {QStringLiteral("tab\there.wav"), QStringLiteral("-dash.wav"),
                                    QStringLiteral("Ünïcödé.WAV"), QStringLiteral(" lead.wav")})
            add(name, wav, finish);
        return true;
    } else if (kind == QLatin1String("tag titles with slashes")) {
        add(QStringLiteral("up.wav"), wav + tagBlock("../../x"), finish, "../../x");
        add(QStringLiteral("sub.wav"), wav + tagBlock("a/b"), finish, "a/b");
        add(QStringLiteral("dots.wav"), wav + tagBlock(".."), finish, "..");
    } else {
        qFatal("unknown case %s", qPrintable(kind));
    }
    return false;
}

void TestBadInput::checkCliRun(const Run &run, const QList<Source> &sources, const QString &outDir)
{
    QVERIFY2(run.finished, "the program did not end in time");
    QCOMPARE(run.exitStatus, QProcess::NormalExit);

    QStringList expectedOutputs;
    for (const Source &source : sources) {
        const QString status = statusOf(run.out, source, outDir);
        QVERIFY2(!status.isEmpty(),
                 qPrintable(QStringLiteral("no status line for %1 in:\n%2")
                                .arg(source.path, QString::fromLocal8Bit(run.out))));
        if (source.expect != QLatin1String("any"))
            QVERIFY2(status == source.expect,
                     qPrintable(source.path + QStringLiteral(": ") + status + QStringLiteral("\n") +
                                QString::fromLocal8Bit(run.err)));
        const QString output = OutputPath(outDir, source.title, source.path, Mp3);
        QCOMPARE(QFileInfo(output).absolutePath(), outDir);
        if (status == QLatin1String("Finish")) {
            expectedOutputs.append(QFileInfo(output).fileName());
            QVERIFY2(QFileInfo(output).isFile(), qPrintable(output));
            TID3v1 tag;
            QVERIFY(tag.ReadFromFile(output));
            QVERIFY(tag.HasTag);
            QVERIFY2(decodes(output), qPrintable(output));
        } else {
            QVERIFY2(!QFileInfo::exists(output), qPrintable(output + QStringLiteral(" left")));
        }
    }
    // Nothing else in the output folder: no partial or temporary files.
    QStringList present = QDir(outDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot);
    present.sort();
    expectedOutputs.sort();
    QCOMPARE(present, expectedOutputs);
    QCOMPARE(run.exitCode, expectedOutputs.size() == sources.size() ? 0 : 1);
}

void TestBadInput::cli_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"zero-byte", "127 bytes", "random bytes", "truncated mp3",
                             "wav claims huge data", "odd file names", "odd file names in a folder",
                             "tag titles with slashes", "directory and fifo in a folder"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestBadInput::cli()
{
    QFETCH(QString, kind);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // Deep enough that "../../x" from the output folder still lies inside our folder.
    const QString in = root.filePath(QStringLiteral("in"));
    const QString outDir = root.filePath(QStringLiteral("a/b/out"));
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(outDir));
    QList<Source> sources;
    const bool asFolder = makeSources(kind, in, sources);
    const QMap<QString, QByteArray> before = snapshot(in);

    QStringList args = {QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                        outDir};
    if (asFolder) {
        args.append(in);
    } else {
        for (const Source &source : sources)
            args.append(source.path);
    }
    const Run run = runCli(args);
    checkCliRun(run, sources, outDir);
    if (QTest::currentTestFailed())
        qWarning("stderr: %s", run.err.constData());
    QCOMPARE(snapshot(in), before);
    // Nothing appeared anywhere else in our folder either.
    const QMap<QString, QByteArray> after = snapshot(root.path());
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        QVERIFY2(it.key().startsWith(in) || it.key().startsWith(root.filePath(QStringLiteral("a"))),
                 qPrintable(it.key()));
    QVERIFY(!QFileInfo::exists(root.filePath(QStringLiteral("a/x.mp3"))));
}

void TestBadInput::outputFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("exitCode");
    // The source is given as a file, a directory x.mp3 or a FIFO y.mp3.
    QTest::newRow("missing, one level") << "missing"
                                        << "file" << 0;
    QTest::newRow("missing, two levels") << "missing2"
                                         << "file" << 2;
    QTest::newRow("regular file") << "file"
                                  << "file" << 2;
    QTest::newRow("directory x.mp3 given") << "present"
                                           << "dir" << 1;
    QTest::newRow("fifo y.mp3 given") << "present"
                                      << "fifo" << 2;
}

void TestBadInput::outputFolder()
{
    QFETCH(QString, kind);
    QFETCH(QString, source);
    QFETCH(int, exitCode);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString in = root.filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    QString path = in + QStringLiteral("/good.wav");
    if (source == QLatin1String("dir")) {
        path = in + QStringLiteral("/x.mp3");
        QVERIFY(QDir().mkdir(path));
    } else if (source == QLatin1String("fifo")) {
        path = in + QStringLiteral("/y.mp3");
        QVERIFY(makeFifo(path));
    } else {
        QVERIFY(writeFile(path, readFile(m_wav)));
    }
    QString outDir = root.filePath(QStringLiteral("out"));
    if (kind == QLatin1String("missing2"))
        outDir = root.filePath(QStringLiteral("out/deeper"));
    else if (kind == QLatin1String("file"))
        QVERIFY(writeFile(outDir, "not a folder"));
    else if (kind == QLatin1String("present"))
        QVERIFY(QDir().mkdir(outDir));
    const QMap<QString, QByteArray> before = snapshot(root.path());

    const Run run = runCli(
        {QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"), outDir, path});
    QVERIFY2(run.finished, "the program did not end in time");
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QVERIFY2(run.exitCode == exitCode, run.err.constData());
    if (exitCode == 0) {
        const Source good = {path, QByteArrayLiteral("good.wav"), QStringLiteral("Finish")};
        checkCliRun(run, {good}, outDir);
        QMap<QString, QByteArray> after = snapshot(root.path());
        after.remove(outDir);
        after.remove(OutputPath(outDir, good.title, path, Mp3));
        QCOMPARE(after, before);
    } else {
        QVERIFY(run.out.isEmpty());
        QVERIFY(!run.err.isEmpty()); // says why
        QCOMPARE(snapshot(root.path()), before);
    }
}

void TestBadInput::encoderHitsFileSizeLimit()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString in = root.filePath(QStringLiteral("in"));
    const QString outDir = root.filePath(QStringLiteral("out"));
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(outDir));
    const Source source = {in + QStringLiteral("/long.wav"), QByteArrayLiteral("long.wav"),
                           QStringLiteral("Failed")};
    QVERIFY(QFile::copy(m_longWav, source.path));
    const QMap<QString, QByteArray> before = snapshot(in);

    // 60 s at 128 kbit/s is about 940 kB; the limit is 128 or 256 kB (512- or 1024-byte
    // blocks, as the shell counts). No core file may be left by the encoder's SIGXFSZ.
    const Run run = runCli({QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                            outDir, source.path},
                           QStringLiteral("ulimit -c 0 && ulimit -f 256"));
    checkCliRun(run, {source}, outDir);
    QCOMPARE(snapshot(in), before);
}

QList<Source> TestBadInput::makeAllListSources(const QString &in)
{
    QList<Source> sources;
    for (const char *kind : {"zero-byte", "127 bytes", "random bytes", "truncated mp3",
                             "wav claims huge data", "odd file names", "tag titles with slashes"})
        makeSources(QString::fromLatin1(kind), in, sources);
    QDir(in).mkdir(QStringLiteral("x.mp3"));
    sources.append({in + QStringLiteral("/x.mp3"), "x.mp3", QStringLiteral("Failed")});
    makeFifo(in + QStringLiteral("/y.mp3"));
    sources.append({in + QStringLiteral("/y.mp3"), "y.mp3", QStringLiteral("Failed")});
    return sources;
}

void TestBadInput::listModel()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString in = root.filePath(QStringLiteral("in"));
    QVERIFY(QDir().mkpath(in));
    const QList<Source> sources = makeAllListSources(in);
    const QMap<QString, QByteArray> before = snapshot(in);

    JobListModel model;
    TID3v1 tag;
    FileAdder adder(&model, &tag);
    adder.setEncoderPath(QStandardPaths::findExecutable(QStringLiteral("ffmpeg")));
    QSignalSpy finished(&adder, &FileAdder::finished);
    QStringList paths;
    for (const Source &source : sources)
        paths.append(source.path);
    adder.addFiles(paths);
    // A FIFO nobody writes keeps a probe waiting until its watchdog (30 s) ends it.
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, RunBoundMs);

    QCOMPARE(model.rowCount(), sources.size());
    static const QRegularExpression size(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]{1,2})?MB")));
    for (int row = 0; row < model.rowCount(); ++row) {
        const Source &source = sources.at(row);
        const ID3info &entry = model.entry(row);
        QCOMPARE(entry.SourcePath, source.path);
        QCOMPARE(entry.Title, source.title);
        QCOMPARE(model.status(row), JobStatus::Unconvert);
        QVERIFY2(size.match(sizeShown(model, row)).hasMatch(), qPrintable(sizeShown(model, row)));
        QVERIFY(timeShown(model, row).size() <= 8);
    }
    QCOMPARE(snapshot(in), before);
}

void TestBadInput::listModelBatch()
{
    // What the window does with such rows: the batch must end, each row with a status.
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString in = root.filePath(QStringLiteral("in"));
    const QString outDir = root.filePath(QStringLiteral("a/b/out"));
    QVERIFY(QDir().mkpath(in) && QDir().mkpath(outDir));
    const QList<Source> sources = makeAllListSources(in);
    const QMap<QString, QByteArray> before = snapshot(in);

    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    JobListModel model;
    TID3v1 tag;
    FileAdder adder(&model, &tag);
    adder.setEncoderPath(ffmpeg);
    adder.setProbeTimeout(2000); // the FIFO's probe; its conversion is the point here
    QSignalSpy added(&adder, &FileAdder::finished);
    QStringList paths;
    for (const Source &source : sources)
        paths.append(source.path);
    adder.addFiles(paths);
    QTRY_COMPARE_WITH_TIMEOUT(added.size(), 1, RunBoundMs);

    BatchSequencer batch(&model, &tag);
    batch.setEncoderPath(ffmpeg);
    ConversionOptions options;
    options.outputDir = outDir;
    batch.setOptions(options);
    QSignalSpy done(&batch, &BatchSequencer::batchFinished);
    QVERIFY(batch.StartConversion(*TargetFormatForExtension(Mp3)));
    QTRY_COMPARE_WITH_TIMEOUT(done.size(), 1, RunBoundMs * 2);

    QStringList expectedOutputs;
    for (int row = 0; row < model.rowCount(); ++row) {
        const Source &source = sources.at(row);
        const JobStatus status = model.status(row);
        const QString output = OutputPath(outDir, source.title, source.path, Mp3);
        if (source.expect == QLatin1String("Finish"))
            QVERIFY2(status == JobStatus::Finish, qPrintable(source.path + model.reason(row)));
        else if (source.expect == QLatin1String("Failed"))
            QVERIFY2(status == JobStatus::Failed, qPrintable(source.path));
        else
            QVERIFY(status == JobStatus::Finish || status == JobStatus::Failed);
        if (status == JobStatus::Finish)
            expectedOutputs.append(QFileInfo(output).fileName());
        else
            QVERIFY2(!QFileInfo::exists(output), qPrintable(output));
    }
    QStringList present = QDir(outDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot);
    present.sort();
    expectedOutputs.sort();
    QCOMPARE(present, expectedOutputs);
    QCOMPARE(snapshot(in), before);
}

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
