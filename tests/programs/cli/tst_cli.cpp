#include "common/testcommon.h"
#include "common/testguard.h"

#include "core/base/sizeestimate.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QProcess>
#include <QScopeGuard>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <csignal>
#include <filesystem>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct Run
{
    int code = -1;
    QByteArray out;
    QByteArray err;
};

QStringList lines(const QByteArray &text)
{
    return QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString tabbed(const QStringList &fields)
{
    return fields.join(QLatin1Char('\t'));
}

// The fourth field of each dry-run line: the output path; then the flags after it.
QStringList dryRunPaths(const QByteArray &out, QStringList *flags = nullptr)
{
    QStringList paths;
    for (const QString &line : lines(out)) {
        const QStringList f = line.split(QLatin1Char('\t'));
        paths << f.value(3);
        if (flags)
            *flags << QStringList(f.mid(4)).join(QLatin1Char('|'));
    }
    return paths;
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
    void dryRunConvertsNothingAndFlagsClashes();
    void namingPattern_data();
    void namingPattern();
    void existingOutputs_data();
    void existingOutputs();
    void reportLines();
    void reproductions_data();
    void reproductions();
    void severalAtOnceWithTheRealEncoder();
    void progressLineOnlyOnATerminal();
    void signalStopsLikeStop_data();
    void signalStopsLikeStop();
    void closedOutputStopsTheBatch();
    void reportNeverReplacesTheRunsFiles_data();
    void reportNeverReplacesTheRunsFiles();
    void reportFifoWaitsForItsReader_data();
    void reportFifoWaitsForItsReader();
    void eachFileOnce_data();
    void eachFileOnce();
    void unreachableFilesAreNamed_data();
    void unreachableFilesAreNamed();
    void rawFolderArgumentKeepsItsFolders();
    void shardsAgreeWhereverTheLibraryIs();
    void fourShardsAtOnceIntoOneFolder();

private:
    Run run(const QStringList &args, const QMap<QString, QString> &env = {},
            const QString &cwd = QString(), qint64 fileSizeLimit = 0) const;
    QStringList prepare(const QString &kind, QMap<QString, QString> &env, QString &cwd,
                        qint64 &fileSizeLimit);
    QString makeSource(const QString &path, double seconds, int rate = 22050);
    // A stand-in source for the fake encoder, with an ID3v1 tag of title, artist, album and
    // year when `fields` are given.
    QString taggedSource(const QString &path, const QByteArrayList &fields = {}, int genre = 255,
                         int track = 0);
    // "--to FORMAT --out <the test's output folder>", then `more`.
    QStringList to(const QString &format, const QStringList &more = {}) const
    {
        return QStringList{QStringLiteral("--to"), format, QStringLiteral("--out"), m_out} + more;
    }

    QTemporaryDir m_tmp;
    QString m_ffmpeg;
    QString m_dir;
    QString m_out; // the test's output folder, not made yet
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
    m_out = m_dir + QStringLiteral("/out");
    QVERIFY(QDir().mkpath(m_dir + QStringLiteral("/src")));
}

Run TestCli::run(const QStringList &args, const QMap<QString, QString> &env, const QString &cwd,
                 qint64 fileSizeLimit) const
{
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    // As from a shell: SIGXFSZ at its default until the program itself sets it.
    p.setChildProcessModifier([fileSizeLimit] {
        std::signal(SIGXFSZ, SIG_DFL);
        if (fileSizeLimit > 0) {
            const rlimit limit = {rlim_t(fileSizeLimit), rlim_t(fileSizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
    if (args.value(0) == QLatin1String("-sh-")) // -sh- SCRIPT ARGS...: $0 is the program
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"), args.at(1), QStringLiteral(WT_CLI_PROGRAM)} +
                    args.mid(2));
    else
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
    makeSine(path, seconds, rate, 1);
    return path;
}

QString TestCli::taggedSource(const QString &path, const QByteArrayList &fields, int genre,
                              int track)
{
    QDir().mkpath(QFileInfo(path).path());
    writeFile(path, QByteArray(4096, 'S'));
    if (!fields.isEmpty()) {
        TID3v1 tag;
        tag.SetTitle(fields.value(0));
        tag.SetArtist(fields.value(1));
        tag.SetAlbum(fields.value(2));
        tag.SetYear(fields.value(3));
        tag.SetGenreIndex(quint8(genre));
        tag.Track = quint8(track);
        tag.WriteToFile(path);
    }
    return path;
}

void TestCli::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");

    QTest::newRow("nothing") << QStringList() << QStringLiteral("--to FORMAT is required");
    QTest::newRow("unknown format")
        << QStringList{QStringLiteral("--to"), QStringLiteral("ape"), QStringLiteral("x")}
        << QStringLiteral(
               "--to ape is not a format; allowed values: mp3, wav, wma, aac, rm, flac, ogg, "
               "opus, m4a");
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
    for (const char *jobs : {"0", "65", "two", "2x", "-1"})
        QTest::newRow(qPrintable(QStringLiteral("--jobs %1").arg(QLatin1String(jobs))))
            << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--jobs"),
                           QString::fromLatin1(jobs), QStringLiteral("x")}
            << QStringLiteral("--jobs %1 is not allowed; give a whole number from 1 to 64")
                   .arg(QLatin1String(jobs));
    QTest::newRow("path that does not exist")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                       QStringLiteral("@DIR@/out"), QStringLiteral("@DIR@/missing.wav")}
        << QStringLiteral("no such file or folder: @DIR@/missing.wav");
    QTest::newRow("pattern leaving the output folder")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--pattern"),
                       QStringLiteral("{artist}/../{title}"), QStringLiteral("x")}
        << QStringLiteral("--pattern {artist}/../{title}: A folder of the pattern is \"..\"");
    QTest::newRow("unknown field")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--pattern"),
                       QStringLiteral("{composer}"), QStringLiteral("x")}
        << QStringLiteral("Unknown field {composer}");
    QTest::newRow("existing: unknown mode")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--existing"),
                       QStringLiteral("keep"), QStringLiteral("x")}
        << QStringLiteral("--existing keep is not allowed; allowed values: replace, skip, number");
    QTest::newRow("report in a folder that is not there")
        << QStringList{QStringLiteral("--to"),     QStringLiteral("mp3"),
                       QStringLiteral("--report"), QStringLiteral("@DIR@/a/r.jsonl"),
                       QStringLiteral("--out"),    QStringLiteral("@DIR@/out"),
                       QStringLiteral("@DIR@/src")}
        << QStringLiteral("cannot write the report @DIR@/a/r.jsonl: No such file or directory");
    QTest::newRow("output folder is a file")
        << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                       QStringLiteral("@DIR@/file"), QStringLiteral("@DIR@/src")}
        << QStringLiteral("output folder @DIR@/file is a file, not a folder");
    for (const char *shard : {"0/4", "5/4", "1/0", "1", "a/b", "1/4/4", "-1/4"})
        QTest::newRow(qPrintable(QStringLiteral("--shard %1").arg(QLatin1String(shard))))
            << QStringList{QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--shard"),
                           QString::fromLatin1(shard), QStringLiteral("x")}
            << QStringLiteral("--shard %1 is not allowed; give K/N, part K of N, with K from 1 "
                              "to N")
                   .arg(QLatin1String(shard));
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
    QVERIFY(writeFile(m_dir + QStringLiteral("/file"), "not a folder"));
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
    QVERIFY(r.out.contains("--jobs N"));
    QVERIFY(r.out.contains("--keep-order"));
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

    const QString &out = m_out;
    const Run r =
        run(to(QStringLiteral("mp3"), {QStringLiteral("--keep-order"), first, folder, last}));
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
    const QString &out = m_out;
    QVERIFY(QDir().mkpath(out));
    const QString a = makeSource(m_dir + QStringLiteral("/src/a.wav"), 1);
    // A source in the output folder, titled so that its output would be itself.
    const QString self = makeSource(out + QStringLiteral("/Self.wma"), 1);
    TID3v1 tag;
    tag.SetTitle("Self");
    QVERIFY(tag.WriteToFile(self));
    const QByteArray selfBytes = readFile(self);

    const Run low =
        run(to(QStringLiteral("wma"), {QStringLiteral("--bitrate"), QStringLiteral("8000"),
                                       QStringLiteral("--keep-order"), a, self}));
    QCOMPARE(low.code, 1);
    QCOMPARE(lines(low.out),
             QStringList({tabbed({QStringLiteral("Failed"), a, out + QStringLiteral("/a.wav.wma")}),
                          tabbed({QStringLiteral("Failed"), self, self})}));
    QVERIFY(low.err.contains("WMA needs a bitrate of at least 24 Kbps"));
    QVERIFY(low.err.contains("Output would overwrite the source file"));
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/a.wav.wma")));
    QCOMPARE(readFile(self), selfBytes);

    const Run good = run(to(QStringLiteral("wma"), {a}));
    QCOMPARE(good.code, 0);
}

