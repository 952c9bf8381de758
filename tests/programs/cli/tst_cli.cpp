#include "common/testguard.h"

#include "core/joblist/folderscan.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

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

QStringList lines(const QByteArray &text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString tabbed(const QStringList &fields)
{
    return fields.join(QLatin1Char('\t'));
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void badUsage_data();
    void badUsage();
    void help();
    void versionAndFormatList();
    void convertsFilesAndFoldersInCommandLineOrder();
    void defaultOutputIsTheSavedFolder();
    void failedRowsGiveExitOne();
    void missingEncoderFailsEveryRowAtOnce();
    void dryRunConvertsNothingAndFlagsClashes();
    void progressLineOnlyOnATerminal();
    void signalStopsLikeStop_data();
    void signalStopsLikeStop();

private:
    Run run(const QStringList &args, const QMap<QString, QString> &env = {}) const;
    QString makeSource(const QString &path, double seconds, int rate = 22050);

    QTemporaryDir m_tmp;
    QString m_ffmpeg;
    QString m_dir;
};

void TestCli::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    QVERIFY2(!m_ffmpeg.isEmpty(), "ffmpeg is needed");
    qunsetenv("WAVETRANSMUTER_FFMPEG");
}

void TestCli::init()
{
    static int round = 0;
    m_dir = m_tmp.filePath(QString::number(++round));
    QVERIFY(QDir().mkpath(m_dir + QStringLiteral("/src")));
}

Run TestCli::run(const QStringList &args, const QMap<QString, QString> &env) const
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.start(QStringLiteral(WT_CLI_PROGRAM), args);
    Run r;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QString TestCli::makeSource(const QString &path, double seconds, int rate)
{
    QByteArray output;
    RunAndCapture(m_ffmpeg,
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                   QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                   QStringLiteral("sine=frequency=330:duration=%1").arg(seconds),
                   QStringLiteral("-ar"), QString::number(rate), QStringLiteral("-ac"),
                   QStringLiteral("1"), path},
                  output);
    return path;
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing") << QStringList() << QStringLiteral("--to FORMAT is required");
    QTest::newRow("unknown format")
        << QStringList{QStringLiteral("--to"), QStringLiteral("ogg"), QStringLiteral("x")}
        << QStringLiteral("--to ogg is not a format; allowed values: mp3, wav, wma, aac, rm");
    QTest::newRow("rate not in the list")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--rate"),
                       QStringLiteral("44000"), QStringLiteral("x")}
        << QStringLiteral("--rate 44000 is not allowed; allowed values: 8000, 11025, 12000, "
                          "16000, 22050, 24000, 32000, 44100, 48000");
    QTest::newRow("bitrate in Kbps")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--bitrate"),
                       QStringLiteral("128"), QStringLiteral("x")}
        << QStringLiteral("--bitrate 128 is not allowed; allowed values: 8000, 16000, 24000, "
                          "32000, 48000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, "
                          "224000, 256000, 320000");
    QTest::newRow("three channels")
        << QStringList{QStringLiteral("--to"), QStringLiteral("wav"), QStringLiteral("--channels"),
                       QStringLiteral("3"), QStringLiteral("x")}
        << QStringLiteral("--channels 3 is not allowed; allowed values: 1, 2");
    QTest::newRow("no path") << QStringList{QStringLiteral("--to"), QStringLiteral("mp3")}
                             << QStringLiteral("no PATH given");
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"),
                                                   QStringLiteral("--fast"), QStringLiteral("x")}
                                    << QStringLiteral("Unknown option 'fast'");
    QTest::newRow("format twice") << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"),
                                                 QStringLiteral("--to"), QStringLiteral("wav"),
                                                 QStringLiteral("x")}
                                  << QStringLiteral("--to given more than once");
    QTest::newRow("path that does not exist")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                       QStringLiteral("@DIR@/out"), QStringLiteral("@DIR@/missing.wav")}
        << QStringLiteral("no such file or folder: @DIR@/missing.wav");
    QTest::newRow("output folder two levels down")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                       QStringLiteral("@DIR@/a/b"), QStringLiteral("@DIR@/src")}
        << QStringLiteral("output folder @DIR@/a/b does not exist and cannot be created");
}

