#include "common/testcommon.h"

#include "core/base/runandcapture.h"
#include "core/convert/reportline.h"
#include "core/convert/targetformat.h"
#include "core/joblist/joblistmodel.h"
#include "core/session/conversionsession.h"
#include "core/tags/entrytag.h"
#include "core/tags/foldercover.h"
#include "core/tags/outputtag.h"
#include "core/tags/tagreader.h"
#include "core/tags/tagwriter.h"
#include "core/tags/tid3v1.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Fields = QMap<QString, QStringList>;
Q_DECLARE_METATYPE(Fields)
Q_DECLARE_METATYPE(TagContainer)

namespace {

// A field of each kind: long Unicode values (one outside the BMP), several artists, album
// artist, track 3/12, disc 1/2, composer, lyrics, a custom field, ReplayGain, a mood.
Fields fullTag(bool vorbis, bool opus)
{
    const QString title =
        QStringLiteral("T\u00eftl\u00e9 \u2603 \U0001D11E \u65e5\u672c ").repeated(20);
    Fields f = {
        {u"TITLE"_qs, {title.trimmed()}},
        {u"ARTIST"_qs, {u"Artist One \u2603"_qs, u"Artist Two"_qs}},
        {u"ALBUM"_qs, {QStringLiteral("Alb\u00fcm \u00c6\u00f8 \u4e2d\u6587 ").repeated(15)}},
        {u"ALBUMARTIST"_qs, {u"\u00c4lbum \u00c4rtist"_qs}},
        {u"DATE"_qs, {u"2021-05-06"_qs}},
        {u"GENRE"_qs, {u"Synthpop"_qs}},
        {u"COMPOSER"_qs, {u"C\u00f6mposer"_qs}},
        {u"LYRICS"_qs, {u"First line \u266a\nSecond line"_qs}},
        {u"COMMENT"_qs, {u"A comment \u2713"_qs}},
        {u"WT_CUSTOM"_qs, {u"custom value \u2713"_qs}},
        {u"MOOD"_qs, {u"Calm"_qs}}, // a frame of ID3v2.4 alone
    };
    if (vorbis) {
        f.insert(u"TRACKNUMBER"_qs, {u"3"_qs});
        f.insert(u"TRACKTOTAL"_qs, {u"12"_qs});
        f.insert(u"DISCNUMBER"_qs, {u"1"_qs});
        f.insert(u"DISCTOTAL"_qs, {u"2"_qs});
    } else {
        f.insert(u"TRACKNUMBER"_qs, {u"3/12"_qs});
        f.insert(u"DISCNUMBER"_qs, {u"1/2"_qs});
    }
    if (opus) { // Opus keeps R128 gains: (-6.50 - 5) * 256 and (-7.25 - 5) * 256
        f.insert(u"R128_TRACK_GAIN"_qs, {u"-2944"_qs});
        f.insert(u"R128_ALBUM_GAIN"_qs, {u"-3136"_qs});
    } else {
        f.insert(u"REPLAYGAIN_TRACK_GAIN"_qs, {u"-6.50 dB"_qs});
        f.insert(u"REPLAYGAIN_TRACK_PEAK"_qs, {u"0.988553"_qs});
        f.insert(u"REPLAYGAIN_ALBUM_GAIN"_qs, {u"-7.25 dB"_qs});
        f.insert(u"REPLAYGAIN_ALBUM_PEAK"_qs, {u"1.000000"_qs});
    }
    return f;
}

// Fields as any container means them: number and total apart, totals under one name, Opus's
// R128 gains as ReplayGain's, nothing of the encoder's.
Fields canonical(Fields f)
{
    f.remove(u"ENCODER"_qs);
    f.remove(u"ENCODING"_qs);
    for (const auto &[number, total, alias] :
         {std::tuple(u"TRACKNUMBER"_qs, u"TRACKTOTAL"_qs, u"TOTALTRACKS"_qs),
          std::tuple(u"DISCNUMBER"_qs, u"DISCTOTAL"_qs, u"TOTALDISCS"_qs)}) {
        if (f.contains(alias))
            f.insert(total, f.take(alias));
        const QStringList parts = f.value(number).value(0).split(u'/');
        if (parts.size() == 2) {
            f.insert(number, {parts.at(0)});
            f.insert(total, {parts.at(1)});
        }
    }
    for (const char *which : {"TRACK", "ALBUM"}) {
        const QString r128 = QStringLiteral("R128_%1_GAIN").arg(QLatin1String(which));
        if (f.contains(r128))
            f.insert(QStringLiteral("REPLAYGAIN_%1_GAIN").arg(QLatin1String(which)),
                     {QString::asprintf("%.2f dB", f.take(r128).value(0).toInt() / 256.0 + 5)});
    }
    return f;
}

QString reportName(const QString &key)
{
    static const QMap<QString, QString> names = {{u"ALBUMARTIST"_qs, u"album_artist"_qs},
                                                 {u"TRACKNUMBER"_qs, u"track"_qs},
                                                 {u"TRACKTOTAL"_qs, u"track_total"_qs},
                                                 {u"DISCNUMBER"_qs, u"disc"_qs},
                                                 {u"DISCTOTAL"_qs, u"disc_total"_qs}};
    return names.value(key, key.toLower());
}

QStringList sorted(QStringList list)
{
    list.sort();
    return list;
}

QList<TagPicture> ordered(QList<TagPicture> pictures)
{
    std::stable_sort(pictures.begin(), pictures.end(),
                     [](const TagPicture &a, const TagPicture &b) {
                         return std::pair(a.type, a.data.size()) < std::pair(b.type, b.data.size());
                     });
    return pictures;
}

struct Source
{
    QString name;
    QString path;
    int bits = 16; // what a lossless output of it keeps
    bool isFloat = false;
};

} // namespace