void TestCli::dryRunConvertsNothingAndFlagsClashes()
{
    const QString &out = m_out;
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
    // A row titled after another row's source, and an output that exists already.
    const QString theirs = makeSource(m_dir + QStringLiteral("/src/theirs.wav"), 1);
    tag.SetTitle("plain");
    QVERIFY(tag.WriteToFile(theirs));
    QVERIFY(writeFile(out + QStringLiteral("/plain.wav.wav"), "an earlier output"));

    const Run r =
        run({QStringLiteral("--to"), QStringLiteral("wav"), QStringLiteral("--dry-run"),
             QStringLiteral("--out"), m_dir + QStringLiteral("/src"), one, two, plain, theirs});
    QCOMPARE(r.code, 1); // the row that would overwrite a source would fail
    const Run r2 = run(to(QStringLiteral("wav"), {QStringLiteral("--dry-run"), self, plain}));
    QCOMPARE(r2.code, 1);
    // 16-bit stereo at 44100 Hz.
    const QString wav2s = EstimateSize(QStringLiteral("00:00:02"), QStringLiteral("1411200"));
    const QString wav1s = EstimateSize(QStringLiteral("00:00:01"), QStringLiteral("1411200"));
    const QString src = m_dir + QStringLiteral("/src");
    QCOMPARE(
        lines(r.out),
        QStringList(
            {tabbed({QStringLiteral("Same"), QStringLiteral("00:00:02"), wav2s,
                     src + QStringLiteral("/Same.wav"), QStringLiteral("same output as row 2")}),
             tabbed({QStringLiteral("Same"), QStringLiteral("00:00:01"), wav1s,
                     src + QStringLiteral("/Same.wav"), QStringLiteral("same output as row 1")}),
             tabbed({QStringLiteral("plain.wav"), QStringLiteral("00:00:01"), wav1s,
                     src + QStringLiteral("/plain.wav.wav")}),
             tabbed(
                 {QStringLiteral("plain"), QStringLiteral("00:00:01"), wav1s, plain,
                  QStringLiteral("Output would overwrite the source of another row: ") + plain})}));
    QCOMPARE(lines(r2.out),
             QStringList({tabbed({QStringLiteral("Self"), QStringLiteral("00:00:01"), wav1s, self,
                                  QStringLiteral("Output would overwrite the source file")}),
                          tabbed({QStringLiteral("plain.wav"), QStringLiteral("00:00:01"), wav1s,
                                  out + QStringLiteral("/plain.wav.wav"),
                                  QStringLiteral("replaces an existing file")})}));
    QCOMPARE(QDir(out).entryList(QDir::Files, QDir::Name | QDir::IgnoreCase),
             QStringList({QStringLiteral("plain.wav.wav"), QStringLiteral("Self.wav")}));

    const Run clean = run(to(QStringLiteral("mp3"), {QStringLiteral("--dry-run"), plain}));
    QCOMPARE(clean.code, 0);
    QCOMPARE(lines(clean.out).size(), 1);
    // A profile the format refuses is flagged as the run would refuse it.
    const Run refused = run(to(QStringLiteral("opus"), {QStringLiteral("--dry-run"), plain}));
    QCOMPARE(refused.code, 1);
    QVERIFY2(refused.out.endsWith("\tOpus takes only 8000, 12000, 16000, 24000 or 48000 Hz\n"),
             refused.out.constData());
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name | QDir::IgnoreCase),
             QStringList({QStringLiteral("plain.wav.wav"), QStringLiteral("Self.wav")}));
}

// Each name the dry run shows is the name the run writes; fields and folders as a person
// would expect them in a music collection, and no tag can leave the output folder.
void TestCli::namingPattern_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArrayList>("tag"); // title, artist, album, year; none: untagged
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("source");   // below src/, the PATH given
    QTest::addColumn<QString>("expected"); // below the output folder
    auto row = [](const char *name, const QString &pattern, const QByteArrayList &tag, int track,
                  const char *source, const char *expected, const QStringList &more = {}) {
        QStringList options = more;
        if (!pattern.isEmpty())
            options << QStringLiteral("--pattern") << pattern;
        QTest::newRow(name) << options << tag << track << QString::fromUtf8(source)
                            << QString::fromUtf8(expected);
    };
    const QByteArrayList full = {"Song", "Artist", "Album", "1999"};
    row("no pattern is the title", {}, full, 0, "a.wav", "Song.mp3");
    row("no tag is the file name", {}, {}, 0, "a.wav", "a.wav.mp3");
    row("folders from fields", u"{artist}/{album}/{title}"_qs, full, 0, "a.wav",
        "Artist/Album/Song.mp3");
    row("track and year", u"{year} - {track} {title}"_qs, full, 7, "a.wav", "1999 - 07 Song.mp3");
    row("empty fields", u"{artist}/{album}/{year} {genre} {track} {title}"_qs, {}, 0, "a.wav",
        "Unknown Artist/Unknown Album/Unknown Year Unknown Genre Unknown Track a.wav.mp3");
    row("file name without its extension", u"{filename}"_qs, full, 0, "my.song.wav", "my.song.mp3");
    row("a slash in a field makes no folder", u"{artist}/{album}/{title}"_qs,
        {"Song", "AC/DC", "..", "1999"}, 0, "a.wav", "AC_DC/Unknown Album/Song.mp3");
    row("control characters", u"{artist}/{title}"_qs, {"So\nng", "A\tB", "", ""}, 0, "a.wav",
        "A_B/So_ng.mp3");
    row("a recursive add keeps its folders", {}, full, 0, "Album/deep/a.wav", "Album/deep/Song.mp3",
        {u"--recursive"_qs, u"--keep-folders"_qs});
    row("empty folders of the pattern are dropped", u"/{artist}//{title}/"_qs, full, 0, "a.wav",
        "Artist/Song.mp3");
}

void TestCli::namingPattern()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArrayList, tag);
    QFETCH(int, track);
    QFETCH(QString, source);
    QFETCH(QString, expected);
    const QString src = m_dir + QStringLiteral("/src");
    const QString &out = m_out;
    const QString path = taggedSource(src + u'/' + source, tag, 255, track);
    const QMap<QString, QString> fake = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}};
    const QStringList args = to(u"mp3"_qs) + options + QStringList{src};

    const Run dry = run(args + QStringList{u"--dry-run"_qs}, fake);
    QCOMPARE(dry.code, 0);
    QCOMPARE(dryRunPaths(dry.out), QStringList{out + u'/' + expected});
    const Run real = run(args, fake);
    QCOMPARE(real.code, 0);
    QCOMPARE(lines(real.out), QStringList{tabbed({u"Finish"_qs, path, out + u'/' + expected})});
    QCOMPARE(readFile(out + u'/' + expected).size(), 1024 + 128);
}

// What each mode does with an output already there and with two rows of one name; the dry
// run says the same beforehand.
void TestCli::existingOutputs_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("earlier");           // Song.mp3 is there before the run
    QTest::addColumn<QByteArray>("secondTitle"); // the first row is titled "Song"
    QTest::addColumn<QStringList>("expected");   // status and output name of each row
    auto row = [](const char *name, const char *mode, bool earlier, const char *second,
                  const QStringList &expected) {
        QTest::newRow(name) << QString::fromLatin1(mode) << earlier << QByteArray(second)
                            << expected;
    };
    row("replace an earlier output", "replace", true, "Other",
        {u"Finish Song.mp3"_qs, u"Finish Other.mp3"_qs});
    row("replace: the later row wins", "replace", false, "Song",
        {u"Finish Song.mp3"_qs, u"Finish Song.mp3"_qs});
    row("skip what is there", "skip", true, "Other",
        {u"Skipped Song.mp3"_qs, u"Finish Other.mp3"_qs});
    row("skip the later row of one name", "skip", false, "Song",
        {u"Finish Song.mp3"_qs, u"Skipped Song.mp3"_qs});
    row("number past what is there", "number", true, "Song",
        {u"Finish Song (2).mp3"_qs, u"Finish Song (3).mp3"_qs});
    row("number the later row of one name", "number", false, "Song",
        {u"Finish Song.mp3"_qs, u"Finish Song (2).mp3"_qs});
}