void TestCli::badUsage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    args.replaceInStrings(QStringLiteral("@DIR@"), m_dir);
    message.replace(QStringLiteral("@DIR@"), m_dir);
    const Run r = run(args);
    QCOMPARE(r.code, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    // Nothing made: no output folder, no file.
    QVERIFY(!QFileInfo::exists(m_dir + QStringLiteral("/out")));
    QVERIFY(!QFileInfo::exists(m_dir + QStringLiteral("/a")));
}

void TestCli::help()
{
    const Run r = run({QStringLiteral("--help")});
    QCOMPARE(r.code, 0);
    QVERIFY(r.out.startsWith("Usage: wavetransmuter-cli --to FORMAT [--out DIR]"));
    QVERIFY(r.out.contains("--dry-run"));
}

void TestCli::versionAndFormatList()
{
    const Run version = run({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QCOMPARE(version.out, QByteArray("wavetransmuter-cli " WT_VERSION "\n"));
    // The completion offers these; they must be the names --help lists for --to.
    const Run formats = run({QStringLiteral("--list-formats")});
    QCOMPARE(formats.code, 0);
    const QStringList names = lines(formats.out);
    QVERIFY(names.contains(QStringLiteral("mp3")));
    const Run help = run({QStringLiteral("--help")});
    QVERIFY2(help.out.contains("--to FORMAT      " + names.join(QLatin1Char('|')).toUtf8() + '\n'),
             help.out.constData());
}

void TestCli::convertsFilesAndFoldersInCommandLineOrder()
{
    const QString src = m_dir + QStringLiteral("/src");
    const QString folder = m_dir + QStringLiteral("/folder");
    QVERIFY(QDir().mkpath(folder));
    const QString first = makeSource(src + QStringLiteral("/first.wav"), 1);
    makeSource(folder + QStringLiteral("/f1.wav"), 1);
    makeSource(folder + QStringLiteral("/f2.wav"), 1);
    writeFile(folder + QStringLiteral("/notes.txt"), "not media");
    const QString last = makeSource(src + QStringLiteral("/last.wav"), 1);
    // The first source carries a tag: its title names the output, and all of it, genre
    // 17 included, goes into the output's tag unchanged.
    TID3v1 tag;
    tag.SetTitle("Tagged \xe9");
    tag.SetArtist("Someone");
    tag.SetAlbum("Album");
    tag.SetYear("1999");
    tag.SetComment("Thirty bytes of comment text!!");
    tag.SetGenreIndex(17);
    QVERIFY(tag.WriteToFile(first));
    const QByteArray sourceTag = readFile(first).right(128);

    const QString out = m_dir + QStringLiteral("/out");
    const Run r = run({QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"), out,
                       first, folder, last});
    QCOMPARE(r.code, 0);
    QVERIFY(QFileInfo(out).isDir()); // made, one level

    QStringList expected;
    expected << tabbed(
        {QStringLiteral("Finish"), first, out + QStringLiteral("/Tagged \u00e9.mp3")});
    for (const QString &f : ScanFolder(folder))
        expected << tabbed(
            {QStringLiteral("Finish"), f,
             out + QLatin1Char('/') + QFileInfo(f).fileName() + QStringLiteral(".mp3")});
    expected << tabbed({QStringLiteral("Finish"), last, out + QStringLiteral("/last.wav.mp3")});
    QCOMPARE(lines(r.out), expected);
    QCOMPARE(readFile(out + QStringLiteral("/Tagged \u00e9.mp3")).right(128), sourceTag);
    const QByteArray untagged = readFile(out + QStringLiteral("/last.wav.mp3")).right(128);
    QCOMPARE(untagged.left(11), QByteArray("TAGlast.wav"));
    QCOMPARE(untagged.at(127), char(255));
}

void TestCli::defaultOutputIsTheSavedFolder()
{
    const QString saved = m_dir + QStringLiteral("/saved");
    const QString settings = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
    QVERIFY(!settings.isEmpty());
    QVERIFY(settings.startsWith(QDir::tempPath()));
    QVERIFY(writeFile(settings, "[operate]\nOutpath=" + QFile::encodeName(saved) + "\n"));
    const QString source = makeSource(m_dir + QStringLiteral("/src/a.wav"), 1);
    const Run r =
        run({QStringLiteral("--to"), QStringLiteral("wav"), QStringLiteral("--rate"),
             QStringLiteral("8000"), QStringLiteral("--channels"), QStringLiteral("1"), source});
    QFile::remove(settings);
    QCOMPARE(r.code, 0);
    QCOMPARE(lines(r.out), QStringList{tabbed({QStringLiteral("Finish"), source,
                                               saved + QStringLiteral("/a.wav.wav")})});
    QVERIFY(QFileInfo(saved + QStringLiteral("/a.wav.wav")).size() > 128);
}

void TestCli::failedRowsGiveExitOne()
{
    const QString out = m_dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(out));
    const QString a = makeSource(m_dir + QStringLiteral("/src/a.wav"), 1);
    // A source in the output folder, titled so that its output would be itself.
    const QString self = makeSource(out + QStringLiteral("/Self.wma"), 1);
    TID3v1 tag;
    tag.SetTitle("Self");
    QVERIFY(tag.WriteToFile(self));
    const QByteArray selfBytes = readFile(self);

    const Run low = run({QStringLiteral("--to"), QStringLiteral("wma"), QStringLiteral("--bitrate"),
                         QStringLiteral("8000"), QStringLiteral("--out"), out, a, self});
    QCOMPARE(low.code, 1);
    QCOMPARE(lines(low.out),
             QStringList({tabbed({QStringLiteral("Failed"), a, out + QStringLiteral("/a.wav.wma")}),
                          tabbed({QStringLiteral("Failed"), self, self})}));
    QVERIFY(low.err.contains("bitrate too low"));
    QVERIFY(low.err.contains("Output would overwrite the source file"));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/a.wav.wma")));
    QCOMPARE(readFile(self), selfBytes);

    const Run good =
        run({QStringLiteral("--to"), QStringLiteral("wma"), QStringLiteral("--out"), out, a});
    QCOMPARE(good.code, 0);
}

void TestCli::missingEncoderFailsEveryRowAtOnce()
{
    const QString a = makeSource(m_dir + QStringLiteral("/src/a.wav"), 1);
    const QString b = makeSource(m_dir + QStringLiteral("/src/b.wav"), 1);
    const QString out = m_dir + QStringLiteral("/out");
    QElapsedTimer timer;
    timer.start();
    const Run r =
        run({QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"), out, a, b},
            {{QStringLiteral("WAVETRANSMUTER_FFMPEG"), m_dir + QStringLiteral("/none")}});
    QVERIFY(timer.elapsed() < 10000);
    QCOMPARE(r.code, 1);
    QCOMPARE(lines(r.out).size(), 2);
    QVERIFY(lines(r.out).at(1).startsWith(QStringLiteral("Failed\t") + b));
    QVERIFY(r.err.contains("Encoder not found"));
}

void TestCli::dryRunConvertsNothingAndFlagsClashes()
{
    const QString out = m_dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(out));
    const QString one = makeSource(m_dir + QStringLiteral("/src/one.wav"), 2);
    const QString two = makeSource(m_dir + QStringLiteral("/src/two.wav"), 1);
    TID3v1 tag;
    tag.SetTitle("Same");
    QVERIFY(tag.WriteToFile(one));
    QVERIFY(tag.WriteToFile(two));
    const QString self = makeSource(out + QStringLiteral("/Self.wav"), 1);
    tag.SetTitle("Self");
    QVERIFY(tag.WriteToFile(self));
    const QString plain = makeSource(m_dir + QStringLiteral("/src/plain.wav"), 1);

    const Run r = run({QStringLiteral("--to"), QStringLiteral("wav"), QStringLiteral("--dry-run"),
                       QStringLiteral("--out"), out, one, two, self, plain});
    QCOMPARE(r.code, 1); // the row that would overwrite its source would fail
    const QString wav2s = EstimateSize(QStringLiteral("00:00:02"), QStringLiteral("1411000"));
    const QString wav1s = EstimateSize(QStringLiteral("00:00:01"), QStringLiteral("1411000"));
    QCOMPARE(
        lines(r.out),
        QStringList(
            {tabbed({QStringLiteral("Same"), QStringLiteral("00:00:02"), wav2s,
                     out + QStringLiteral("/Same.wav"), QStringLiteral("same output as row 2")}),
             tabbed({QStringLiteral("Same"), QStringLiteral("00:00:01"), wav1s,
                     out + QStringLiteral("/Same.wav"), QStringLiteral("same output as row 1")}),
             tabbed({QStringLiteral("Self"), QStringLiteral("00:00:01"), wav1s, self,
                     QStringLiteral("would overwrite the source file")}),
             tabbed({QStringLiteral("plain.wav"), QStringLiteral("00:00:01"), wav1s,
                     out + QStringLiteral("/plain.wav.wav")})}));
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("Self.wav")});

    const Run clean = run({QStringLiteral("--to"), QStringLiteral("mp3"),
                           QStringLiteral("--dry-run"), QStringLiteral("--out"), out, plain});
    QCOMPARE(clean.code, 0);
    QCOMPARE(lines(clean.out).size(), 1);
    QCOMPARE(QDir(out).entryList(QDir::Files), QStringList{QStringLiteral("Self.wav")});
}