class TestTagWriter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outputFields_data();
    void outputFields();
    void containerFields_data();
    void containerFields();
    void folderCover_data();
    void folderCover();
    void carriedOver_data();
    void carriedOver();
    void folderCoverAndTime_data();
    void folderCoverAndTime();

private:
    // Converts `source` alone to `format` into `outDir`, as the window and the command line
    // do; the model holds the ended row.
    bool convert(ConversionSession &session, const QString &source, const QString &format,
                 const QString &outDir);

    QTemporaryDir m_dir;
    QList<TagPicture> m_pictures;
    QList<Source> m_sources;
    QString m_plainFlac; // untagged, for the field table
};

void TestTagWriter::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!ffmpegPath().isEmpty(), "ffmpeg is needed");
    const QString src = m_dir.filePath(u"sources"_qs);
    QVERIFY(QDir().mkpath(src));
    // Two pictures of both kinds; the JPEG larger than an ASF attribute's 64 KiB and than
    // an Ogg page.
    QByteArray made;
    const QString png = m_dir.filePath(u"front.png"_qs);
    const QString jpeg = m_dir.filePath(u"back.jpg"_qs);
    QVERIFY(RunAndCapture(ffmpegPath(),
                          {u"-v"_qs, u"error"_qs, u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                           u"testsrc=s=64x64"_qs, u"-frames:v"_qs, u"1"_qs, png},
                          made)
                .succeeded());
    QVERIFY(RunAndCapture(ffmpegPath(),
                          {u"-v"_qs, u"error"_qs, u"-f"_qs, u"lavfi"_qs, u"-i"_qs,
                           u"nullsrc=s=400x300,geq=random(1)*255:128:128"_qs, u"-frames:v"_qs,
                           u"1"_qs, u"-q:v"_qs, u"2"_qs, jpeg},
                          made)
                .succeeded());
    m_pictures = {{3, u"Front \u2603"_qs, u"image/png"_qs, readFile(png)},
                  {4, u"back"_qs, u"image/jpeg"_qs, readFile(jpeg)}};
    QVERIFY(m_pictures.at(1).data.size() > 65536);

    // Each container the reader reads that holds tags, with the full tag and both pictures.
    struct Made
    {
        const char *name;
        const char *file;
        QStringList encode;
        int bits;
        bool isFloat;
        int id3v2;
    };
    const QList<Made> sources = {
        {"FLAC 24-bit",
         "flac24.flac",
         {u"-c:a"_qs, u"flac"_qs, u"-sample_fmt"_qs, u"s32"_qs},
         24,
         false,
         0},
        {"Ogg Vorbis", "vorbis.ogg", {u"-c:a"_qs, u"libvorbis"_qs}, 16, false, 0},
        {"Opus", "opus.opus", {u"-c:a"_qs, u"libopus"_qs}, 16, false, 0},
        {"M4A", "aac.m4a", {u"-c:a"_qs, u"aac"_qs}, 16, false, 0},
        {"ALAC 24-bit",
         "alac.m4a",
         {u"-c:a"_qs, u"alac"_qs, u"-sample_fmt"_qs, u"s32p"_qs},
         24,
         false,
         0},
        {"MP3 ID3v2.3", "v23.mp3", {}, 16, false, 3},
        {"MP3 ID3v2.4", "v24.mp3", {}, 16, false, 4},
        {"WMA", "wma.wma", {}, 16, false, 0},
        {"WavPack", "wavpack.wv", {}, 16, false, 0},
        {"APE", "ape.ape", {}, 16, false, 0},
        {"WAV float", "float.wav", {u"-c:a"_qs, u"pcm_f32le"_qs}, 32, true, 3},
    };
    for (const Made &m : sources) {
        const QString path = src + u'/' + QLatin1String(m.file);
        if (path.endsWith(u".ape"_qs)) // ffmpeg has no APE encoder: a copy of the one made once
            QVERIFY(QFile::copy(QStringLiteral(WT_TEST_DATA_DIR "/tone-0995ms-8k.ape"), path));
        else
            QVERIFY2(makeSine(path, 1, 48000, 2, m.encode), m.file);
        const bool vorbis =
            path.endsWith(u".flac"_qs) || path.endsWith(u".ogg"_qs) || path.endsWith(u".opus"_qs);
        QVERIFY2(writeTagLibTag(path, fullTag(vorbis, path.endsWith(u".opus"_qs)), m_pictures,
                                m.id3v2 ? m.id3v2 : 4),
                 m.file);
        m_sources.append({QString::fromLatin1(m.name), path, m.bits, m.isFloat});
    }
    m_plainFlac = m_dir.filePath(u"plain.flac"_qs);
    QVERIFY(makeSine(m_plainFlac, 0.2, 8000, 1));
}