void TestCli::existingOutputs()
{
    QFETCH(QString, mode);
    QFETCH(bool, earlier);
    QFETCH(QByteArray, secondTitle);
    QFETCH(QStringList, expected);
    const QString &out = m_out;
    QVERIFY(QDir().mkpath(out));
    const QString one = taggedSource(m_dir + QStringLiteral("/src/one.wav"), {"Song"});
    const QString two = taggedSource(m_dir + QStringLiteral("/src/two.wav"), {secondTitle});
    if (earlier)
        QVERIFY(writeFile(out + QStringLiteral("/Song.mp3"), "an earlier output"));
    const QString argsLog = m_dir + QStringLiteral("/args.log");
    const QMap<QString, QString> fake = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()},
                                         {u"FAKE_ARGS_LOG"_qs, argsLog}};
    // Lines in list order, though the rows may end in another.
    const QStringList args = to(u"mp3"_qs, {u"--existing"_qs, mode, u"--keep-order"_qs, one, two});

    QStringList flags;
    const QStringList planned =
        dryRunPaths(run(args + QStringList{u"--dry-run"_qs}, fake).out, &flags);
    const Run r = run(args, fake);
    QCOMPARE(r.code, 0);
    QStringList seen;
    const QStringList sources = {one, two};
    const QStringList got = lines(r.out);
    QCOMPARE(got.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QStringList f = got.at(i).split(u'\t');
        QCOMPARE(f.value(1), sources.at(i));
        seen << f.value(0) + u' ' + QFileInfo(f.value(2)).fileName();
        QCOMPARE(planned.value(i), f.value(2));
        QCOMPARE(flags.value(i).contains(u"skipped: "_qs), f.value(0) == u"Skipped"_qs);
    }
    QCOMPARE(seen, expected);
    if (earlier)
        QCOMPARE(readFile(out + QStringLiteral("/Song.mp3")) == "an earlier output",
                 mode != u"replace"_qs);

    // Run again: "skip" converts nothing more, so an interrupted batch resumes where it was.
    if (mode == u"skip"_qs) {
        QFile::remove(argsLog);
        const Run again = run(args, fake);
        QCOMPARE(again.code, 0);
        for (const QString &line : lines(again.out))
            QVERIFY2(line.startsWith(u"Skipped\t"_qs), qPrintable(line));
        for (const QString &line : lines(QString::fromUtf8(readFile(argsLog)).toUtf8()))
            QVERIFY2(!line.startsWith(u"-y "_qs), qPrintable(line)); // probes only
    }
}

// One JSON object per row as the row ends, written through at once: another program can read
// each line while the batch still runs, and an interrupted run leaves a whole report.
void TestCli::reportLines()
{
    const QString shortOne = makeSource(m_dir + QStringLiteral("/src/short.wav"), 1);
    const QString longOne = makeSource(m_dir + QStringLiteral("/src/long.wav"), 90, 44100);
    const QString &out = m_out;
    const QString report = m_dir + QStringLiteral("/report.jsonl");
    auto parsed = [](const QByteArray &text) {
        QList<QJsonObject> objects;
        for (const QByteArray &line : text.split('\n')) {
            if (line.isEmpty())
                continue;
            QJsonParseError error;
            objects << QJsonDocument::fromJson(line, &error).object();
            if (error.error != QJsonParseError::NoError)
                qWarning("not JSON: %s", line.constData());
        }
        return objects;
    };
    QProcess p;
    p.start(QStringLiteral(WT_CLI_PROGRAM),
            to(u"mp3"_qs, {u"--rate"_qs, u"48000"_qs, u"--report"_qs, report, shortOne, longOne}));
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readFile(report).endsWith('\n'), 20000);
    QCOMPARE(p.state(), QProcess::Running);
    const QList<QJsonObject> first = parsed(readFile(report));
    QCOMPARE(first.size(), 1);
    const QJsonObject done = first.first();
    QCOMPARE(done.keys(), QStringList({u"duration"_qs, u"format"_qs, u"not_kept"_qs, u"output"_qs,
                                       u"output_bytes"_qs, u"profile"_qs, u"reason"_qs,
                                       u"seconds_taken"_qs, u"source"_qs, u"status"_qs}));
    QCOMPARE(done.value(u"not_kept"_qs), QJsonValue(QJsonArray()));
    QCOMPARE(done.value(u"source"_qs).toString(), shortOne);
    QCOMPARE(done.value(u"output"_qs).toString(), out + QStringLiteral("/short.wav.mp3"));
    QCOMPARE(done.value(u"status"_qs).toString(), u"Finish"_qs);
    QVERIFY(done.value(u"reason"_qs).isNull());
    QCOMPARE(done.value(u"duration"_qs).toInt(), 1);
    QCOMPARE(done.value(u"output_bytes"_qs).toInteger(),
             QFileInfo(out + QStringLiteral("/short.wav.mp3")).size());
    QVERIFY(done.value(u"seconds_taken"_qs).toDouble() > 0);
    QCOMPARE(done.value(u"format"_qs).toString(), u"mp3"_qs);
    QCOMPARE(
        done.value(u"profile"_qs).toObject(),
        QJsonObject({{u"sample_rate"_qs, 48000}, {u"bitrate"_qs, 128000}, {u"channels"_qs, 2}}));
    // Stopped once the long file's encoder is well under way: it has told its duration
    // (ffmpeg does before it writes any audio), which the report then carries.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QStringList work = workFilesIn(out);
            return !work.isEmpty() && QFileInfo(out + u'/' + work.first()).size() > 65536;
        }(),
        20000);
    ::kill(pid_t(p.processId()), SIGTERM);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitCode(), 130);
    QCOMPARE(lines(p.readAllStandardOutput()).size(), 2); // the status lines go on as before
    const QList<QJsonObject> all = parsed(readFile(report));
    QCOMPARE(all.size(), 2);
    QCOMPARE(all.at(1).value(u"status"_qs).toString(), u"Stopped"_qs);
    QVERIFY(all.at(1).value(u"output_bytes"_qs).isNull());
    QVERIFY(all.at(1).value(u"not_kept"_qs).isNull());
    QCOMPARE(all.at(1).value(u"duration"_qs).toInt(), 90);

    // "-": the report instead of the status lines, a skipped row's output as it is.
    const Run again = run(to(u"mp3"_qs, {u"--rate"_qs, u"48000"_qs, u"--existing"_qs, u"skip"_qs,
                                         u"--report"_qs, u"-"_qs, shortOne}));
    QCOMPARE(again.code, 0);
    const QList<QJsonObject> skipped = parsed(again.out);
    QCOMPARE(skipped.size(), 1);
    QCOMPARE(skipped.first().value(u"status"_qs).toString(), u"Skipped"_qs);
    QCOMPARE(skipped.first().value(u"reason"_qs).toString(), u"The output exists already"_qs);
    QCOMPARE(skipped.first().value(u"output_bytes"_qs), done.value(u"output_bytes"_qs));
    QVERIFY(skipped.first().value(u"not_kept"_qs).isNull());
}

