#include "common/testcommon.h"

#include "core/tags/asfheader.h"
#include "core/tags/entrytag.h"
#include "core/tags/tagpictures.h"
#include "core/tags/tagreader.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <taglib/tfilestream.h>

#include <future>
#include <vector>

namespace {

// A real 1x1 PNG.
const QByteArray Png = QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlE"
                                              "QVR42mP8z8BQDwAEhQGAhKmMIQAAAABJRU5ErkJggg==");

// Long values in several scripts, none of which fits in ISO-8859-1.
QString longText(const char *what)
{
    QStringList parts;
    for (int i = 0; i < 6; ++i)
        parts << QString::fromUtf8(what) + u" Ünïcødé 漢字 Кириллица العربية 🎵 "_qs +
                     QString::number(i);
    return parts.join(u" · "_qs);
}

const QStringList AllExtras = {QStringLiteral("ALBUMARTIST"),
                               QStringLiteral("TRACKNUMBER"),
                               QStringLiteral("DISCNUMBER"),
                               QStringLiteral("COMPOSER"),
                               QStringLiteral("LYRICS"),
                               QStringLiteral("REPLAYGAIN_TRACK_GAIN"),
                               QStringLiteral("MUSICBRAINZ_TRACKID"),
                               QStringLiteral("WAVETRANSMUTER_TEST")};

// One type of source: how to make it, and what its tag and time hold where formats differ.
struct Container
{
    QString fileName;
    QStringList encode; // ffmpeg's output options; empty: copied from `dataFile`
    QString dataFile;   // a file of tests/data, for types ffmpeg cannot make
    int rate = 22050;
    int id3v2Version = 4;
    QString renameTo;          // the name the file is read under, when its extension lies
    int bits = 0;              // bitsPerSample expected
    int seconds = -2;          // -2: as ffmpeg's Duration line; -1: none; else this many
    bool severalValues = true; // the format keeps two artists apart
    bool pictures = true;
    QStringList kept;            // extra fields the format keeps
    bool tagLib = true;          // TagLib reads the type
    bool taggedByFfmpeg = false; // a title through ffmpeg, no TagLib tag
    int channels = 1;
};

QMap<QString, QStringList> extraValues()
{
    return {{QStringLiteral("ALBUMARTIST"), {longText("album artist")}},
            {QStringLiteral("TRACKNUMBER"), {QStringLiteral("3/12")}},
            {QStringLiteral("DISCNUMBER"), {QStringLiteral("1/2")}},
            {QStringLiteral("COMPOSER"), {u"Kompønist 作曲家"_qs}},
            {QStringLiteral("LYRICS"), {longText("lyrics")}},
            {QStringLiteral("REPLAYGAIN_TRACK_GAIN"), {QStringLiteral("-6.50 dB")}},
            {QStringLiteral("MUSICBRAINZ_TRACKID"),
             {QStringLiteral("0f6e4b5a-1c1d-4e1e-9f3a-2b7c8d9e0a1b")}},
            {QStringLiteral("WAVETRANSMUTER_TEST"), {u"custom välue"_qs}}};
}

bool asfHeaderAddsUp(const QString &path)
{
    TagLib::FileStream stream(QFile::encodeName(path).constData(), true);
    return AsfHeader(AsfHeader::read(stream)).isSound();
}

} // namespace

Q_DECLARE_METATYPE(Container)

class TestTagReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase()
    {
        if (ffmpegPath().isEmpty())
            QSKIP("ffmpeg is not installed");
    }

    void readsEveryContainer_data()
    {
        QTest::addColumn<Container>("c");
        // ffmpeg's output options for one codec, with a bitrate for the lossy ones.
        const auto codec = [](const char *name, const char *bitrate = nullptr) {
            QStringList options{QStringLiteral("-c:a"), QString::fromLatin1(name)};
            if (bitrate)
                options << QStringLiteral("-b:a") << QString::fromLatin1(bitrate);
            return options;
        };
        const auto made = [](const char *fileName, const QStringList &encode, int bits = 0) {
            Container c;
            c.fileName = QString::fromLatin1(fileName);
            c.encode = encode;
            c.bits = bits;
            return c;
        };
        const auto row = [](const char *name, const Container &c) { QTest::newRow(name) << c; };

        row("mp3, ID3v2.4", made("a.mp3", codec("libmp3lame", "32k")));
        Container mp3v3 = made("a.mp3", codec("libmp3lame", "32k"));
        mp3v3.id3v2Version = 3;
        row("mp3, ID3v2.3", mp3v3);
        // Without a Xing header ffmpeg guesses the length from the bitrate; so it is left to it.
        Container noFrameCount =
            made("a.mp3", codec("libmp3lame", "32k")
                              << QStringLiteral("-write_xing") << QStringLiteral("0"));
        noFrameCount.seconds = -1;
        row("mp3 without a frame count", noFrameCount);
        row("flac", made("a.flac", codec("flac"), 16));
        Container lying = made("a.flac", codec("flac"), 16);
        lying.renameTo = QStringLiteral("flac.mp3");
        row("flac named .mp3", lying);
        row("ogg vorbis", made("a.ogg", codec("libvorbis")));
        Container opus = made("a.opus", codec("libopus", "16k"));
        opus.rate = 48000;
        row("opus", opus);
        row("m4a, AAC", made("a.m4a", codec("aac", "32k")));
        Container stereo = made("a.m4a", codec("aac", "32k"));
        stereo.channels = 2;
        row("m4a, AAC stereo", stereo);
        row("m4a, ALAC", made("a.m4a", codec("alac"), 16));
        row("aiff", made("a.aiff", codec("pcm_s16be"), 16));
        row("wav", made("a.wav", codec("pcm_s16le"), 16));
        row("wavpack", made("a.wv", codec("wavpack"), 16));
        row("tta", made("a.tta", codec("tta"), 16));
        // TagLib leaves the header's file size as it was, after which ffmpeg no longer trusts
        // the header's length and estimates one: so does the reader, by leaving it to ffmpeg.
        Container wma = made("a.wma", codec("wmav2", "32k"));
        wma.seconds = -1;
        wma.severalValues = false; // TagLib keeps one author
        row("wma", wma);
        Container wmaByFfmpeg = made("a.wma", codec("wmav2", "32k"));
        wmaByFfmpeg.taggedByFfmpeg = true;
        row("wma tagged by ffmpeg", wmaByFfmpeg);
        // ffmpeg has no encoder for these two; the files were made once from a 0.995 s sine
        // (jmac's "c2", mpcenc --quality 1).
        Container ape = made("a.ape", {}, 16);
        ape.dataFile = QStringLiteral("tone-0995ms-8k.ape");
        ape.rate = 8000;
        row("monkey's audio", ape);
        // ffmpeg times Musepack in blocks of 1.67 s ("N/A" here); the reader gives the true length.
        Container mpc = made("a.mpc", {});
        mpc.dataFile = QStringLiteral("tone-0995ms-44k.mpc");
        mpc.rate = 44100;
        mpc.seconds = 1;
        row("musepack", mpc);
        Container matroska = made("a.mka", codec("flac"));
        matroska.tagLib = false;
        matroska.taggedByFfmpeg = true;
        matroska.seconds = -1;
        row("matroska, which only ffmpeg reads", matroska);
    }

    void readsEveryContainer()
    {
        QFETCH(Container, c);
        const QString dir = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(QDir().mkpath(dir));
        QString file = dir + QLatin1Char('/') + c.fileName;
        const QString title = longText("title");
        // What TagLib cannot read gets ffmpeg's tag, which the reader must pass over.
        const QStringList metadata{QStringLiteral("-metadata"), QStringLiteral("title=") + title};
        if (c.encode.isEmpty())
            QVERIFY(QFile::copy(QStringLiteral(WT_TEST_DATA_DIR "/") + c.dataFile, file));
        else
            QVERIFY(makeSine(file, 0.995, c.rate, c.channels,
                             c.taggedByFfmpeg ? c.encode + metadata : c.encode));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner));

        const QStringList artists{longText("artist"), u"Zweiter Künstler"_qs};
        QMap<QString, QStringList> tag = extraValues();
        tag.insert(QStringLiteral("TITLE"), {title});
        tag.insert(QStringLiteral("ARTIST"), artists);
        tag.insert(QStringLiteral("ALBUM"), {longText("album")});
        tag.insert(QStringLiteral("DATE"), {QStringLiteral("2024")});
        tag.insert(QStringLiteral("GENRE"), {QStringLiteral("hard rock")});
        tag.insert(QStringLiteral("COMMENT"), {longText("comment")});
        if (!c.taggedByFfmpeg)
            QVERIFY(writeTagLibTag(file, tag, Png, c.id3v2Version));
        if (!c.renameTo.isEmpty()) {
            const QString renamed = dir + QLatin1Char('/') + c.renameTo;
            QVERIFY(QFile::rename(file, renamed));
            file = renamed;
        }

        const MediaInfo info = ReadMediaInfo(file, QStringLiteral("fallback"));
        QCOMPARE(info.tagLibRead, c.tagLib);
        const int expectedSeconds = c.seconds == -2 ? ffmpegSeconds(file) : c.seconds;
        QVERIFY(c.seconds != -2 || expectedSeconds > 0);
        QCOMPARE(info.seconds.value_or(-1), expectedSeconds);
        if (!c.tagLib) {
            QCOMPARE(info.entry.Title, QByteArray("fallback"));
            QVERIFY(info.entry.Properties.isEmpty() && info.entry.Pictures.isEmpty());
            return;
        }
        QCOMPARE(info.sampleRate, c.rate);
        QCOMPARE(info.channels, c.channels);
        if (c.taggedByFfmpeg) {
            QCOMPARE(TagTextToDisplay(info.entry.Title), title);
            return;
        }
        QCOMPARE(info.bitsPerSample, c.bits);

        // The entry: full values, stored as typed text is; the genre by its ID3v1 number.
        const ID3info &e = info.entry;
        QCOMPARE(TagTextToDisplay(e.Title), title);
        QCOMPARE(e.Title, DisplayToTagText(title));
        QCOMPARE(e.EditTitle, e.Title);
        QCOMPARE(TagTextToDisplay(e.Album), longText("album"));
        QCOMPARE(TagTextToDisplay(e.Comment), longText("comment"));
        QCOMPARE(e.Year, QByteArray("2024"));
        QCOMPARE(e.Genre, quint8(79));
        QCOMPARE(e.GenreName, QByteArray("Hard Rock"));
        QCOMPARE(e.Track, quint8(3));
        if (c.severalValues) {
            QCOMPARE(e.Properties.value(QStringLiteral("ARTIST")), artists);
            QCOMPARE(TagTextToDisplay(e.Artist), artists.join(u"; "_qs));
        }
        const QMap<QString, QStringList> extras = extraValues();
        for (const QString &key : c.kept)
            QVERIFY2(e.Properties.value(key) == extras.value(key),
                     qPrintable(key + QLatin1String(": ") +
                                e.Properties.value(key).join(QLatin1Char('|'))));

        // Pictures: described in the entry, bytes read on demand.
        QCOMPARE(e.Pictures.size(), 1);
        QCOMPARE(e.Pictures.first().mimeType, QStringLiteral("image/png"));
        QCOMPARE(e.Pictures.first().size, Png.size());
        QCOMPARE(e.Pictures.first().type, 3);
        const QList<EmbeddedPicture> pictures = ReadPictures(file);
        QCOMPARE(pictures.size(), 1);
        QCOMPARE(pictures.first().info, e.Pictures.first());
        QCOMPARE(pictures.first().data, Png);
    }

    // Where an MP3 has an ID3v1 block besides its ID3v2 tag, ID3v2 wins for each field it
    // has; the block fills the rest, byte for byte.
    void fullerTagWinsOverId3v1_data()
    {
        QTest::addColumn<QStringList>("id3v2");       // field=value pairs
        QTest::addColumn<QByteArrayList>("expected"); // title, artist, album, year, comment,
                                                      // genre name, genre number, track
        QTest::newRow("title and artist")
            << QStringList{u"TITLE=Vollständiger Titel, länger als dreißig Zeichen"_qs,
                           u"ARTIST=Ærtist"_qs}
            << QByteArrayList{"Vollst\xe4ndiger Titel, l\xe4nger als drei\xdfig Zeichen",
                              "\xc6rtist",
                              "Alb\xe9",
                              "1999",
                              "v1 comment",
                              "Jazz",
                              "8",
                              "7"};
        QTest::newRow("every field")
            << QStringList{u"TITLE=T"_qs,         u"ARTIST=A"_qs,  u"ALBUM=Ω album"_qs,
                           u"DATE=2001-02-03"_qs, u"COMMENT=C"_qs, u"GENRE=trance"_qs,
                           u"TRACKNUMBER=3/12"_qs}
            << QByteArrayList{"T", "A", "\xce\xa9 album", "2001-02-03", "C", "Trance", "31", "3"};
        QTest::newRow("genre without a number")
            << QStringList{u"GENRE=Ørkenrock"_qs}
            << QByteArrayList{"v1 title",   "v1 artist",    "Alb\xe9", "1999",
                              "v1 comment", "\xd8rkenrock", "255",     "7"};
        QTest::newRow("genre as TagLib spells it")
            << QStringList{u"GENRE=Psychedelic"_qs}
            << QByteArrayList{"v1 title",   "v1 artist",   "Alb\xe9", "1999",
                              "v1 comment", "Psychadelic", "67",      "7"};
        QTest::newRow("empty fields and a track beyond 255")
            << QStringList{u"TITLE="_qs, u"ALBUM=Neu"_qs, u"TRACKNUMBER=300"_qs}
            << QByteArrayList{"v1 title",   "v1 artist", "Neu", "1999",
                              "v1 comment", "Jazz",      "8",   "7"};
    }
    void fullerTagWinsOverId3v1()
    {
        QFETCH(QStringList, id3v2);
        QFETCH(QByteArrayList, expected);
        const QString file = m_dir.filePath(QStringLiteral("merge.mp3"));
        QVERIFY(
            makeSine(file, 0.5, 22050, 1, {QStringLiteral("-c:a"), QStringLiteral("libmp3lame")}));
        QMap<QString, QStringList> fields;
        for (const QString &pair : id3v2)
            fields.insert(pair.section(QLatin1Char('='), 0, 0),
                          {pair.section(QLatin1Char('='), 1)});
        QVERIFY(writeTagLibTag(file, fields));
        TID3v1 block;
        block.SetTitle("v1 title");
        block.SetArtist("v1 artist");
        block.SetAlbum("Alb\xe9");
        block.SetYear("1999");
        block.SetComment("v1 comment");
        block.Track = 7;
        block.SetGenreIndex(8);
        QVERIFY(block.WriteToFile(file));

        TID3v1 read;
        const ID3info e = ReadMediaInfo(file, QStringLiteral("fallback"), read).entry;
        QCOMPARE(read.Title, QByteArray("v1 title")); // the block as it is, for the caller
        QCOMPARE((QByteArrayList{e.Title, e.Artist, e.Album, e.Year, e.Comment, e.GenreName,
                                 QByteArray::number(e.Genre), QByteArray::number(e.Track)}),
                 expected);
        // The old entry point gives the same entry.
        QCOMPARE(EntryFromFile(read, file, QStringLiteral("fallback")).Title, e.Title);
    }

    // An ASF header whose counts TagLib would believe to its cost goes to ffmpeg alone; a
    // well-formed one is read.
    void asfHeaderMustAddUp_data()
    {
        QTest::addColumn<QString>("hostile"); // fuzzing findings
        QTest::newRow("descriptor count beyond its object")
            << QStringLiteral("asf-descriptor-count-beyond-object");
        QTest::newRow("header size out of range") << QStringLiteral("asf-header-size-out-of-range");
    }
    void asfHeaderMustAddUp()
    {
        QFETCH(QString, hostile);
        const QString corpus = QStringLiteral(WT_SOURCE_DIR "/tests/fuzz/mediainfo/corpus/");
        const QString file = m_dir.filePath(QStringLiteral("hostile.wma"));
        QFile::remove(file);
        QVERIFY(QFile::copy(corpus + hostile, file));
        QVERIFY(!asfHeaderAddsUp(file));
        QVERIFY(asfHeaderAddsUp(corpus + QStringLiteral("a-wma")));
        const MediaInfo refused = ReadMediaInfo(file, QStringLiteral("fallback"));
        QVERIFY(!refused.tagLibRead && !refused.seconds);
        QCOMPARE(refused.entry.Title, QByteArray("fallback"));
        const MediaInfo read = ReadMediaInfo(corpus + QStringLiteral("a-wma"), {});
        QVERIFY(read.tagLibRead);
        QCOMPARE(TagTextToDisplay(read.entry.Title), u"Tïtle ☃"_qs);
        QCOMPARE(read.entry.Pictures.size(), 1);
    }

    // Worker threads read side by side: every container at once gives what one read gives.
    void readsAlikeInSeveralThreads()
    {
        const QDir corpus(QStringLiteral(WT_SOURCE_DIR "/tests/fuzz/mediainfo/corpus"));
        const QStringList files = corpus.entryList(QDir::Files, QDir::Name);
        QVERIFY(files.size() >= 10);
        const auto readAll = [&] {
            QList<MediaInfo> read;
            for (const QString &name : files)
                read << ReadMediaInfo(corpus.filePath(name), name);
            return read;
        };
        const QList<MediaInfo> alone = readAll();
        std::vector<std::future<QList<MediaInfo>>> threads;
        for (int i = 0; i < 4; ++i)
            threads.push_back(std::async(std::launch::async, readAll));
        for (std::future<QList<MediaInfo>> &thread : threads) {
            const QList<MediaInfo> read = thread.get();
            for (qsizetype i = 0; i < files.size(); ++i) {
                const MediaInfo &a = alone.at(i), &b = read.at(i);
                QVERIFY2(a.entry.Title == b.entry.Title &&
                             a.entry.Properties == b.entry.Properties &&
                             a.entry.Pictures == b.entry.Pictures && a.seconds == b.seconds &&
                             a.sampleRate == b.sampleRate && a.tagLibRead == b.tagLibRead,
                         qPrintable(files.at(i)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestTagReader)
#include "tst_tagreader.moc"
