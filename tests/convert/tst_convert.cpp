#include "convert/commandline.h"
#include "convert/encoderlocator.h"
#include "convert/encodingprofile.h"
#include "convert/profiletables.h"
#include "convert/progressmeter.h"
#include "convert/progressparser.h"
#include "convert/targetformat.h"
#include "joblist/mediaprobe.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

#include <unistd.h>

namespace {

// Sets or clears an environment variable for one test and puts it back after.
class EnvGuard
{
public:
    EnvGuard(const char *name, const QByteArray *value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value)
            qputenv(name, *value);
        else
            qunsetenv(name);
    }
    ~EnvGuard()
    {
        if (m_wasSet)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_old;
};

QByteArray readTranscript()
{
    QFile file(QStringLiteral(WT_TEST_DATA_DIR "/ffmpeg51-mp3.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QList<int> feed(const QList<QByteArray> &chunks, QByteArray *rest = nullptr)
{
    QList<int> shown;
    QByteArray buffer;
    for (const QByteArray &chunk : chunks) {
        buffer += chunk;
        ParseProgress(buffer, [&shown](int seconds) { shown.append(seconds); });
    }
    if (rest)
        *rest = buffer;
    return shown;
}

QList<QByteArray> fixedChunks(const QByteArray &data, int size)
{
    QList<QByteArray> chunks;
    for (qsizetype at = 0; at < data.size(); at += size)
        chunks.append(data.mid(at, size));
    return chunks;
}

// The transcript's lines, each with its own line end.
QList<QByteArray> lines(const QByteArray &data)
{
    QList<QByteArray> result;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\r' || data.at(i) == '\n') {
            result.append(data.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < data.size())
        result.append(data.mid(start));
    return result;
}

} // namespace

class TestConvert : public QObject
{
    Q_OBJECT

private slots:
    void profileTables_data();
    void profileTables();
    void profileDefaultsMatchTables();
    void targetFormats();
    void quotePath_data();
    void quotePath();
    void commandLine();
    void conversionArguments();
    void outputFileName_data();
    void outputFileName();
    void longOutputNamesKeepTheExtension();
    void isSameFile();
    void encoderLocation();
    void parseProgress_data();
    void parseProgress();
    void parseProgressChunks_data();
    void parseProgressChunks();
    void transcript();
    void progressFrame_data();
    void progressFrame();
    void mulDiv_data();
    void mulDiv();
};

void TestConvert::profileTables_data()
{
    QTest::addColumn<int>("table");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("value");

    QTest::newRow("rate first") << 0 << 0 << "8000 Hz"
                                << "8000";
    QTest::newRow("rate 11025") << 0 << 1 << "11025 Hz"
                                << "11025";
    QTest::newRow("rate last") << 0 << 8 << "48000 Hz"
                               << "48000";
    QTest::newRow("rate none") << 0 << -1 << QString() << "22050";
    QTest::newRow("rate past end") << 0 << 9 << QString() << "22050";
    QTest::newRow("bitrate first") << 1 << 0 << "8 Kbps"
                                   << "8000";
    QTest::newRow("bitrate 112") << 1 << 8 << "112 Kbps"
                                 << "112000";
    QTest::newRow("bitrate last") << 1 << 14 << "320 Kbps"
                                  << "320000";
    QTest::newRow("bitrate none") << 1 << -1 << QString() << "128000";
    QTest::newRow("bitrate past end") << 1 << 15 << QString() << "128000";
    QTest::newRow("mono") << 2 << 0 << "Mono"
                          << "1";
    QTest::newRow("stereo") << 2 << 1 << "Stereo"
                            << "2";
    QTest::newRow("channels none") << 2 << -1 << QString() << "2";
    QTest::newRow("channels past end") << 2 << 2 << QString() << "2";
}

void TestConvert::profileTables()
{
    QFETCH(int, table);
    QFETCH(int, index);
    QFETCH(QString, shown);
    QFETCH(QString, value);

    const QVector<ProfileItem> *items[] = {&ProfileTables::sampleRates(),
                                           &ProfileTables::bitrates(), &ProfileTables::channels()};
    QString (*lookups[])(int) = {&ProfileTables::sampleRateAt, &ProfileTables::bitrateAt,
                                 &ProfileTables::channelsAt};
    QCOMPARE(lookups[table](index), value);
    if (!shown.isEmpty()) {
        QCOMPARE(items[table]->at(index).shown, shown);
        QCOMPARE(items[table]->at(index).value, value);
    }
}

void TestConvert::profileDefaultsMatchTables()
{
    QCOMPARE(ProfileTables::sampleRates().size(), 9);
    QCOMPARE(ProfileTables::bitrates().size(), 15);
    QCOMPARE(ProfileTables::channels().size(), 2);

    const EncodingProfile profile = EncodingProfile::defaults();
    QCOMPARE(profile.SampleRate, QStringLiteral("44100"));
    QCOMPARE(profile.Bitrate, QStringLiteral("128000"));
    QCOMPARE(profile.Channels, QStringLiteral("2"));
    QCOMPARE(ProfileTables::defaultSampleRateIndex(), 7);
    QCOMPARE(ProfileTables::defaultBitrateIndex(), 9);
    QCOMPARE(ProfileTables::defaultChannelsIndex(), 1);
    QCOMPARE(ProfileTables::sampleRateAt(ProfileTables::defaultSampleRateIndex()),
             profile.SampleRate);
    QCOMPARE(ProfileTables::bitrateAt(ProfileTables::defaultBitrateIndex()), profile.Bitrate);
    QCOMPARE(ProfileTables::channelsAt(ProfileTables::defaultChannelsIndex()), profile.Channels);
}

void TestConvert::targetFormats()
{
    const QStringList commands = {QStringLiteral("tomp3"), QStringLiteral("towav"),
                                  QStringLiteral("towma"), QStringLiteral("toaac"),
                                  QStringLiteral("torm")};
    const QStringList extensions = {QStringLiteral(".mp3"), QStringLiteral(".wav"),
                                    QStringLiteral(".wma"), QStringLiteral(".aac"),
                                    QStringLiteral(".rm")};
    QCOMPARE(TargetFormats().size(), 5);
    for (int i = 0; i < commands.size(); ++i) {
        const TargetFormat *format = TargetFormatForCommand(commands.at(i));
        QVERIFY(format);
        QCOMPARE(format->extension, extensions.at(i));
        QCOMPARE(TargetFormatForName(extensions.at(i).mid(1)), format);
    }
    QCOMPARE(TargetFormatForCommand(QStringLiteral("torm"))->name, QStringLiteral("RealMedia"));
    QCOMPARE(TargetFormatForName(QStringLiteral("MP3")), TargetFormatForCommand(commands.at(0)));
    // Skin commands compare case-sensitively.
    QCOMPARE(TargetFormatForCommand(QStringLiteral("TOMP3")), nullptr);
    QCOMPARE(TargetFormatForCommand(QStringLiteral("toogg")), nullptr);
    QCOMPARE(TargetFormatForName(QStringLiteral("ogg")), nullptr);
    QCOMPARE(TargetFormatForName(QStringLiteral(".mp3")), nullptr);
    QCOMPARE(TargetFormatForName(QString()), nullptr);
}

void TestConvert::quotePath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("quoted");

    QTest::newRow("no blank") << "/in/a.wav"
                              << "/in/a.wav";
    QTest::newRow("blank inside") << "/My Music/a.mp3"
                                  << "\"/My Music/a.mp3\"";
    QTest::newRow("blank at end") << "/in/a "
                                  << "\"/in/a \"";
    QTest::newRow("only a blank") << " "
                                  << "\" \"";
    QTest::newRow("tab is not a blank") << "/in/a\tb.wav"
                                        << "/in/a\tb.wav";
    QTest::newRow("quote inside, not escaped") << "/in/a \"b\".wav"
                                               << "\"/in/a \"b\".wav\"";
    QTest::newRow("empty") << ""
                           << "";
}

void TestConvert::quotePath()
{
    QFETCH(QString, path);
    QFETCH(QString, quoted);
    QCOMPARE(QuotePath(path), quoted);
}

void TestConvert::commandLine()
{
    const EncodingProfile profile = EncodingProfile::defaults();
    const QString out = OutputPath(QStringLiteral("/My Music"), QByteArrayLiteral("My Song"),
                                   QStringLiteral("/in/a.wav"), QStringLiteral(".mp3"));
    QCOMPARE(ConversionCommandLine(QStringLiteral("/Conv/ffmpeg"), QStringLiteral("/in/a.wav"), out,
                                   profile),
             QStringLiteral("/Conv/ffmpeg -y -i /in/a.wav -ab 128000 -ar 44100 -ac 2 "
                            "\"/My Music/My Song.mp3\""));

    // A WAV target still carries the bitrate; blanks in every path are quoted.
    const EncodingProfile mono{QStringLiteral("8000"), QStringLiteral("32000"),
                               QStringLiteral("1")};
    QCOMPARE(ConversionCommandLine(QStringLiteral("/opt/my tools/ffmpeg"),
                                   QStringLiteral("/in/a b.mp3"), QStringLiteral("/out/x.wav"),
                                   mono),
             QStringLiteral("\"/opt/my tools/ffmpeg\" -y -i \"/in/a b.mp3\" -ab 32000 -ar 8000 "
                            "-ac 1 /out/x.wav"));
}

void TestConvert::conversionArguments()
{
    const EncodingProfile profile = EncodingProfile::defaults();
    const QStringList expected = {
        QStringLiteral("-y"),          QStringLiteral("-i"),
        QStringLiteral("/in/a b.wav"), QStringLiteral("-ab"),
        QStringLiteral("128000"),      QStringLiteral("-ar"),
        QStringLiteral("44100"),       QStringLiteral("-ac"),
        QStringLiteral("2"),           QStringLiteral("/My Music/\"x\".mp3")};
    // Each path is one argument, never quoted.
    QCOMPARE(ConversionArguments(QStringLiteral("/in/a b.wav"),
                                 QStringLiteral("/My Music/\"x\".mp3"), profile),
             expected);
}

void TestConvert::outputFileName_data()
{
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArrayLiteral("My Song") << "My Song.mp3";
    QTest::newRow("no tag title") << QByteArray() << "song.wav.mp3";
    QTest::newRow("dot") << QByteArrayLiteral(".") << "song.wav.mp3";
    QTest::newRow("dot dot") << QByteArrayLiteral("..") << "song.wav.mp3";
    QTest::newRow("three dots are a name") << QByteArrayLiteral("...") << "....mp3";
    QTest::newRow("not trimmed") << QByteArrayLiteral("  a b  ") << "  a b  .mp3";
    QTest::newRow("blank only") << QByteArrayLiteral(" ") << " .mp3";
    QTest::newRow("slash") << QByteArrayLiteral("AC/DC") << "AC_DC.mp3";
    QTest::newRow("slash only") << QByteArrayLiteral("/") << "_.mp3";
    QTest::newRow("slash dot dot") << QByteArrayLiteral("../x") << ".._x.mp3";
    QTest::newRow("nul") << QByteArray("a\0b", 3) << "a_b.mp3";
    QTest::newRow("utf-8") << QByteArrayLiteral("\xC3\xA9t\xC3\xA9") << u"\u00E9t\u00E9.mp3"_qs;
    QTest::newRow("latin-1") << QByteArrayLiteral("\xE9t\xE9") << u"\u00E9t\u00E9.mp3"_qs;
    QTest::newRow("cut utf-8 is latin-1") << QByteArrayLiteral("ab\xC3") << u"ab\u00C3.mp3"_qs;
    QTest::newRow("overlong slash is latin-1")
        << QByteArrayLiteral("a\xC0\xAF") << u"a\u00C0\u00AF.mp3"_qs;
    QTest::newRow("surrogate is latin-1")
        << QByteArrayLiteral("\xED\xA0\x80") << u"\u00ED\u00A0\u0080.mp3"_qs;
    QTest::newRow("utf-8 four bytes")
        << QByteArrayLiteral("\xF0\x9F\x8E\xB5") << u"\U0001F3B5.mp3"_qs;
    QTest::newRow("byte order mark kept")
        << QByteArrayLiteral("\xEF\xBB\xBFx") << u"\uFEFFx.mp3"_qs;
    QTest::newRow("backslash and colon kept") << QByteArrayLiteral("a\\b:c") << "a\\b:c.mp3";
}

void TestConvert::outputFileName()
{
    QFETCH(QByteArray, title);
    QFETCH(QString, expected);
    QCOMPARE(OutputFileName(title, QStringLiteral("/music/in/song.wav"), QStringLiteral(".mp3")),
             expected);
    QCOMPARE(OutputPath(QStringLiteral("/out"), title, QStringLiteral("/music/in/song.wav"),
                        QStringLiteral(".mp3")),
             QStringLiteral("/out/") + expected);
}

void TestConvert::longOutputNamesKeepTheExtension()
{
    const QString source = QStringLiteral("/in/a.wav");
    const QString mp3 = QStringLiteral(".mp3");

    // Exactly 255 bytes stays as it is; one more is cut.
    QCOMPARE(OutputFileName(QByteArray(251, 'a'), source, mp3), QString(251, u'a') + mp3);
    QCOMPARE(OutputFileName(QByteArray(252, 'a'), source, mp3), QString(251, u'a') + mp3);
    QCOMPARE(OutputFileName(QByteArray(1000, 'a'), source, QStringLiteral(".rm")),
             QString(252, u'a') + QStringLiteral(".rm"));

    // Two-byte characters: 251 bytes would split the 126th one.
    QByteArray accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xC3\xA9";
    const QString cut = OutputFileName(accents, source, mp3);
    QCOMPARE(cut, QString(125, QChar(0xE9)) + mp3);
    QCOMPARE(cut.toUtf8().size(), 254);

    // Latin-1 titles count by their UTF-8 length on disk.
    const QString latin = OutputFileName(QByteArray(200, '\xE9'), source, mp3);
    QCOMPARE(latin, QString(125, QChar(0xE9)) + mp3);

    // Four-byte characters are not split either.
    QByteArray notes;
    for (int i = 0; i < 70; ++i)
        notes += "\xF0\x9F\x8E\xB5";
    const QString noteName = OutputFileName(notes, source, mp3);
    QCOMPARE(noteName.toUtf8(), notes.left(248) + mp3.toUtf8());

    // A long source file name as fallback is cut the same way.
    const QString longSource = QStringLiteral("/in/") + QString(255, u'b');
    QCOMPARE(OutputFileName(QByteArray(), longSource, mp3), QString(251, u'b') + mp3);
}

void TestConvert::isSameFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("a b.wav"));
    const QString other = dir.filePath(QStringLiteral("other.wav"));
    for (const QString &path : {file, other}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("RIFF");
    }
    const QString symlink = dir.filePath(QStringLiteral("link.wav"));
    QVERIFY(QFile::link(file, symlink));
    const QString hardlink = dir.filePath(QStringLiteral("hard.wav"));
    QCOMPARE(::link(QFile::encodeName(file).constData(), QFile::encodeName(hardlink).constData()),
             0);
    const QString missing = dir.filePath(QStringLiteral("missing.wav"));
    const QString roundabout = dir.path() + QStringLiteral("/./sub/../a b.wav");
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));

    QVERIFY(IsSameFile(file, file));
    QVERIFY(IsSameFile(file, roundabout));
    QVERIFY(IsSameFile(file, symlink));
    QVERIFY(IsSameFile(symlink, file));
    QVERIFY(IsSameFile(file, hardlink));
    QVERIFY(!IsSameFile(file, other));
    QVERIFY(!IsSameFile(file, missing));
    QVERIFY(!IsSameFile(missing, missing));
    QVERIFY(!IsSameFile(file, QString()));
}