// Each of the faults once found by trying the program on real folders, run again through
// the program: every source and every earlier good output keeps its bytes (SHA-256 of
// everything under the test's folder), only the listed paths change, and each row's status
// line tells the truth.
void TestCli::reproductions_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArrayList>("expected"); // stdout; @D@ the test's folder, @H@ home
    QTest::addColumn<QStringList>("errHas");
    QTest::addColumn<QStringList>("changes"); // what may appear or change under @D@
    auto row = [](const char *name, const char *kind, int exitCode, const QByteArrayList &expected,
                  const QStringList &errHas = {}, const QStringList &changes = {}) {
        QTest::newRow(name) << QString::fromLatin1(kind) << exitCode << expected << errHas
                            << changes;
    };
    const QString clash = QStringLiteral("Output would overwrite the source of another row: ");
    row("a failed re-run keeps the earlier outputs", "rerun", 1,
        {"Failed\t@D@/src/a.wav\t@D@/out/a.wav.wma", "Failed\t@D@/src/b.wav\t@D@/out/b.wav.wma"},
        {QStringLiteral("WMA needs a bitrate of at least 24 Kbps")});
    row("exit 0 without writing is no Finish", "nowrite", 1,
        {"Failed\t@D@/src/a.wav\t@D@/out/a.wav.mp3"});
    row("a full disk that ffmpeg exits 0 on", "diskfull", 1,
        {"Failed\t@D@/src/a.wav\t@D@/out/a.wav.mp3"},
        {QStringLiteral(
            "Error writing trailer of /tmp/wt10m/full/out.mp3: No space left on device")});
    row("a killed encoder", "killed", 1, {"Failed\t@D@/src/a.wav\t@D@/out/a.wav.mp3"},
        {QStringLiteral("Encoder crashed (signal 9, SIGKILL)")});
    row("output is another row's source", "clash", 1,
        {"Failed\t@D@/src/a.wav\t@D@/src/b.mp3", "Finish\t@D@/src/b.mp3\t@D@/src/b.mp3.mp3"},
        {clash + QStringLiteral("@D@/src/b.mp3")}, {QStringLiteral("@D@/src/b.mp3.mp3")});
    row("output is another row's source, failing anyway", "clash-wma", 1,
        {"Failed\t@D@/src/a.wav\t@D@/src/b.wma", "Failed\t@D@/src/b.wma\t@D@/src/b.wma.wma"},
        {clash + QStringLiteral("@D@/src/b.wma"),
         QStringLiteral("WMA needs a bitrate of at least 24 Kbps")});
    row("a tag append past the file-size limit", "sizelimit", 0,
        {"Finish\t@D@/src/a.wav\t@D@/out/a.wav.mp3", "Finish\t@D@/src/b.wav\t@D@/out/b.wav.mp3"},
        {QStringLiteral("Tag not written")},
        {QStringLiteral("@D@/out/a.wav.mp3"), QStringLiteral("@D@/out/b.wav.mp3")});
    row("a relative Outpath is below home", "relative", 0,
        {"Finish\t@D@/src/a.wav\t@H@/relout/a.wav.mp3"});
    row("a FIFO at the output path", "fifo", 1, {"Failed\t@D@/src/a.wav\t@D@/out/a.wav.mp3"},
        {QStringLiteral("The output path is a FIFO")});
    row("a link at the output path is replaced", "link", 0,
        {"Finish\t@D@/src/a.wav\t@D@/out/a.wav.mp3"}, {}, {QStringLiteral("@D@/out/a.wav.mp3")});
    row("names that are not UTF-8", "latin1", 0,
        {"Finish\t@D@/src/caf\xe9.wav\t@D@/out/caf\xc3\xa9.wav.mp3",
         "Finish\t@D@/old/na\xefve.wav\t@D@/out/na\xc3\xafve.wav.mp3"},
        {},
        {QStringLiteral("@D@/out/caf\u00e9.wav.mp3"),
         QStringLiteral("@D@/out/na\u00efve.wav.mp3")});
    row("control characters in names", "control", 0,
        {"Finish\t@D@/src/back\\\\slash\\tname.wav\t@D@/out/foo_bar_baz.mp3",
         "Finish\t@D@/src/new\\nline.wav\t@D@/out/new_line.wav.mp3"},
        {},
        {QStringLiteral("@D@/out/foo_bar_baz.mp3"), QStringLiteral("@D@/out/new_line.wav.mp3")});
    row("the Time column from ffmpeg's own line", "times", 0,
        {"Duration: live.wav\t00:00:01\t0.01MB\t@D@/new/Duration: live.wav.mp3",
         "live.mkv\t\t0MB\t@D@/new/live.mkv.mp3",
         "long.wav\t101:00:00\t5548.09MB\t@D@/new/long.wav.mp3"},
        {QStringLiteral("output folder @D@/new does not exist; it would be created")});
    for (const char *kind : {"noencoder", "noencoder-dry"})
        row(kind, kind, 2, {},
            {QStringLiteral("The encoder @D@/none does not exist"),
             QStringLiteral("sudo apt install ffmpeg")});
    row("a settings file of more than 1 MiB", "hugesettings", 2, {},
        {QStringLiteral("is larger than 1 MiB and was not read")});
    row("the fuller tag wins over the ID3v1 block", "id3v2", 0,
        {"Finish\t@D@/src/tagged.mp3\t@D@/out/V2 Title.mp3"}, {},
        {QStringLiteral("@D@/out/V2 Title.mp3")});
}