void TestCli::progressLineOnlyOnATerminal()
{
    const QString source = makeSource(m_dir + QStringLiteral("/src/long.wav"), 60, 44100);
    const QString out = m_dir + QStringLiteral("/out");
    int master = -1;
    int slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    QProcess p;
    // Standard error is the terminal; standard output stays a pipe.
    p.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    p.start(QStringLiteral(WT_CLI_PROGRAM),
            {QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--rate"),
             QStringLiteral("48000"), QStringLiteral("--out"), out, source});
    QVERIFY(p.waitForStarted());
    ::close(slave);
    QByteArray terminal;
    ::fcntl(master, F_SETFL, O_NONBLOCK);
    QElapsedTimer timer;
    timer.start();
    while (p.state() != QProcess::NotRunning && timer.elapsed() < 30000) {
        p.waitForFinished(20);
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(master, buffer, sizeof buffer)) > 0)
            terminal.append(buffer, n);
    }
    ::close(master);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY2(terminal.contains("\r\x1b[K[1/1] long.wav  "), terminal.constData());
    QVERIFY(terminal.contains("%"));
    QCOMPARE(lines(p.readAllStandardOutput()).size(), 1);

    // Not a terminal: no progress line.
    const Run piped =
        run({QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"), out, source});
    QCOMPARE(piped.code, 0);
    QVERIFY(!piped.err.contains('%'));
}

void TestCli::signalStopsLikeStop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("wholeGroup");
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    // Ctrl+C reaches the terminal's whole process group; the encoder is not in it.
    QTest::newRow("SIGINT to the process group") << int(SIGINT) << true;
}

void TestCli::signalStopsLikeStop()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, wholeGroup);
    const QString source = makeSource(m_dir + QStringLiteral("/src/long.wav"), 90, 44100);
    const QString after = makeSource(m_dir + QStringLiteral("/src/after.wav"), 1);
    const QString out = m_dir + QStringLiteral("/out");
    const QString output = out + QStringLiteral("/long.wav.mp3");
    QProcess p;
    p.setChildProcessModifier([] { ::setpgid(0, 0); });
    p.start(QStringLiteral(WT_CLI_PROGRAM),
            {QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--rate"),
             QStringLiteral("48000"), QStringLiteral("--out"), out, source, after});
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(output).size() > 0, 20000);
    const pid_t pid = pid_t(p.processId());
    QCOMPARE(::kill(wholeGroup ? -pid : pid, signalNumber), 0);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    QCOMPARE(lines(p.readAllStandardOutput()),
             QStringList{tabbed({QStringLiteral("Stopped"), source, output})});
    QVERIFY(!QFileInfo::exists(output));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/after.wav.mp3")));
    QVERIFY(QFileInfo(source).size() > 1000000);
}

WT_SAFE_TEST_MAIN(TestCli)

#include "tst_cli.moc"