// ---- The output tag: the source's fields with the entry's over them ----

void TestTagWriter::outputFields_data()
{
    QTest::addColumn<Fields>("source");
    QTest::addColumn<QStringList>("edits"); // "Artist=text", "clear:ARTIST", "Genre=17", ...
    QTest::addColumn<Fields>("expected");
    const Fields tagged = {{u"TITLE"_qs, {u"Song"_qs}},
                           {u"ARTIST"_qs, {u"A"_qs, u"B"_qs}},
                           {u"ALBUMARTIST"_qs, {u"AA"_qs}},
                           {u"TRACKNUMBER"_qs, {u"3/12"_qs}},
                           {u"GENRE"_qs, {u"Synthpop"_qs, u"Pop"_qs}}};
    Fields split = tagged;
    split.insert(u"TRACKNUMBER"_qs, {u"3"_qs});
    split.insert(u"TRACKTOTAL"_qs, {u"12"_qs});
    auto with = [](Fields f, const QString &key, const QStringList &values) {
        if (values.isEmpty())
            f.remove(key);
        else
            f.insert(key, values);
        return f;
    };
    QTest::newRow("unedited: every field and value") << tagged << QStringList() << split;
    QTest::newRow("edited: the entry's text")
        << tagged << QStringList{u"Artist=C"_qs} << with(split, u"ARTIST"_qs, {u"C"_qs});
    QTest::newRow("empty: the source's values")
        << tagged << QStringList{u"Artist="_qs, u"Title="_qs} << split;
    QTest::newRow("cleared in the editor: gone")
        << tagged << QStringList{u"Artist="_qs, u"clear:ARTIST"_qs, u"Title="_qs, u"clear:TITLE"_qs}
        << with(with(split, u"ARTIST"_qs, {}), u"TITLE"_qs, {});
    QTest::newRow("a field the tag lacks: the entry's")
        << tagged << QStringList{u"Album=Caf\xe9"_qs}
        << with(split, u"ALBUM"_qs, {u"Caf\u00e9"_qs});
    QTest::newRow("another genre: its name alone")
        << tagged << QStringList{u"Genre=17"_qs} << with(split, u"GENRE"_qs, {u"Rock"_qs});
    // TagLib spells ID3v1 genre 67 "Psychedelic", the list "Psychadelic".
    QTest::newRow("the same genre spelled otherwise: the source's")
        << with(tagged, u"GENRE"_qs, {u"Psychedelic"_qs}) << QStringList()
        << with(split, u"GENRE"_qs, {u"Psychedelic"_qs});
    QTest::newRow("no title: the file name the list shows is none")
        << with(tagged, u"TITLE"_qs, {}) << QStringList() << with(split, u"TITLE"_qs, {});
    QTest::newRow("totals under other names, the encoder's notes left out")
        << Fields{{u"TRACKNUMBER"_qs, {u"3"_qs}},
                  {u"TOTALTRACKS"_qs, {u"12"_qs}},
                  {u"DISCNUMBER"_qs, {u"1/2"_qs}},
                  {u"ENCODER"_qs, {u"Lavf59"_qs}}}
        << QStringList()
        << Fields{{u"TRACKNUMBER"_qs, {u"3"_qs}},
                  {u"TRACKTOTAL"_qs, {u"12"_qs}},
                  {u"DISCNUMBER"_qs, {u"1"_qs}},
                  {u"DISCTOTAL"_qs, {u"2"_qs}}};
    QTest::newRow("a track number the tag lacks: the entry's")
        << Fields{{u"TITLE"_qs, {u"Song"_qs}}} << QStringList{u"Track=7"_qs}
        << Fields{{u"TITLE"_qs, {u"Song"_qs}}, {u"TRACKNUMBER"_qs, {u"7"_qs}}};
}