QStringList TestCli::prepare(const QString &kind, QMap<QString, QString> &env, QString &cwd,
                             qint64 &fileSizeLimit)
{
    const QString src = m_dir + QStringLiteral("/src");
    const QString &out = m_out;
    QDir().mkpath(out);
    const QStringList mp3 = to(QStringLiteral("mp3"));
    const QString a = makeSource(src + QStringLiteral("/a.wav"), 1);
    const QString earlier = out + QStringLiteral("/a.wav.mp3");
    TID3v1 tag;
    auto fake = [&](const char *knob, const char *value) {
        env.insert(QStringLiteral("WAVETRANSMUTER_FFMPEG"), FakeEncoder::path());
        env.insert(QString::fromLatin1(knob), QString::fromLatin1(value));
    };
    if (kind == QLatin1String("rerun")) {
        const QString b = makeSource(src + QStringLiteral("/b.wav"), 2);
        const QStringList wma = to(QStringLiteral("wma"), {a, b});
        if (run(wma + QStringList{QStringLiteral("--bitrate"), QStringLiteral("64000")}).code != 0)
            qWarning("the first, good run failed");
        return wma + QStringList{QStringLiteral("--bitrate"), QStringLiteral("8000")};
    }
    if (kind == QLatin1String("nowrite") || kind == QLatin1String("diskfull") ||
        kind == QLatin1String("killed")) {
        writeFile(earlier, "an earlier run's output");
        if (kind == QLatin1String("nowrite"))
            fake("FAKE_OUTPUT_BYTES", "-1");
        else if (kind == QLatin1String("diskfull"))
            fake("FAKE_TRANSCRIPT", WT_TEST_DATA_DIR "/ffmpeg51-disk-full.txt");
        else
            fake("FAKE_MODE", "crash");
        return mp3 + QStringList{a};
    }
    if (kind == QLatin1String("clash") || kind == QLatin1String("clash-wma")) {
        tag.SetTitle("b");
        tag.WriteToFile(a);
        const bool wma = kind == QLatin1String("clash-wma");
        const QString b =
            makeSource(src + (wma ? QStringLiteral("/b.wma") : QStringLiteral("/b.mp3")), 2);
        QStringList args = {QStringLiteral("--to"),
                            wma ? QStringLiteral("wma") : QStringLiteral("mp3"),
                            QStringLiteral("--out"),
                            src,
                            a,
                            b};
        if (wma)
            args << QStringLiteral("--bitrate") << QStringLiteral("8000");
        return args;
    }
    if (kind == QLatin1String("sizelimit")) {
        // The encoder's output just fits; the 128 bytes of the tag do not.
        fake("FAKE_OUTPUT_BYTES", "4096");
        fileSizeLimit = 4096;
        return mp3 + QStringList{a, makeSource(src + QStringLiteral("/b.wav"), 1)};
    }
    if (kind == QLatin1String("relative") || kind == QLatin1String("hugesettings")) {
        const QString settings = qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE");
        if (kind == QLatin1String("relative")) {
            // The program's and the encoder's working folders each hold a "relout" of their own.
            cwd = m_dir + QStringLiteral("/cwd");
            QDir().mkpath(cwd + QStringLiteral("/relout"));
            writeFile(cwd + QStringLiteral("/relout/a.wav.mp3"), QByteArray(600, 'x'));
            writeFile(settings, "[operate]\nOutpath=relout\n");
        } else {
            writeFile(settings, "[operate]\nOutpath=/x\n;" + QByteArray(1024 * 1024, ','));
        }
        return {QStringLiteral("--to"), QStringLiteral("mp3"), a};
    }
    if (kind == QLatin1String("fifo")) {
        ::mkfifo(QFile::encodeName(earlier).constData(), 0600);
        return mp3 + QStringList{a};
    }
    if (kind == QLatin1String("link")) {
        writeFile(m_dir + QStringLiteral("/elsewhere.mp3"), "not to be written through");
        QFile::link(m_dir + QStringLiteral("/elsewhere.mp3"), earlier);
        return mp3 + QStringList{a};
    }
    if (kind == QLatin1String("latin1")) {
        // Raw names can only be made and passed as bytes: through the shell.
        QDir().mkpath(m_dir + QStringLiteral("/old"));
        QDir().mkpath(m_dir + QStringLiteral("/tmp"));
        const QByteArray wav = readFile(a);
        QFile::remove(a);
        for (const QByteArray &name : {QFile::encodeName(src) + "/caf\xe9.wav",
                                       QFile::encodeName(m_dir) + "/old/na\xefve.wav"}) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            if (fd < 0 || ::write(fd, wav.constData(), size_t(wav.size())) != wav.size())
                qWarning("cannot make %s", name.constData());
            ::close(fd);
        }
        // The links that reach them live in a private folder of the program, removed at its end.
        env.insert(QStringLiteral("TMPDIR"), m_dir + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("RAW"), src + QStringLiteral("/caf\\0351.wav"));
        return {QStringLiteral("-sh-"),
                QStringLiteral("exec \"$0\" --keep-order --to mp3 --out \"$1\" "
                               "\"$(printf '%b' \"$RAW\")\" \"$2\""),
                out, m_dir + QStringLiteral("/old")};
    }
    if (kind == QLatin1String("control")) {
        const QString odd = src + QStringLiteral("/back\\slash\tname.wav");
        QFile::rename(a, odd);
        tag.SetTitle("foo\nbar\tbaz");
        tag.WriteToFile(odd);
        return mp3 + QStringList{odd, makeSource(src + QStringLiteral("/new\nline.wav"), 1)};
    }
    if (kind == QLatin1String("times")) {
        QFile::rename(a, src + QStringLiteral("/Duration: live.wav"));
        // Of unknown length: Matroska written to a pipe carries no duration.
        QProcess live;
        live.setStandardOutputFile(src + QStringLiteral("/live.mkv"));
        live.start(ffmpegPath(),
                   {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"),
                    QStringLiteral("lavfi"), QStringLiteral("-i"),
                    QStringLiteral("sine=duration=1"), QStringLiteral("-f"),
                    QStringLiteral("matroska"), QStringLiteral("pipe:1")});
        live.waitForFinished();
        // 101 hours of 8000 Hz 8-bit mono: a sparse file, kept out of the snapshot.
        const QString sparse = m_tmp.filePath(QStringLiteral("sparse"));
        QDir().mkpath(sparse);
        const QString longWav = sparse + QStringLiteral("/long.wav");
        const quint32 data = 8000u * 3600u * 101u;
        QByteArray header(
            "RIFF....WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x40\x1f\0\0\x01\0\x08\0data....",
            44);
        auto put = [&header](int at, quint32 v) {
            for (int i = 0; i < 4; ++i)
                header[at + i] = char((v >> (8 * i)) & 0xff);
        };
        put(4, data + 36);
        put(40, data);
        writeFile(longWav, header);
        QFile::resize(longWav, 44 + qint64(data));
        return {QStringLiteral("--to"),
                QStringLiteral("mp3"),
                QStringLiteral("--dry-run"),
                QStringLiteral("--out"),
                m_dir + QStringLiteral("/new"),
                src + QStringLiteral("/Duration: live.wav"),
                src + QStringLiteral("/live.mkv"),
                longWav};
    }
    if (kind.startsWith(QLatin1String("noencoder"))) {
        env.insert(QStringLiteral("WAVETRANSMUTER_FFMPEG"), m_dir + QStringLiteral("/none"));
        QStringList args = {QStringLiteral("--to"), QStringLiteral("mp3"), QStringLiteral("--out"),
                            m_dir + QStringLiteral("/new"), a};
        if (kind.endsWith(QLatin1String("dry")))
            args << QStringLiteral("--dry-run");
        return args;
    }
    if (kind == QLatin1String("id3v2")) {
        // ID3v2 says one title, the ID3v1 block another: the fuller ID3v2 names the row.
        const QString tagged = src + QStringLiteral("/tagged.mp3");
        makeSine(tagged, 1, 22050, 1,
                 {QStringLiteral("-metadata"), QStringLiteral("title=V2 Title"),
                  QStringLiteral("-metadata"), QStringLiteral("artist=V2 Artist")});
        tag.SetTitle("V1 Title");
        tag.SetArtist("V1 Artist");
        tag.WriteToFile(tagged);
        return mp3 + QStringList{tagged};
    }
    qFatal("unknown case %s", qPrintable(kind));
}

void TestCli::reproductions()
{
    QFETCH(QString, kind);
    QFETCH(int, exitCode);
    QFETCH(QByteArrayList, expected);
    QFETCH(QStringList, errHas);
    QFETCH(QStringList, changes);
    auto expand = [this](QString text) {
        return text.replace(QStringLiteral("@D@"), m_dir)
            .replace(QStringLiteral("@H@"), QDir::homePath());
    };
    QMap<QString, QString> env;
    QString cwd;
    qint64 fileSizeLimit = 0;
    QStringList args = prepare(kind, env, cwd, fileSizeLimit);
    // Rows end in any order when several convert at once; these lines come in list order.
    if (args.value(0) != QLatin1String("-sh-"))
        args.prepend(QStringLiteral("--keep-order"));
    // QTemporaryDir cannot remove names that are not UTF-8: they go by their bytes.
    const auto removeRawNames = qScopeGuard([this] {
        for (const char *name : {"/src/caf\xe9.wav", "/old/na\xefve.wav"})
            ::unlink((QFile::encodeName(m_dir) + name).constData());
    });
    QMap<QString, QByteArray> before = snapshot(m_dir);

    const Run r = run(args, env, cwd, fileSizeLimit);
    QFile::remove(qEnvironmentVariable("WAVETRANSMUTER_SETTINGS_FILE"));
    QVERIFY2(r.code == exitCode, r.err.constData());
    QByteArrayList out = r.out.split('\n');
    out.removeAll(QByteArray());
    for (QByteArray &line : expected)
        line.replace("@D@", QFile::encodeName(m_dir))
            .replace("@H@", QFile::encodeName(QDir::homePath()));
    QCOMPARE(out, expected);
    for (const QString &text : errHas)
        QVERIFY2(r.err.contains(expand(text).toUtf8()), r.err.constData());

    QMap<QString, QByteArray> after = snapshot(m_dir);
    for (const QString &path : changes) {
        before.remove(expand(path));
        QVERIFY2(after.remove(expand(path)) == 1, qPrintable(expand(path)));
    }
    QCOMPARE(after, before);

    const QString output = m_dir + QStringLiteral("/out/a.wav.mp3");
    if (kind == QLatin1String("sizelimit")) {
        // The program lived on; each output is whole, with no torn block.
        QCOMPARE(readFile(output), QByteArray(4096, 'U'));
    } else if (kind == QLatin1String("relative")) {
        QVERIFY(decodesCleanly(QDir::homePath() + QStringLiteral("/relout/a.wav.mp3")));
    } else if (kind == QLatin1String("link")) {
        QVERIFY(!QFileInfo(output).isSymLink() && decodesCleanly(output));
    } else if (kind == QLatin1String("id3v2")) {
        const QString tagged = m_dir + QStringLiteral("/out/V2 Title.mp3");
        QCOMPARE(probeEntries(tagged, QStringLiteral("format_tags=title")),
                 QStringLiteral("V2 Title"));
        QCOMPARE(probeEntries(tagged, QStringLiteral("format_tags=artist")),
                 QStringLiteral("V2 Artist"));
        QVERIFY(!readFile(tagged).contains("V1"));
    }
}

