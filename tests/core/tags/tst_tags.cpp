#include "common/testcommon.h"

#include "core/tags/entrytag.h"
#include "core/tags/tagblock.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cctype>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char Letters[] = "abcdefghijklmnopqrstuvwxyzAB";

QByteArray audioBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 1) % 251);
    return bytes;
}

QByteArray tagBlock(const QByteArray &title, const QByteArray &artist = {},
                    const QByteArray &album = {}, const QByteArray &year = {},
                    const QByteArray &comment = {}, quint8 genre = 255)
{
    QByteArray block(128, '\0');
    block.replace(0, 3, "TAG");
    block.replace(3, title.size(), title);
    block.replace(33, artist.size(), artist);
    block.replace(63, album.size(), album);
    block.replace(93, year.size(), year);
    block.replace(97, comment.size(), comment);
    block[127] = char(genre);
    return block;
}

// The file's type and permission bits, 0 when nothing is there.
mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

int openDescriptorCount()
{
    return int(
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System).size());
}

// Every file-level entry point by name, so the failure cases share one table.
bool runOperation(const QString &operation, const QString &path)
{
    TID3v1 tag;
    tag.SetTitle("New title");
    QByteArray block;
    if (operation == QLatin1String("ReadTagBlock"))
        return ReadTagBlock(path, block);
    if (operation == QLatin1String("CutTagBlock"))
        return CutTagBlock(path);
    if (operation == QLatin1String("AppendTagBlock"))
        return AppendTagBlock(path, tagBlock("x"));
    if (operation == QLatin1String("ReadFromFile"))
        return tag.ReadFromFile(path);
    if (operation == QLatin1String("WriteToFile"))
        return tag.WriteToFile(path);
    if (operation == QLatin1String("RemoveTag"))
        return tag.RemoveTag(path);
    ID3info entry;
    entry.Title = "Entry";
    return WriteEntryTag(tag, entry, path);
}

} // namespace