// The entry as the reader makes it from a tagged file, edited as the tag editor would.
void TestTagWriter::outputFields()
{
    QFETCH(Fields, source);
    QFETCH(QStringList, edits);
    QFETCH(Fields, expected);
    const QString path = m_dir.filePath(u"fields.flac"_qs);
    QFile::remove(path);
    QVERIFY(QFile::copy(m_plainFlac, path));
    QVERIFY(writeTagLibTag(path, source));
    TID3v1 id3v1;
    ID3info entry = EntryFromFile(id3v1, path, u"fields.flac"_qs);
    for (const QString &edit : edits) {
        const QString value = edit.section(u'=', 1);
        const QByteArray bytes = value.toLatin1();
        if (edit.startsWith(u"clear:"_qs))
            entry.Cleared.insert(edit.mid(6));
        else if (edit.startsWith(u"Title="_qs))
            entry.Title = bytes;
        else if (edit.startsWith(u"Artist="_qs))
            entry.Artist = bytes;
        else if (edit.startsWith(u"Album="_qs))
            entry.Album = bytes;
        else if (edit.startsWith(u"Genre="_qs))
            entry.Genre = quint8(value.toInt());
        else if (edit.startsWith(u"Track="_qs))
            entry.Track = quint8(value.toInt());
    }
    QCOMPARE(OutputFields(entry), expected);
}