void TestConvert::encoderLocation()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString onPath = dir.filePath(QStringLiteral("ffmpeg"));
    QFile script(onPath);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nexit 0\n");
    script.close();
    QVERIFY(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    const QByteArray path = QFile::encodeName(dir.path());
    const QByteArray chosen = QByteArrayLiteral("/somewhere/fake-ffmpeg");
    const QByteArray empty;
    {
        EnvGuard pathGuard("PATH", &path);
        EnvGuard encoder("WAVETRANSMUTER_FFMPEG", &chosen);
        QCOMPARE(ResolveEncoderPath(), QStringLiteral("/somewhere/fake-ffmpeg"));
    }
    {
        EnvGuard pathGuard("PATH", &path);
        EnvGuard encoder("WAVETRANSMUTER_FFMPEG", &empty);
        QCOMPARE(ResolveEncoderPath(), onPath);
    }
    {
        const QByteArray nowhere = QFile::encodeName(dir.filePath(QStringLiteral("none")));
        EnvGuard pathGuard("PATH", &nowhere);
        EnvGuard encoder("WAVETRANSMUTER_FFMPEG", nullptr);
        QCOMPARE(ResolveEncoderPath(), QString());
    }
}

void TestConvert::parseProgress_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<QByteArray>("rest");

    const QList<int> none;
    QTest::newRow("empty") << QByteArray() << none << QByteArray();
    QTest::newRow("no line end waits")
        << QByteArrayLiteral("size= 1kB time=7.3 bitrate= 1.0kbits/s") << none
        << QByteArrayLiteral("size= 1kB time=7.3 bitrate= 1.0kbits/s");
    QTest::newRow("one decimal, CR") << QByteArrayLiteral("size= 1kB time=7.3 bitrate= 1kbits/s\r")
                                     << QList<int>{7} << QByteArray();
    QTest::newRow("two digits, LF")
        << QByteArrayLiteral("time=32.7 bitrate= 9\n") << QList<int>{32} << QByteArray();
    QTest::newRow("tenths cut") << QByteArrayLiteral("time=245.9 bitrate=\n") << QList<int>{245}
                                << QByteArray();
    QTest::newRow("CR LF is one line end")
        << QByteArrayLiteral("time=245.0 bitrate=\r\n") << QList<int>{245} << QByteArray();
    QTest::newRow("CR CR is two") << QByteArrayLiteral("time=1.0 bitrate=\r\r") << QList<int>{1, 1}
                                  << QByteArray();
    QTest::newRow("LF CR is two") << QByteArrayLiteral("time=1.0 bitrate=\n\r") << QList<int>{1, 1}
                                  << QByteArray();
    QTest::newRow("ffmpeg 5.1 clock")
        << QByteArrayLiteral("size=    1024kB time=00:01:18.68 bitrate= 106.6kbits/s speed= 157x\r")
        << QList<int>{78} << QByteArray();
    QTest::newRow("clock past a day")
        << QByteArrayLiteral("time=100:00:01.00 bitrate=\r") << QList<int>{360001} << QByteArray();
    QTest::newRow("leading blanks")
        << QByteArrayLiteral("time=   7.3 bitrate=\r") << QList<int>{7} << QByteArray();
    QTest::newRow("whole seconds")
        << QByteArrayLiteral("time=12 bitrate=\r") << QList<int>{12} << QByteArray();
    QTest::newRow("two reports show the first twice")
        << QByteArrayLiteral("time=1.0 bitrate=\rtime=2.0 bitrate=\r") << QList<int>{1, 1}
        << QByteArray();
    QTest::newRow("unfinished line stays") << QByteArrayLiteral("time=3.0 bitrate=\rsize= 5kB tim")
                                           << QList<int>{3} << QByteArrayLiteral("size= 5kB tim");
    QTest::newRow("report in the unfinished line counts")
        << QByteArrayLiteral("\ntime=5.0 bitrate= 1") << QList<int>{5}
        << QByteArrayLiteral("time=5.0 bitrate= 1");
    QTest::newRow("header lines show nothing")
        << QByteArrayLiteral("Stream mapping:\r\n  Duration: 00:03:45.00, bitrate: 705 kb/s\n")
        << none << QByteArray();
    QTest::newRow("bitrate before time")
        << QByteArrayLiteral("bitrate= 5 time=1.0 bitrate=\r") << none << QByteArray();
    QTest::newRow("not available")
        << QByteArrayLiteral("size=N/A time=N/A bitrate=N/A\r") << none << QByteArray();
    QTest::newRow("negative clock")
        << QByteArrayLiteral("size=0kB time=-00:00:00.02 bitrate=N/A\r") << none << QByteArray();
    QTest::newRow("negative seconds")
        << QByteArrayLiteral("time=-1.0 bitrate=\r") << none << QByteArray();
    QTest::newRow("garbage") << QByteArrayLiteral("time=1x.0 bitrate=\r") << none << QByteArray();
    QTest::newRow("nothing between")
        << QByteArrayLiteral("time=bitrate=\r") << none << QByteArray();
    QTest::newRow("point only") << QByteArrayLiteral("time=. bitrate=\r") << none << QByteArray();
    QTest::newRow("two points") << QByteArrayLiteral("time=1.2.3 bitrate=\r") << none
                                << QByteArray();
    QTest::newRow("bad clock") << QByteArrayLiteral("time=00:1:18.68 bitrate=\r") << none
                               << QByteArray();
    QTest::newRow("too big for int")
        << QByteArrayLiteral("time=99999999999.0 bitrate=\r") << none << QByteArray();
    QTest::newRow("too big clock")
        << QByteArrayLiteral("time=999999999:00:00.00 bitrate=\r") << none << QByteArray();
    QTest::newRow("no bitrate") << QByteArrayLiteral("time=1.0 \r") << none << QByteArray();
}