void TestCli::severalAtOnceWithTheRealEncoder()
{
    const QString src = m_dir + QStringLiteral("/src");
    const QString &out = m_out;
    QStringList sources;
    QStringList expected;
    for (const auto &[name, seconds] :
         {std::pair{"long.wav", 40}, {"short.wav", 1}, {"mid.wav", 5}, {"last.wav", 1}}) {
        sources << makeSource(src + u'/' + QLatin1String(name), seconds);
        expected << tabbed({QStringLiteral("Finish"), sources.last(),
                            out + u'/' + QLatin1String(name) + QStringLiteral(".mp3")});
    }
    const QStringList args =
        to(QStringLiteral("mp3"), {QStringLiteral("--jobs"), QStringLiteral("2")}) + sources;
    // Lines as rows end; --keep-order: in list order.
    const Run r = run(args);
    QCOMPARE(r.code, 0);
    QStringList got = lines(r.out);
    QCOMPARE(got.size(), expected.size());
    QCOMPARE(QSet<QString>(got.begin(), got.end()),
             QSet<QString>(expected.begin(), expected.end()));
    for (const QString &source : sources) {
        const QString output = out + u'/' + QFileInfo(source).fileName() + QStringLiteral(".mp3");
        QVERIFY2(decodesCleanly(output), qPrintable(output));
        QCOMPARE(readFile(output).right(128).left(3), QByteArray("TAG"));
    }
    QCOMPARE(workFilesIn(out), QStringList());
    const Run ordered = run(QStringList{QStringLiteral("--keep-order")} + args);
    QCOMPARE(ordered.code, 0);
    QCOMPARE(lines(ordered.out), expected);

    // A real run starts the encoder only to convert; the dry run only to probe.
    const QString argsLog = m_dir + QStringLiteral("/args.log");
    const QMap<QString, QString> fake = {
        {QStringLiteral("WAVETRANSMUTER_FFMPEG"), FakeEncoder::path()},
        {QStringLiteral("FAKE_ARGS_LOG"), argsLog}};
    QCOMPARE(run(args, fake).code, 0);
    const QStringList runs = lines(readFile(argsLog));
    QCOMPARE(runs.size(), sources.size());
    for (const QString &line : runs)
        QVERIFY2(line.startsWith(QStringLiteral("-y -i ")), qPrintable(line));
    QFile::remove(argsLog);
    QCOMPARE(run(QStringList{QStringLiteral("--dry-run")} + args, fake).code, 0);
    const QStringList probes = lines(readFile(argsLog));
    QCOMPARE(probes.size(), sources.size());
    for (const QString &line : probes)
        QVERIFY2(line.startsWith(QStringLiteral("-i ")), qPrintable(line));
}

void TestCli::progressLineOnlyOnATerminal()
{
    const QString source = makeSource(m_dir + QStringLiteral("/src/long.wav"), 60, 44100);
    int master = -1;
    int slave = -1;
    QVERIFY(::openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    QProcess p;
    // Standard error is the terminal; standard output stays a pipe.
    p.setChildProcessModifier([slave] { ::dup2(slave, STDERR_FILENO); });
    p.start(QStringLiteral(WT_CLI_PROGRAM),
            to(QStringLiteral("mp3"), {QStringLiteral("--rate"), QStringLiteral("48000"), source}));
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
    const Run piped = run(to(QStringLiteral("mp3"), {source}));
    QCOMPARE(piped.code, 0);
    QVERIFY(!piped.err.contains('%'));
}

void TestCli::signalStopsLikeStop_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("wholeGroup");
    QTest::newRow("SIGINT") << int(SIGINT) << false;
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGQUIT") << int(SIGQUIT) << false;
    // Ctrl+C reaches the terminal's whole process group; the encoder is not in it.
    QTest::newRow("SIGINT to the process group") << int(SIGINT) << true;
}

void TestCli::signalStopsLikeStop()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, wholeGroup);
    const QString source = makeSource(m_dir + QStringLiteral("/src/long.wav"), 90, 44100);
    const QString after = makeSource(m_dir + QStringLiteral("/src/after.wav"), 1);
    const QString &out = m_out;
    const QString output = out + QStringLiteral("/long.wav.mp3");
    // A re-run: the earlier run's output survives the interrupted one.
    QVERIFY(QDir().mkpath(out));
    QVERIFY(writeFile(output, "an earlier run's output"));
    QProcess p;
    p.setChildProcessModifier([] { ::setpgid(0, 0); });
    p.start(
        QStringLiteral(WT_CLI_PROGRAM),
        to(QStringLiteral("mp3"), {QStringLiteral("--rate"), QStringLiteral("48000"),
                                   QStringLiteral("--jobs"), QStringLiteral("1"), source, after}));
    QVERIFY(p.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(!workFilesIn(out).isEmpty() &&
                                 QFileInfo(out + u'/' + workFilesIn(out).first()).size() > 0,
                             20000);
    const pid_t pid = pid_t(p.processId());
    QCOMPARE(::kill(wholeGroup ? -pid : pid, signalNumber), 0);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 130);
    QCOMPARE(lines(p.readAllStandardOutput()),
             QStringList{tabbed({QStringLiteral("Stopped"), source, output})});
    QCOMPARE(readFile(output), QByteArray("an earlier run's output"));
    QCOMPARE(workFilesIn(out), QStringList());
    QVERIFY(!QFileInfo::exists(out + QStringLiteral("/after.wav.mp3")));
    QVERIFY(QFileInfo(source).size() > 1000000);
}

// A reader that goes away early (`| head -1`) stops the batch as Ctrl+C does: the running
// encoder ended, its work file removed, no later row converted.
void TestCli::closedOutputStopsTheBatch()
{
    const QString first = makeSource(m_dir + QStringLiteral("/src/first.wav"), 1);
    const QString slow = makeSource(m_dir + QStringLiteral("/src/slow.wav"), 90, 44100);
    int ends[2];
    QCOMPARE(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]); // the reader is gone before the first line
    QProcess p;
    p.setChildProcessModifier([writeEnd = ends[1]] { ::dup2(writeEnd, STDOUT_FILENO); });
    p.start(QStringLiteral(WT_CLI_PROGRAM),
            to(u"mp3"_qs, {u"--rate"_qs, u"48000"_qs, u"--jobs"_qs, u"1"_qs, first, slow}));
    ::close(ends[1]);
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == 141, err.constData());
    QVERIFY(err.contains("standard output was closed by its reader; stopping"));
    QVERIFY(decodesCleanly(m_out + QStringLiteral("/first.wav.mp3")));
    QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/slow.wav.mp3")));
    QCOMPARE(workFilesIn(m_out), QStringList());
}

// Whatever --report names, the run's own files keep their bytes: it is refused (exit 2,
// nothing made or changed) when it is a source or an output, as files or by the name an
// output will get, and when it is no file or FIFO.
void TestCli::reportNeverReplacesTheRunsFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // @D@: the test's folder; empty: the run goes on
    const QString source = QStringLiteral("is the source @D@/src/a.wav of this run");
    const QString output = QStringLiteral("is the output of @D@/src/a.wav");
    QTest::newRow("a source") << "source" << source;
    QTest::newRow("a link to a source") << "link" << source;
    QTest::newRow("a hard link to a source") << "hardlink" << source;
    QTest::newRow("an output not written yet") << "output" << output;
    QTest::newRow("an earlier output it replaces") << "earlier" << output;
    QTest::newRow("an earlier output it skips") << "skipped" << output;
    QTest::newRow("an output by its other letter case on FAT") << "fat" << output;
    QTest::newRow("a folder") << "folder" << u"is a folder; it must be a file or FIFO"_qs;
    QTest::newRow("a device") << "device" << u"is a device; it must be a file or FIFO"_qs;
    QTest::newRow("a link to nothing") << "dangling" << u"is a link to nothing"_qs;
    QTest::newRow("in the output folder the run makes") << "newfolder" << QString();
    QTest::newRow("an earlier report is replaced") << "oldreport" << QString();
}

void TestCli::reportNeverReplacesTheRunsFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString a = taggedSource(m_dir + QStringLiteral("/src/a.wav"));
    QString report = m_dir + QStringLiteral("/report.jsonl");
    QString out = m_out;
    QStringList more;
    QMap<QString, QString> env = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}};
    if (kind == u"source"_qs) {
        report = a;
    } else if (kind == u"link"_qs) {
        QVERIFY(QFile::link(a, report));
    } else if (kind == u"hardlink"_qs) {
        QCOMPARE(::link(QFile::encodeName(a).constData(), QFile::encodeName(report).constData()),
                 0);
    } else if (kind == u"output"_qs) {
        report = m_out + QStringLiteral("/a.wav.mp3");
    } else if (kind == u"earlier"_qs || kind == u"skipped"_qs) {
        QVERIFY(QDir().mkpath(m_out));
        report = m_out + QStringLiteral("/a.wav.mp3");
        QVERIFY(writeFile(report, "an earlier output"));
        more << u"--existing"_qs << (kind == u"skipped"_qs ? u"skip"_qs : u"replace"_qs);
    } else if (kind == u"fat"_qs) {
        env.insert(u"WAVETRANSMUTER_TEST_FAT_FOLDER"_qs, m_out);
        report = m_out + QStringLiteral("/A.WAV.MP3");
    } else if (kind == u"folder"_qs) {
        report = m_dir + QStringLiteral("/src");
    } else if (kind == u"device"_qs) {
        report = QStringLiteral("/dev/null");
    } else if (kind == u"dangling"_qs) {
        QVERIFY(QFile::link(m_dir + QStringLiteral("/nothing"), report));
    } else if (kind == u"newfolder"_qs) {
        out = m_dir + QStringLiteral("/new");
        report = out + QStringLiteral("/r.jsonl");
    } else if (kind == u"oldreport"_qs) {
        QVERIFY(writeFile(report, "an old line\nanother old line\n"));
    }
    const QMap<QString, QByteArray> before = snapshot(m_dir);
    const Run r =
        run(QStringList{u"--to"_qs, u"mp3"_qs, u"--out"_qs, out, u"--report"_qs, report, a} + more,
            env);
    if (!message.isEmpty()) {
        QVERIFY2(r.code == 2, r.err.constData());
        QVERIFY2(r.err.contains(message.replace(u"@D@"_qs, m_dir).toUtf8()), r.err.constData());
        QCOMPARE(snapshot(m_dir), before);
        return;
    }
    QVERIFY2(r.code == 0, r.err.constData());
    const QList<QByteArray> reported = readFile(report).split('\n');
    QCOMPARE(reported.size(), 2); // one line, and nothing after its line feed
    QCOMPARE(QJsonDocument::fromJson(reported.first()).object().value(u"source"_qs).toString(), a);
}

// A FIFO with no reader yet: the run says it waits, and either a reader comes and gets the
// report, or a signal ends the wait as it ends a run.
void TestCli::reportFifoWaitsForItsReader_data()
{
    QTest::addColumn<bool>("readerComes");
    QTest::newRow("a reader comes") << true;
    QTest::newRow("SIGTERM while it waits") << false;
}

void TestCli::reportFifoWaitsForItsReader()
{
    QFETCH(bool, readerComes);
    const QString a = taggedSource(m_dir + QStringLiteral("/src/a.wav"));
    const QString fifo = m_dir + QStringLiteral("/report.fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path());
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(WT_CLI_PROGRAM), to(u"mp3"_qs, {u"--report"_qs, fifo, a}));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += p.readAllStandardError()).contains("waiting for a reader"),
                             20000);
    QCOMPARE(p.state(), QProcess::Running);
    if (!readerComes) {
        QCOMPARE(::kill(pid_t(p.processId()), SIGTERM), 0);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 130);
        QVERIFY(!QFileInfo::exists(m_out + QStringLiteral("/a.wav.mp3")));
        return;
    }
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    const auto closeReader = qScopeGuard([reader] { ::close(reader); });
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    char buffer[4096];
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    QVERIFY(n > 0);
    const QJsonObject line = QJsonDocument::fromJson(QByteArray(buffer, int(n))).object();
    QCOMPARE(line.value(u"status"_qs).toString(), u"Finish"_qs);
}

// PATHs that overlap convert each file once, as part of the first PATH that names it (files
// compared as files, so two names of one file count once).
void TestCli::eachFileOnce_data()
{
    QTest::addColumn<QStringList>("paths"); // below src/
    QTest::addColumn<QStringList>("converted");
    const QStringList all = {u"lib/x.wav"_qs, u"lib/A/y.wav"_qs, u"lib/A/z.wav"_qs};
    QTest::newRow("a folder and its subfolder") << QStringList{u"lib"_qs, u"lib/A"_qs} << all;
    QTest::newRow("a subfolder and its folder")
        << QStringList{u"lib/A"_qs, u"lib"_qs}
        << QStringList{u"lib/A/y.wav"_qs, u"lib/A/z.wav"_qs, u"lib/x.wav"_qs};
    QTest::newRow("one file twice")
        << QStringList{u"lib/x.wav"_qs, u"lib/x.wav"_qs} << QStringList{u"lib/x.wav"_qs};
    QTest::newRow("a file and its folder") << QStringList{u"lib/A/z.wav"_qs, u"lib/A"_qs}
                                           << QStringList{u"lib/A/z.wav"_qs, u"lib/A/y.wav"_qs};
    QTest::newRow("two names of one file")
        << QStringList{u"lib/x.wav"_qs, u"hard.wav"_qs} << QStringList{u"lib/x.wav"_qs};
    QTest::newRow("a folder and a link to it") << QStringList{u"lib"_qs, u"link"_qs} << all;
}

void TestCli::eachFileOnce()
{
    QFETCH(QStringList, paths);
    QFETCH(QStringList, converted);
    const QString src = m_dir + QStringLiteral("/src/");
    for (const char *name : {"lib/x.wav", "lib/A/y.wav", "lib/A/z.wav"})
        taggedSource(src + QLatin1String(name));
    QCOMPARE(::link(QFile::encodeName(src + u"lib/x.wav"_qs).constData(),
                    QFile::encodeName(src + u"hard.wav"_qs).constData()),
             0);
    QVERIFY(QFile::link(src + u"lib"_qs, src + u"link"_qs));
    for (QString &path : paths)
        path.prepend(src);
    const Run r = run(to(u"mp3"_qs, QStringList{u"--recursive"_qs, u"--keep-order"_qs} + paths),
                      {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}});
    QVERIFY2(r.code == 0, r.err.constData());
    QStringList sources;
    for (const QString &line : lines(r.out))
        sources << line.split(u'\t').value(1).mid(src.size());
    QCOMPARE(sources, converted);
}

// What the folder scan cannot reach is named on standard error; the rest is converted.
void TestCli::unreachableFilesAreNamed_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("a folder that cannot be read")
        << "locked"
        << u"not added: @D@/src/lib/locked/: the folder cannot be read: Permission denied"_qs;
    QTest::newRow("a folder deeper than PATH_MAX")
        << "deep" << u"/: the path is longer than the system allows (4096 bytes)"_qs;
    QTest::newRow("a name not UTF-8 that no link reaches")
        << "raw"
        << u"not added: @D@/src/lib/caf\u00e9.wav: the name is not UTF-8 and cannot be "
           "reached"_qs;
}