void TestTagWriter::containerFields_data()
{
    QTest::addColumn<TagContainer>("container");
    QTest::addColumn<Fields>("fields");
    QTest::addColumn<Fields>("expected");
    QTest::addColumn<QStringList>("dropped");
    const Fields gains = {{u"REPLAYGAIN_TRACK_GAIN"_qs, {u"-6.50 dB"_qs}},
                          {u"REPLAYGAIN_TRACK_PEAK"_qs, {u"0.98"_qs}},
                          {u"REPLAYGAIN_ALBUM_GAIN"_qs, {u"+2.5 dB"_qs}}};
    // RFC 7845: Q7.8 against -23 LUFS, 5 dB below ReplayGain's reference.
    QTest::newRow("Opus: R128 gains, no peak")
        << TagContainer::Opus << gains
        << Fields{{u"R128_TRACK_GAIN"_qs, {u"-2944"_qs}}, {u"R128_ALBUM_GAIN"_qs, {u"-640"_qs}}}
        << QStringList{u"REPLAYGAIN_TRACK_PEAK"_qs};
    QTest::newRow("Opus: its own R128 gains stay, out-of-range gains end at the Q7.8 limit")
        << TagContainer::Opus
        << Fields{{u"R128_TRACK_GAIN"_qs, {u"-100"_qs}},
                  {u"REPLAYGAIN_TRACK_GAIN"_qs, {u"-6.50 dB"_qs}},
                  {u"REPLAYGAIN_ALBUM_GAIN"_qs, {u"200 dB"_qs}}}
        << Fields{{u"R128_TRACK_GAIN"_qs, {u"-100"_qs}}, {u"R128_ALBUM_GAIN"_qs, {u"32767"_qs}}}
        << QStringList();
    QTest::newRow("MP3: ReplayGain from R128, track and disc with totals")
        << TagContainer::Mpeg
        << Fields{{u"R128_TRACK_GAIN"_qs, {u"-2944"_qs}},
                  {u"TRACKNUMBER"_qs, {u"3"_qs}},
                  {u"TRACKTOTAL"_qs, {u"12"_qs}},
                  {u"DISCNUMBER"_qs, {u"1"_qs}}}
        << Fields{{u"REPLAYGAIN_TRACK_GAIN"_qs, {u"-6.50 dB"_qs}},
                  {u"TRACKNUMBER"_qs, {u"3/12"_qs}},
                  {u"DISCNUMBER"_qs, {u"1"_qs}}}
        << QStringList();
    const Fields numbers = {{u"TRACKNUMBER"_qs, {u"3"_qs}}, {u"TRACKTOTAL"_qs, {u"12"_qs}}};
    QTest::newRow("M4A: trkn with its total")
        << TagContainer::Mp4 << numbers << Fields{{u"TRACKNUMBER"_qs, {u"3/12"_qs}}}
        << QStringList();
    QTest::newRow("FLAC: TRACKNUMBER and TRACKTOTAL")
        << TagContainer::Flac << numbers << numbers << QStringList();
    QTest::newRow("WMA: the total apart")
        << TagContainer::Asf << numbers << numbers << QStringList();
}

void TestTagWriter::containerFields()
{
    QFETCH(TagContainer, container);
    QFETCH(Fields, fields);
    QFETCH(Fields, expected);
    QFETCH(QStringList, dropped);
    QStringList lost;
    QCOMPARE(ContainerFields(container, fields, &lost), expected);
    QCOMPARE(lost, dropped);
}

// ---- The cover image beside the music ----

void TestTagWriter::folderCover_data()
{
    QTest::addColumn<QStringList>("files"); // name:kind, kind jpeg, png, text, big, fifo, dir
    QTest::addColumn<QString>("chosen");
    QTest::newRow("cover.jpg") << QStringList{u"cover.jpg:jpeg"_qs} << u"cover.jpg"_qs;
    QTest::newRow("cover before folder, any case")
        << QStringList{u"Folder.JPG:jpeg"_qs, u"COVER.png:png"_qs} << u"COVER.png"_qs;
    QTest::newRow("front before album art")
        << QStringList{u"AlbumArt.jpeg:jpeg"_qs, u"front.jpeg:jpeg"_qs} << u"front.jpeg"_qs;
    QTest::newRow("album art with a blank")
        << QStringList{u"Album Art.png:png"_qs} << u"Album Art.png"_qs;
    QTest::newRow("no cover name, no image type")
        << QStringList{u"notes.jpg:jpeg"_qs, u"cover.gif:jpeg"_qs, u"cover.jpg.txt:jpeg"_qs}
        << QString();
    QTest::newRow("what is no image, too large, a FIFO or a folder is passed over")
        << QStringList{u"cover.jpg:text"_qs, u"cover.png:big"_qs, u"folder.jpg:fifo"_qs,
                       u"front.png:dir"_qs, u"albumart.png:png"_qs}
        << u"albumart.png"_qs;
}