void TestConvert::parseProgress()
{
    QFETCH(QByteArray, buffer);
    QFETCH(QList<int>, shown);
    QFETCH(QByteArray, rest);

    QList<int> calls;
    ParseProgress(buffer, [&calls](int seconds) { calls.append(seconds); });
    QCOMPARE(calls, shown);
    QCOMPARE(buffer, rest);
}

void TestConvert::parseProgressChunks_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("shown");

    QTest::newRow("CR and LF in one chunk")
        << QList<QByteArray>{QByteArrayLiteral("time=1.0 bitrate=\r\ntime=2.0 bitrate=\r")}
        << QList<int>{1, 1};
    QTest::newRow("CR ends a chunk, LF starts the next")
        << QList<QByteArray>{QByteArrayLiteral("time=1.0 bitrate=\r"),
                             QByteArrayLiteral("\ntime=2.0 bitrate=\r")}
        << QList<int>{1, 2, 2};
    QTest::newRow("report cut by a chunk")
        << QList<QByteArray>{QByteArrayLiteral("size= 1kB ti"), QByteArrayLiteral("me=4"),
                             QByteArrayLiteral(".0 bitrate= 2\r")}
        << QList<int>{4};
    QTest::newRow("cut inside the markers")
        << QList<QByteArray>{QByteArrayLiteral("time=00:00:09.50 bitr"),
                             QByteArrayLiteral("ate= 1\rtime=00:00:10.00 bitrate=1\r")}
        << QList<int>{9, 9};
}