class TestTags : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void readsFields_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("version");
        QTest::addColumn<int>("track");
        QTest::addColumn<QByteArray>("title"); // empty: no tag
        QTest::addColumn<QByteArray>("comment");
        auto row = [](const char *name, const QByteArray &block, int version, int track,
                      const QByteArray &title = "T", const QByteArray &comment = Letters) {
            QTest::newRow(name) << block << version << track << title << comment;
        };
        const QByteArray base = tagBlock("T", "Artist", {}, {}, Letters);
        auto marked = [&](const char *marker) { return QByteArray(base).replace(0, 3, marker); };
        auto at125 = [&](const char *two) {
            return QByteArray(base).replace(125, 2, QByteArray(two, 2));
        };
        auto titled = [&](const QByteArray &field) {
            return QByteArray(base).replace(3, 30, field.leftJustified(30, '\0'));
        };
        row("marker tag", marked("tag"), 1, 0, {}, {});
        row("marker tAG", marked("tAG"), 1, 0, {}, {});
        row("00 07", at125("\0\x07"), 2, 7);
        row("20 78", at125("\x20\x78"), 2, 120);
        row("00 00", at125("\0\0"), 1, 0);
        row("20 00", at125("\x20\0"), 2, 0);
        row("20 20", at125("\x20\x20"), 1, 0);
        row("43 44", at125("CD"), 1, 0, "T", Letters + QByteArray("CD"));
        row("00 20", at125("\0\x20"), 2, 32);
        // Trailing blanks and controls go; everything up to the last printable byte stays.
        row("letters and blanks", titled("Hello" + QByteArray(25, ' ')), 1, 0, "Hello");
        row("inner zero byte", titled(QByteArrayLiteral("Hello\0abc")), 1, 0,
            QByteArrayLiteral("Hello\0abc"));
        row("trailing controls", titled("Hi\t\r\n\x1f\x01 "), 1, 0, "Hi");
        row("leading blanks, high bytes", titled("  Hi\xa0\xff"), 1, 0, "  Hi\xa0\xff");
        row("full field", titled(QByteArray(30, 'x')), 1, 0, QByteArray(30, 'x'));
    }

    void readsFields()
    {
        QFETCH(QByteArray, block);
        QFETCH(int, version);
        QFETCH(int, track);
        QFETCH(QByteArray, title);
        QFETCH(QByteArray, comment);
        const QString file = path(QStringLiteral("read.mp3"));
        QVERIFY(writeFile(file, audioBytes(300) + block));
        TID3v1 tag;
        tag.SetAlbum("stale");
        QVERIFY(tag.ReadFromFile(file));
        QCOMPARE(tag.HasTag, !title.isEmpty());
        QCOMPARE(int(tag.TagVersion), version);
        QCOMPARE(int(tag.Track), track);
        QCOMPARE(tag.Title, title);
        // The artist right behind the title shows a read that runs over the field.
        QCOMPARE(tag.Artist + tag.Album, QByteArray(title.isEmpty() ? "" : "Artist"));
        QCOMPARE(tag.Comment, comment);
    }

    void refusesUnusableFile_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"missing", "0 bytes", "127 bytes", "fifo"}) {
            for (const char *operation :
                 {"ReadTagBlock", "CutTagBlock", "AppendTagBlock", "ReadFromFile", "WriteToFile",
                  "RemoveTag", "WriteEntryTag"}) {
                // Appending a block to a short file is allowed.
                if (qstrcmp(operation, "AppendTagBlock") != 0 || !isdigit(kind[0]))
                    QTest::addRow("%s %s", operation, kind)
                        << QString::fromLatin1(operation) << QString::fromLatin1(kind);
            }
        }
    }

    void refusesUnusableFile()
    {
        QFETCH(QString, operation);
        QFETCH(QString, kind);
        const QString file = path(QStringLiteral("bad.mp3"));
        const QByteArray native = QFile::encodeName(file);
        const bool missing = kind == QLatin1String("missing");
        const bool fifo = kind == QLatin1String("fifo");
        // Starts with a marker, so a routine that forgot the size check would cut it.
        const QByteArray content = tagBlock("Short").left(kind.startsWith(u'1') ? 127 : 0);
        QFile::remove(file);
        QVERIFY(missing ||
                ((fifo ? ::mkfifo(native.constData(), 0600) == 0 : writeFile(file, content)) &&
                 ::chmod(native.constData(), 0444) == 0));

        const int descriptors = openDescriptorCount();
        auto result = std::async(std::launch::async, [&] { return runOperation(operation, file); });
        if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // Free the stuck call (a reader gets bytes, a writer a peer) so the test can report.
            const int fd = ::open(native.constData(), O_RDWR | O_NONBLOCK);
            QVERIFY(::write(fd, QByteArray(128, 'x').constData(), 128) == 128);
            ::close(fd);
            QFAIL("the operation blocked");
        }
        QVERIFY(!result.get());
        QCOMPARE(openDescriptorCount(), descriptors);
        // Nothing is created, nothing changes, not even the permissions.
        QCOMPARE(modeOf(file), missing ? mode_t(0) : mode_t((fifo ? S_IFIFO : S_IFREG) | 0444));
        if (!fifo)
            QCOMPARE(readFile(file), content);
    }

    void settersTrimThenCut_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("field"); // title, artist, album and comment
        QTest::addColumn<QByteArray>("year");
        auto row = [](const char *name, const QByteArray &text, const QByteArray &field,
                      const QByteArray &year) { QTest::newRow(name) << text << field << year; };
        const QByteArray forty = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
        const QByteArray a29(29, 'a');
        row("forty bytes", forty, forty.left(30), "abcd");
        row("cut after trim", "abc" + QByteArray(40, ' ') + "d", "abc" + QByteArray(27, ' '),
            "abc ");
        row("trailing controls", QByteArrayLiteral("Band\t\r\n\0 "), "Band", "Band");
        row("leading blanks stay", "  LP  ", "  LP", "  LP");
        row("high byte stays", "Note\xa0", "Note\xa0", "Note");
        row("only blanks", QByteArray(50, ' '), {}, {});
        row("utf-8 cut on a character", a29 + "\xc3\xa9", a29, "aaaa");
        row("latin-1 cut on a byte", a29 + "\xe9\xe9", a29 + "\xe9", "aaaa");
        row("year of five", "1999a", "1999a", "1999");
        row("year with blanks", " 99 ", " 99", " 99");
        row("utf-8 year", "199\xc3\xa9", "199\xc3\xa9", "199");
    }

    void settersTrimThenCut()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, field);
        QFETCH(QByteArray, year);
        TID3v1 tag;
        tag.SetTitle(text);
        tag.SetArtist(text);
        tag.SetAlbum(text);
        tag.SetComment(text);
        tag.SetYear(text);
        for (const QByteArray *stored : {&tag.Title, &tag.Artist, &tag.Album, &tag.Comment})
            QCOMPARE(*stored, field);
        QCOMPARE(tag.Year, year);
    }

    void trackOverwritesCommentBytes()
    {
        const QByteArray comment = "abcdefghijklmnopqrstuvwxyz0123";
        const QString file = path(QStringLiteral("track.mp3"));
        QVERIFY(writeFile(file, audioBytes(200) + tagBlock("T").replace(126, 1, "\3")));
        TID3v1 tag;
        QVERIFY(tag.ReadFromFile(file));
        // With a track the comment keeps 28 bytes; without one all 30.
        tag.SetComment(comment);
        QVERIFY(tag.WriteToFile(file));
        QCOMPARE(readFile(file).mid(200 + 97, 30), comment.left(28) + QByteArray("\0\3", 2));
        tag.ResetFields();
        tag.SetComment(comment);
        QVERIFY(tag.WriteToFile(file));
        QCOMPARE(readFile(file), audioBytes(200) + tagBlock({}, {}, {}, {}, comment));
    }

    void writingTwiceLeavesOneTag()
    {
        // With no audio the tag is the whole 128-byte file, and replacing it passes through empty.
        for (int size : {0, 1000}) {
            const QByteArray audio = audioBytes(size);
            const QString file = path(QStringLiteral("twice.mp3"));
            QVERIFY(writeFile(file, audio + tagBlock("Old")));
            TID3v1 tag;
            QVERIFY(tag.ReadFromFile(file));
            QCOMPARE(tag.Title, QByteArray("Old"));
            for (const QByteArray &title : {QByteArray("First"), QByteArray("Second")}) {
                tag.SetTitle(title);
                QVERIFY(tag.WriteToFile(file));
                QCOMPARE(readFile(file), audio + tagBlock(title));
            }
            QVERIFY(tag.RemoveTag(file));
            QCOMPARE(readFile(file), audio);
            // A file without a tag has nothing to remove, unless it is too short to be audio.
            QCOMPARE(tag.RemoveTag(file), size > 0);
            QCOMPARE(readFile(file), audio);
        }
    }

    void genreNames_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QByteArray>("name");
        QTest::newRow("0") << 0 << QByteArray("Blues");
        QTest::newRow("17") << 17 << QByteArray("Rock");
        QTest::newRow("92") << 92 << QByteArray("Progessive Rock");
        QTest::newRow("147") << 147 << QByteArray("Synthpop");
        QTest::newRow("148") << 148 << QByteArray();
        QTest::newRow("255") << 255 << QByteArray();
    }

    void genreNames()
    {
        QFETCH(int, index);
        QFETCH(QByteArray, name);
        TID3v1 tag;
        tag.SetGenreIndex(quint8(index));
        QCOMPARE(tag.GetGenreName(), name);
    }

    void writesReadOnlyFileThroughSymlink()
    {
        const QString target = path(QStringLiteral("real.mp3"));
        const QString link = path(QStringLiteral("link.mp3"));
        QVERIFY(writeFile(target, audioBytes(256)));
        QVERIFY(::chmod(QFile::encodeName(target).constData(), 0444) == 0);
        QVERIFY(QFile::link(target, link));
        TID3v1 tag;
        QVERIFY(tag.ReadFromFile(link));
        QCOMPARE(modeOf(target) & 07777, mode_t(0444)); // reading changes nothing
        tag.SetTitle("Linked");
        QVERIFY(tag.WriteToFile(link));
        QVERIFY(S_ISLNK(modeOf(link)));
        QCOMPARE(readFile(target), audioBytes(256) + tagBlock("Linked"));
        QCOMPARE(modeOf(target) & 07777, mode_t(0644)); // owner write added, nothing else
    }

    void roundTripIsByteIdentical_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::newRow("latin-1 version 1")
            << tagBlock("Caf\xe9 \xff\xfe", "\x80\x81\x9f", "\xc3(", "19\xb2\xb3",
                        "abcdefghijklmnopqrstuvwxyz\xe0\xe1\xe2\xe3", 147);
        QTest::newRow("zero bytes inside fields")
            << tagBlock(QByteArrayLiteral("a\0b\0c"), QByteArrayLiteral("\0\0x"), "\x01y",
                        QByteArrayLiteral("\0\x39\x39"), QByteArrayLiteral("c\0d"), 200);
        QTest::newRow("version 2 with track")
            << tagBlock("\xd0\xaf", {}, {}, {}, "twenty-eight bytes of text!!", 17)
                   .replace(126, 1, "\xfe");
        QTest::newRow("every byte used") << QByteArray(128, '\xee').replace(0, 3, "TAG");
    }

    void roundTripIsByteIdentical()
    {
        QFETCH(QByteArray, block);
        const QString source = path(QStringLiteral("source.mp3"));
        const QString target = path(QStringLiteral("target.mp3"));
        QVERIFY(writeFile(source, audioBytes(300) + block));
        QVERIFY(writeFile(target, audioBytes(150)));
        const int descriptors = openDescriptorCount();
        TID3v1 tag;
        QVERIFY(tag.ReadFromFile(source));
        QVERIFY(tag.WriteToFile(target));
        QCOMPARE(readFile(target), audioBytes(150) + block);

        // Through a job-list entry the track number is not kept; everything else is.
        const ID3info entry = EntryFromFile(tag, source, QStringLiteral("source.mp3"));
        QVERIFY(WriteEntryTag(tag, entry, target));
        QByteArray expected = block;
        if (DetectTagVersion(block) == 2 && block.at(125) == '\0')
            expected[126] = '\0';
        QCOMPARE(readFile(target), audioBytes(150) + expected);
        QCOMPARE(openDescriptorCount(), descriptors);
    }

    void failedAppendLeavesNoTornBlock()
    {
        const QByteArray audio = audioBytes(1000);
        const QString file = path(QStringLiteral("full.mp3"));
        QVERIFY(writeFile(file, audio + tagBlock("Old")));
        TID3v1 tag;
        tag.SetTitle("New");
        // A file size limit stands in for a full disk: the append gets 50 bytes out, then fails.
        struct rlimit saved, limited;
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        limited = saved;
        limited.rlim_cur = rlim_t(audio.size() + 50);
        auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);
        const bool written = tag.WriteToFile(file);
        const bool appended = AppendTagBlock(file, tagBlock("Old"));
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        // Both fail; the old tag is gone (the cut succeeded) but no torn block is left.
        QVERIFY(!written && !appended);
        QCOMPARE(readFile(file), audio);
    }

    void entryFromFile()
    {
        const QString file = path(QStringLiteral("café.mp3"));
        const QByteArray fileName = "caf\xc3\xa9.mp3";
        TID3v1 tag;
        QVERIFY(writeFile(file, audioBytes(500) + tagBlock("Song\xe9", {}, {}, {}, {}, 17)));
        ID3info entry = EntryFromFile(tag, file, QStringLiteral("café.mp3"));
        QCOMPARE(entry.Title + '|' + entry.EditTitle + '|' + entry.GenreName,
                 QByteArray("Song\xe9|Song\xe9|Rock"));
        QCOMPARE(entry.SourcePath, file);

        // An empty title, or no tag at all, gives the file name in UTF-8, and nothing is left
        // of the earlier read.
        for (const QByteArray &tail : {tagBlock({}, "Band"), QByteArray()}) {
            QVERIFY(writeFile(file, audioBytes(500) + tail));
            entry = EntryFromFile(tag, file, QStringLiteral("café.mp3"));
            QCOMPARE(entry.Title + '|' + entry.EditTitle, fileName + '|' + fileName);
            QCOMPARE(entry.Artist, QByteArray(tail.isEmpty() ? "" : "Band"));
            QCOMPARE(entry.Album + entry.Year + entry.Comment + entry.GenreName, QByteArray());
            QCOMPARE(entry.Genre, quint8(255));
        }

        // Written back: trailing blanks go, and a track left over in the tag is not written.
        entry.Artist = "Band   ";
        entry.Genre = 17;
        tag.Track = 9;
        QVERIFY(WriteEntryTag(tag, entry, file));
        QCOMPARE(readFile(file), audioBytes(500) + tagBlock(fileName, "Band", {}, {}, {}, 17));
    }

    void halfUtf8CharacterShowsAsLatin1()
    {
        // Whole UTF-8 and ISO-8859-1 texts are pinned by the tag editor's tests.
        QCOMPARE(TagTextToDisplay("Stra\xc3"), u"Stra\u00c3"_qs);
        QCOMPARE(TagTextToDisplay(DisplayToTagText(u"\u00c6r\u00f8"_qs)), u"\u00c6r\u00f8"_qs);
    }
};

QTEST_GUILESS_MAIN(TestTags)
#include "tst_tags.moc"