void TestTagWriter::folderCover()
{
    QFETCH(QStringList, files);
    QFETCH(QString, chosen);
    QTemporaryDir folder;
    for (const QString &file : files) {
        const QString path = folder.filePath(file.section(u':', 0, 0));
        const QString kind = file.section(u':', 1);
        if (kind == u"jpeg"_qs)
            QVERIFY(writeFile(path, m_pictures.at(1).data));
        else if (kind == u"png"_qs)
            QVERIFY(writeFile(path, m_pictures.at(0).data));
        else if (kind == u"text"_qs)
            QVERIFY(writeFile(path, "no image"));
        else if (kind == u"big"_qs) {
            QVERIFY(writeFile(path, m_pictures.at(0).data));
            QVERIFY(QFile::resize(path, MaxFolderCoverBytes + 1));
        } else if (kind == u"fifo"_qs)
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkdir(path));
    }
    const std::optional<EmbeddedPicture> cover = FolderCover(folder.path());
    QCOMPARE(cover.has_value(), !chosen.isEmpty());
    if (!cover)
        return;
    QCOMPARE(cover->data, readFile(folder.filePath(chosen)));
    QCOMPARE(cover->info.type, 3);
    QCOMPARE(cover->info.mimeType, chosen.endsWith(u"png"_qs) ? u"image/png"_qs : u"image/jpeg"_qs);
}

// ---- End to end, with the real ffmpeg ----

bool TestTagWriter::convert(ConversionSession &session, const QString &source,
                            const QString &format, const QString &outDir)
{
    ConversionOptions options = session.options();
    options.profile = {u"48000"_qs, u"128000"_qs, u"2"_qs}; // a rate every format takes
    options.outputDir = outDir;
    session.setOptions(options);
    session.setEncoderPath(ffmpegPath());
    session.model()->clear();
    QDir().mkpath(outDir);
    TID3v1 id3v1;
    const MediaInfo info = ReadMediaInfo(source, QFileInfo(source).fileName(), id3v1);
    session.model()->appendEntry(info.entry, info.seconds);
    QSignalSpy ended(&session, &ConversionSession::batchEnded);
    return session.startConversion(*TargetFormatForName(format)) && ended.wait(60000);
}

void TestTagWriter::carriedOver_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QString>("target");
    for (int s = 0; s < m_sources.size(); ++s) {
        for (const TargetFormat &f : TargetFormats())
            QTest::addRow("%s to %s", qPrintable(m_sources.at(s).name), qPrintable(f.cliName()))
                << s << f.cliName();
    }
}