void TestConvert::parseProgressChunks()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, shown);
    QCOMPARE(feed(chunks), shown);
}

void TestConvert::transcript()
{
    const QByteArray data = readTranscript();
    QCOMPARE(data.size(), 2766);
    QCOMPARE(data.count('\r'), 3);
    QCOMPARE(DurationFromOutput(data), QStringLiteral("00:03:45"));

    // The four reports of the recording, as ffmpeg 5.1 wrote them.
    const QList<int> reports = {0, 89, 177, 225};
    QByteArray rest;
    QCOMPARE(feed(lines(data), &rest), reports);
    QVERIFY(rest.isEmpty());
    QCOMPARE(feed(fixedChunks(data, 1)), reports);
    QCOMPARE(feed(fixedChunks(data, 7)), reports);

    // Chunks cut in the middle of every report, each ending inside the next one.
    QList<QByteArray> halves;
    qsizetype from = 0;
    for (const QByteArray &line : lines(data)) {
        const qsizetype middle = data.indexOf(line, from) + line.size() / 2;
        if (line.contains("time=")) {
            halves.append(data.mid(from, middle - from));
            from = middle;
        }
    }
    halves.append(data.mid(from));
    // The last chunk also ends the summary line after the final report.
    QCOMPARE(feed(halves), reports + QList<int>{225});

    // All reports land in the last of the 1024-byte chunks: its pass shows the
    // first of them once per line end.
    QCOMPARE(feed(fixedChunks(data, 1024), &rest), QList<int>(15, 0));
    QVERIFY(rest.isEmpty());
    QCOMPARE(feed({data}), QList<int>(31, 0));
}