void TestCli::unreachableFilesAreNamed()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString lib = m_dir + QStringLiteral("/src/lib");
    const QString good = taggedSource(lib + QStringLiteral("/good.wav"));
    QMap<QString, QString> env = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}};
    const QByteArray rawLib = QFile::encodeName(lib);
    // Trees the test's QTemporaryDir cannot remove by name; rm works by descriptor.
    const auto removeTree = qScopeGuard([lib] {
        QFile::setPermissions(lib + QStringLiteral("/locked"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcess::execute(u"rm"_qs, {u"-rf"_qs, lib});
    });
    bool dropReadAnything = false;
    if (kind == u"locked"_qs) {
        taggedSource(lib + QStringLiteral("/locked/hidden.wav"));
        QVERIFY(QFile::setPermissions(lib + QStringLiteral("/locked"), {}));
        dropReadAnything = true; // root reads any folder otherwise
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        ::syscall(SYS_capget, &header, caps);
        if (::geteuid() == 0 && (caps[0].effective & (1u << CAP_SETPCAP)) == 0)
            QSKIP("root without CAP_SETPCAP reads every folder");
    } else if (kind == u"deep"_qs) {
        // Made relative to open folders: no path this long can be used.
        int fd = ::open(rawLib.constData(), O_RDONLY | O_DIRECTORY);
        const QByteArray name(200, 'd');
        for (qsizetype length = rawLib.size(); length < PATH_MAX; length += name.size() + 1) {
            QCOMPARE(::mkdirat(fd, name.constData(), 0755), 0);
            const int below = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = below;
        }
        const int file = ::openat(fd, "deep.wav", O_WRONLY | O_CREAT, 0644);
        QVERIFY(file >= 0);
        ::close(file);
        ::close(fd);
    } else {
        const QByteArray raw = rawLib + "/caf\xe9.wav";
        QVERIFY(writeFile(QString::fromLatin1(raw), "")); // a name to replace by the raw one
        QCOMPARE(::rename(QString::fromLatin1(raw).toUtf8().constData(), raw.constData()), 0);
        // The folder for the links cannot be made: the temporary folder is a file.
        QVERIFY(writeFile(m_dir + QStringLiteral("/notafolder"), ""));
        env.insert(u"TMPDIR"_qs, m_dir + QStringLiteral("/notafolder"));
    }
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (auto it = env.begin(); it != env.end(); ++it)
        e.insert(it.key(), it.value());
    p.setProcessEnvironment(e);
    p.setChildProcessModifier([dropReadAnything] {
        if (dropReadAnything) {
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        }
    });
    p.start(QStringLiteral(WT_CLI_PROGRAM), to(u"mp3"_qs, {u"--recursive"_qs, lib}));
    QVERIFY(p.waitForFinished(60000));
    const QByteArray err = p.readAllStandardError();
    QVERIFY2(p.exitCode() == 0, err.constData());
    QVERIFY2(err.contains(message.replace(u"@D@"_qs, m_dir).toUtf8()), err.constData());
    QCOMPARE(lines(err).size(), 1);
    QCOMPARE(lines(p.readAllStandardOutput()),
             QStringList{tabbed({u"Finish"_qs, good, m_out + QStringLiteral("/good.wav.mp3")})});
}

// A folder PATH whose own name and subfolders' names are not UTF-8: with --keep-folders each
// output goes to its source's subfolder, and the lines show every path by its own bytes.
void TestCli::rawFolderArgumentKeepsItsFolders()
{
    const QByteArray folder = QFile::encodeName(m_dir) + "/src/Caf\xe9";
    const auto removeRaw = qScopeGuard(
        [folder] { std::filesystem::remove_all(std::filesystem::path(folder.toStdString())); });
    const QByteArray source = readFile(taggedSource(m_dir + QStringLiteral("/src/x.wav")));
    for (const QByteArray &sub : {QByteArray("/Ni\xf1o"), QByteArray("/Se\xf1or")}) {
        std::filesystem::create_directories((folder + sub).toStdString());
        QFile file;
        const int fd = ::open((folder + sub + "/x.wav").constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::write(fd, source.constData(), size_t(source.size())) > 0);
        ::close(fd);
    }
    QMap<QString, QString> env = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()},
                                  {u"TMPDIR"_qs, m_dir},
                                  {u"RAW"_qs, m_dir + QStringLiteral("/src/Caf\\0351")}};
    const Run r = run({u"-sh-"_qs,
                       u"exec \"$0\" --keep-order --to mp3 --recursive --keep-folders --out \"$1\" "
                       "\"$(printf '%b' \"$RAW\")\""_qs,
                       m_out},
                      env);
    QVERIFY2(r.code == 0, r.err.constData());
    const QByteArray d = QFile::encodeName(m_dir);
    QCOMPARE(r.out, "Finish\t" + folder + "/Ni\xf1o/x.wav\t" + d + "/out/Ni\xc3\xb1o/x.wav.mp3\n" +
                        "Finish\t" + folder + "/Se\xf1or/x.wav\t" + d +
                        "/out/Se\xc3\xb1or/x.wav.mp3\n");
}

// --shard K/N cuts the list the same way wherever the library is mounted: here the folder
// and a link to it; the N parts are disjoint and make up the whole.
void TestCli::shardsAgreeWhereverTheLibraryIs()
{
    const QString lib = m_dir + QStringLiteral("/src/lib");
    for (const char *name : {"b.wav", "a.wav", "10.wav", "9.wav", "Z/c.wav", "Z/e.wav", "m.wav"})
        taggedSource(lib + u'/' + QLatin1String(name));
    const QString mount = m_dir + QStringLiteral("/mnt");
    QVERIFY(QFile::link(lib, mount));
    const QMap<QString, QString> fake = {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}};
    auto planned = [&](const QString &folder, const QString &shard) {
        QStringList args = to(u"mp3"_qs, {u"--dry-run"_qs, u"--recursive"_qs, folder});
        if (!shard.isEmpty())
            args << u"--shard"_qs << shard;
        return dryRunPaths(run(args, fake).out);
    };
    const QStringList whole = planned(lib, QString());
    QCOMPARE(whole.size(), 7);
    QStringList together;
    for (int k = 1; k <= 3; ++k) {
        const QString shard = QStringLiteral("%1/3").arg(k);
        const QStringList part = planned(lib, shard);
        QCOMPARE(planned(mount, shard), part);
        QCOMPARE(part.size(), k == 1 ? 3 : 2);
        together += part;
    }
    QCOMPARE(QSet<QString>(together.begin(), together.end()).size(), 7);
    QCOMPARE(QSet<QString>(together.begin(), together.end()),
             QSet<QString>(whole.begin(), whole.end()));
    // More parts than files: an empty part has nothing to do, which is no failure.
    const Run empty = run(to(u"mp3"_qs, {u"--shard"_qs, u"8/8"_qs, u"--recursive"_qs, lib}), fake);
    QCOMPARE(empty.code, 0);
    QVERIFY(empty.err.contains("--shard 8/8: this part holds no files"));
}

// Four shards at once into one folder, several sources sharing a title: every file is
// converted once, no output replaces another, each shard's report tells its own rows, and
// running a shard again with --existing skip converts nothing.
void TestCli::fourShardsAtOnceIntoOneFolder()
{
    const QString lib = m_dir + QStringLiteral("/src/lib");
    QStringList sources;
    for (int i = 1; i <= 20; ++i) {
        const QString name = QStringLiteral("%1/%2.wav").arg(i % 3 ? u"a"_qs : u"b"_qs).arg(i);
        sources << taggedSource(lib + u'/' + name, {i % 2 ? "Song" : QByteArray::number(i)});
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path());
    env.insert(u"FAKE_SLEEP_MS"_qs, u"30"_qs);
    auto shardArgs = [&](int k, const QString &existing) {
        return to(u"mp3"_qs, {u"--recursive"_qs, u"--existing"_qs, existing, u"--jobs"_qs, u"2"_qs,
                              u"--shard"_qs, QStringLiteral("%1/4").arg(k), u"--report"_qs,
                              m_dir + QStringLiteral("/report%1.jsonl").arg(k), lib});
    };
    std::vector<std::unique_ptr<QProcess>> shards;
    for (int k = 1; k <= 4; ++k) {
        shards.push_back(std::make_unique<QProcess>());
        shards.back()->setProcessEnvironment(env);
        shards.back()->start(QStringLiteral(WT_CLI_PROGRAM), shardArgs(k, u"number"_qs));
    }
    QStringList converted;
    QStringList outputs;
    for (int k = 1; k <= 4; ++k) {
        QProcess &p = *shards.at(size_t(k - 1));
        QVERIFY(p.waitForFinished(60000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        const QStringList shown = lines(p.readAllStandardOutput());
        QCOMPARE(shown.size(), 5);
        QCOMPARE(lines(readFile(m_dir + QStringLiteral("/report%1.jsonl").arg(k))).size(), 5);
        for (const QString &line : shown) {
            const QStringList f = line.split(u'\t');
            QCOMPARE(f.value(0), u"Finish"_qs);
            converted << f.value(1);
            outputs << f.value(2);
        }
    }
    converted.sort();
    sources.sort();
    QCOMPARE(converted, sources);
    QCOMPARE(QSet<QString>(outputs.begin(), outputs.end()).size(), 20);
    for (const QString &output : std::as_const(outputs))
        QCOMPARE(QFileInfo(output).size(), 1024 + 128);
    QCOMPARE(QDir(m_out).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
             20);

    const Run again =
        run(shardArgs(2, u"skip"_qs), {{u"WAVETRANSMUTER_FFMPEG"_qs, FakeEncoder::path()}});
    QCOMPARE(again.code, 0);
    const QStringList skipped = lines(again.out);
    QCOMPARE(skipped.size(), 5);
    for (const QString &line : skipped)
        QVERIFY2(line.startsWith(u"Skipped\t"_qs), qPrintable(line));
}

WT_SAFE_TEST_MAIN(TestCli)

#include "tst_cli.moc"