// Every source to every target: each field the target can hold arrives as the source has it,
// each picture byte for byte, and what it cannot hold is named; lossless targets keep the
// source's resolution.
void TestTagWriter::carriedOver()
{
    QFETCH(int, source);
    QFETCH(QString, target);
    const Source &s = m_sources.at(source);
    const TagLibTag in = readTagLibTag(s.path);
    QVERIFY(in.fields.contains(u"WT_CUSTOM"_qs)); // the source has all it should
    QCOMPARE(in.pictures.size(), 2);
    ConversionSession session;
    const QString outDir = m_dir.filePath(QStringLiteral("out-%1-%2").arg(source).arg(target));
    QVERIFY(convert(session, s.path, target, outDir));
    const JobListModel &model = *session.model();
    QVERIFY2(model.status(0) == JobStatus::Finish, qPrintable(model.reason(0)));
    const QString out = model.run(0).output;
    QVERIFY(decodesCleanly(out));

    const Fields source0 = canonical(in.fields);
    const bool id3v1Only = target == u"aac"_qs || target == u"rm"_qs;
    QStringList notKept;
    if (id3v1Only) {
        // The ID3v1 block holds title, artist, album, year, comment and an ID3v1 genre.
        const QStringList held = {u"TITLE"_qs, u"ARTIST"_qs,  u"ALBUM"_qs,
                                  u"DATE"_qs,  u"COMMENT"_qs, u"GENRE"_qs};
        for (const QString &key : source0.keys()) {
            if (!held.contains(key))
                notKept << reportName(key);
        }
        notKept << u"picture"_qs;
        const QByteArray block = readFile(out).right(128);
        QVERIFY(block.startsWith("TAG" + source0.value(u"TITLE"_qs).value(0).toUtf8().left(8)));
        if (target == u"rm"_qs) {
            QCOMPARE(probeEntries(out, u"format_tags=title"_qs),
                     source0.value(u"TITLE"_qs).value(0));
            QCOMPARE(probeEntries(out, u"format_tags=author"_qs),
                     source0.value(u"ARTIST"_qs).join(u"; "_qs));
            QCOMPARE(probeEntries(out, u"format_tags=comment"_qs),
                     source0.value(u"COMMENT"_qs).value(0));
        }
    } else {
        const TagLibTag got = readTagLibTag(out);
        Fields expected = source0;
        if (target == u"wma"_qs) { // ASF's title, artist and comment hold one text
            for (const QString &single : {u"TITLE"_qs, u"ARTIST"_qs, u"COMMENT"_qs})
                expected.insert(single, {expected.value(single).join(u"; "_qs)});
        }
        if (target == u"opus"_qs) { // RFC 7845: no REPLAYGAIN_* in Opus, no place for peaks
            for (const QString &peak : {u"REPLAYGAIN_TRACK_PEAK"_qs, u"REPLAYGAIN_ALBUM_PEAK"_qs}) {
                if (expected.remove(peak))
                    notKept << reportName(peak);
            }
        }
        QCOMPARE(canonical(got.fields), expected);
        if (target == u"m4a"_qs) { // no types in MP4: the front cover first
            QCOMPARE(got.pictures.size(), 2);
            const int front = in.pictures.at(1).type == 3 && in.pictures.at(0).type != 3 ? 1 : 0;
            QCOMPARE(got.pictures.at(0).data, in.pictures.at(front).data);
            QCOMPARE(got.pictures.at(1).data, in.pictures.at(1 - front).data);
        } else if (target == u"wma"_qs) {
            // TagLib keeps a picture over 64 KiB in ASF's metadata library, which it reads
            // before the other attributes: the pictures are all there, not in order.
            QCOMPARE(ordered(got.pictures), ordered(in.pictures));
        } else {
            QCOMPARE(got.pictures, in.pictures);
        }
    }
    QCOMPARE(sorted(model.run(0).notKept.value_or(QStringList{u"null"_qs})), sorted(notKept));
    const QJsonObject report = QJsonDocument::fromJson(ReportLine(model, 0)).object();
    QCOMPARE(sorted(report.value(u"not_kept"_qs).toVariant().toStringList()), sorted(notKept));
    QCOMPARE(model.reason(0).contains(u"cannot keep"_qs), !notKept.isEmpty());

    // The sound is the first stream; ffprobe shows the pictures as streams after it.
    if (target == u"flac"_qs)
        QCOMPARE(probeEntries(out, u"stream=bits_per_raw_sample"_qs).section(u'\n', 0, 0),
                 QString::number(s.bits > 16 ? 24 : 16));
    if (target == u"wav"_qs)
        QCOMPARE(probeEntries(out, u"stream=codec_name"_qs).section(u'\n', 0, 0),
                 QStringLiteral("pcm_%1%2le")
                     .arg(s.isFloat ? QLatin1Char('f') : QLatin1Char('s'))
                     .arg(s.bits));
}

void TestTagWriter::folderCoverAndTime_data()
{
    QTest::addColumn<bool>("on");
    QTest::newRow("settings on") << true;
    QTest::newRow("settings off (the defaults are on and off)") << false;
}

// A source without a picture gets its folder's cover; the output is dated as its source.
void TestTagWriter::folderCoverAndTime()
{
    QFETCH(bool, on);
    QTemporaryDir folder;
    const QString source = folder.filePath(u"song.wav"_qs);
    QVERIFY(makeSine(source, 0.5, 48000, 2));
    QVERIFY(writeFile(folder.filePath(u"Cover.JPG"_qs), m_pictures.at(1).data));
    const QDateTime old = QDateTime::fromSecsSinceEpoch(1000000000); // 2001
    {
        QFile file(source);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    ConversionSession session;
    ConversionOptions options = session.options();
    options.tags.coverFromFolder = on;
    options.tags.keepSourceTime = on;
    session.setOptions(options);
    QVERIFY(convert(session, source, u"mp3"_qs, folder.filePath(u"out"_qs)));
    QCOMPARE(session.model()->status(0), JobStatus::Finish);
    const QString out = session.model()->run(0).output;
    const QList<TagPicture> pictures = readTagLibTag(out).pictures;
    QCOMPARE(pictures.size(), on ? 1 : 0);
    if (on) {
        QCOMPARE(pictures.first().data, m_pictures.at(1).data);
        QCOMPARE(pictures.first().type, 3);
    }
    QCOMPARE(QFileInfo(out).lastModified() == old, on);
}

QTEST_GUILESS_MAIN(TestTagWriter)
#include "tst_tagwriter.moc"