void TestConvert::progressFrame_data()
{
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<bool>("drawn");
    QTest::addColumn<int>("right");
    QTest::addColumn<QString>("text");

    QTest::newRow("empty") << 0 << 100 << true << 12 << "0%";
    QTest::newRow("full") << 100 << 100 << true << 481 << "100%";
    QTest::newRow("one third") << 1 << 3 << true << 12 + 156 << "33%";
    QTest::newRow("two thirds") << 2 << 3 << true << 12 + 313 << "66%";
    QTest::newRow("half rounds up") << 1 << 2 << true << 12 + 235 << "50%";
    QTest::newRow("one of one") << 1 << 1 << true << 481 << "100%";
    QTest::newRow("past the total") << 101 << 100 << false << 0 << "";
    QTest::newRow("zero total") << 0 << 0 << true << 12 << "0%";
    QTest::newRow("report on zero total") << 5 << 0 << false << 0 << "";
    QTest::newRow("longest clock") << 362439 << 362439 << true << 481 << "100%";
    QTest::newRow("large, no overflow") << INT_MAX - 1 << INT_MAX << true << 481 << "99%";
    QTest::newRow("negative done") << -5 << 100 << true << 12 << "0%";
}

void TestConvert::progressFrame()
{
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(bool, drawn);
    QFETCH(int, right);
    QFETCH(QString, text);

    const std::optional<ProgressFrame> frame = ProgressFrameFor(done, total);
    QCOMPARE(frame.has_value(), drawn);
    if (!drawn)
        return;
    QCOMPARE(frame->right, right);
    QCOMPARE(frame->text, text);
    QCOMPARE(frame->text, QString::number(frame->percent) + QLatin1Char('%'));
}

void TestConvert::mulDiv_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("numerator");
    QTest::addColumn<int>("denominator");
    QTest::addColumn<int>("result");

    QTest::newRow("half up") << 1 << 3 << 2 << 2;
    QTest::newRow("negative half away from zero") << -1 << 3 << 2 << -2;
    QTest::newRow("negative numerator") << 1 << -3 << 2 << -2;
    QTest::newRow("both negative") << -1 << -3 << 2 << 2;
    QTest::newRow("negative denominator") << 5 << 1 << -2 << -3;
    QTest::newRow("all negative") << -5 << -1 << -2 << -3;
    QTest::newRow("below half") << 1 << 1 << 3 << 0;
    QTest::newRow("above half") << 2 << 1 << 3 << 1;
    QTest::newRow("exact half of six") << 3 << 1 << 6 << 1;
    QTest::newRow("negative exact half") << -3 << 1 << 6 << -1;
    QTest::newRow("bar third") << 1 << 469 << 3 << 156;
    QTest::newRow("bar two thirds") << 2 << 469 << 3 << 313;
    QTest::newRow("zero") << 0 << 469 << 7 << 0;
    QTest::newRow("divide by zero") << 7 << 1 << 0 << -1;
    QTest::newRow("64-bit product") << INT_MAX << INT_MAX << INT_MAX << INT_MAX;
    QTest::newRow("product over 32 bits") << 100000 << 100000 << 1000 << 10000000;
    QTest::newRow("result too big") << INT_MAX << 2 << 1 << -1;
    QTest::newRow("result too small") << INT_MIN << 1 << 1 << -1;
}

void TestConvert::mulDiv()
{
    QFETCH(int, number);
    QFETCH(int, numerator);
    QFETCH(int, denominator);
    QFETCH(int, result);
    QCOMPARE(MulDiv(number, numerator, denominator), result);
}

QTEST_GUILESS_MAIN(TestConvert)
#include "tst_convert.moc"
