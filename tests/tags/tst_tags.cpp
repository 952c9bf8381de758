#include "tags/entrytag.h"
#include "tags/genrenames.h"
#include "tags/tagblock.h"
#include "tags/tagtext.h"
#include "tags/tid3v1.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray audioBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + 1) % 251);
    return bytes;
}

void place(QByteArray &block, int offset, const QByteArray &bytes)
{
    block.replace(offset, bytes.size(), bytes);
}

QByteArray tagBlock(const QByteArray &title, const QByteArray &artist = {},
                    const QByteArray &album = {}, const QByteArray &year = {},
                    const QByteArray &comment = {}, quint8 genre = 255)
{
    QByteArray block(128, '\0');
    place(block, 0, QByteArrayLiteral("TAG"));
    place(block, 3, title);
    place(block, 33, artist);
    place(block, 63, album);
    place(block, 93, year);
    place(block, 97, comment);
    block[127] = char(genre);
    return block;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode;
}

bool setMode(const QString &path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

int openDescriptorCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System)
                   .size());
}

// Every file-level entry point by name, so failure cases can share one table.
bool runOperation(const QString &operation, const QString &path)
{
    TID3v1 tag;
    tag.SetTitle(QByteArrayLiteral("New title"));
    QByteArray block;
    if (operation == QLatin1String("ReadTagBlock"))
        return ReadTagBlock(path, block);
    if (operation == QLatin1String("CutTagBlock"))
        return CutTagBlock(path);
    if (operation == QLatin1String("AppendTagBlock"))
        return AppendTagBlock(path, tagBlock(QByteArrayLiteral("x")));
    if (operation == QLatin1String("ReadFromFile"))
        return tag.ReadFromFile(path);
    if (operation == QLatin1String("WriteToFile"))
        return tag.WriteToFile(path);
    if (operation == QLatin1String("RemoveTag"))
        return tag.RemoveTag(path);
    if (operation == QLatin1String("WriteEntryTag")) {
        ID3info entry;
        entry.Title = QByteArrayLiteral("Entry");
        return WriteEntryTag(tag, entry, path);
    }
    qFatal("unknown operation");
    return false;
}

void addOperationColumn()
{
    QTest::addColumn<QString>("operation");
}

} // namespace

class TestTags : public QObject
{
    Q_OBJECT

private slots:
    void readsMarkerCaseSensitively_data();
    void readsMarkerCaseSensitively();
    void readsFileOfExactly128Bytes();
    void tooShortFileIsNeverChanged_data();
    void tooShortFileIsNeverChanged();
    void missingFileIsNeverCreated_data();
    void missingFileIsNeverCreated();
    void detectsVersion_data();
    void detectsVersion();
    void trimsFieldTextOnRead_data();
    void trimsFieldTextOnRead();
    void settersTrimThenCut_data();
    void settersTrimThenCut();
    void trackTakesLastTwoCommentBytes();
    void writingTwiceLeavesOneTag();
    void writingReplacesExistingTag();
    void genreNames_data();
    void genreNames();
    void writesIntoReadOnlyFile();
    void roundTripIsByteIdentical_data();
    void roundTripIsByteIdentical();
    void refusesFifoWithoutBlocking_data();
    void refusesFifoWithoutBlocking();
    void followsSymlinkToRegularFile();
    void failedAppendLeavesNoPartialBlock();
    void closesFileOnEveryPath();
    void entryFromFileWithoutTag();
    void entryFromFileWithTag();
    void writeEntryTagKeepsGenre();
    void tagTextToDisplay_data();
    void tagTextToDisplay();
    void displayToTagTextIsUtf8();

private:
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }
};

void TestTags::readsMarkerCaseSensitively_data()
{
    QTest::addColumn<QByteArray>("marker");
    QTest::addColumn<bool>("tagged");
    QTest::newRow("TAG") << QByteArrayLiteral("TAG") << true;
    QTest::newRow("tag") << QByteArrayLiteral("tag") << false;
    QTest::newRow("Tag") << QByteArrayLiteral("Tag") << false;
    QTest::newRow("TAg") << QByteArrayLiteral("TAg") << false;
    QTest::newRow("tAG") << QByteArrayLiteral("tAG") << false;
}

void TestTags::readsMarkerCaseSensitively()
{
    QFETCH(QByteArray, marker);
    QFETCH(bool, tagged);
    QByteArray block =
        tagBlock(QByteArrayLiteral("Song"), QByteArrayLiteral("Band"), {}, {}, {}, 17);
    place(block, 0, marker);
    const QString file = path(QStringLiteral("marker.mp3"));
    QVERIFY(writeFile(file, audioBytes(500) + block));

    TID3v1 tag;
    tag.SetArtist(QByteArrayLiteral("stale"));
    QVERIFY(tag.ReadFromFile(file));
    QCOMPARE(tag.HasTag, tagged);
    QCOMPARE(tag.Title, tagged ? QByteArrayLiteral("Song") : QByteArray());
    QCOMPARE(tag.Artist, tagged ? QByteArrayLiteral("Band") : QByteArray());
    QCOMPARE(tag.GenreIndex, tagged ? quint8(17) : quint8(255));
    QCOMPARE(tag.Track, quint8(0));
    QCOMPARE(tag.GetGenreName(), tagged ? QByteArrayLiteral("Rock") : QByteArray());
}

void TestTags::readsFileOfExactly128Bytes()
{
    const QString file = path(QStringLiteral("only-tag.mp3"));
    QVERIFY(writeFile(file, tagBlock(QByteArrayLiteral("Alone"))));
    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QVERIFY(tag.HasTag);
    QCOMPARE(tag.Title, QByteArrayLiteral("Alone"));

    // Replacing the tag of a tag-only file goes through an empty file.
    tag.SetTitle(QByteArrayLiteral("Again"));
    QVERIFY(tag.WriteToFile(file));
    QCOMPARE(readFile(file), tagBlock(QByteArrayLiteral("Again")));
}

void TestTags::tooShortFileIsNeverChanged_data()
{
    addOperationColumn();
    QTest::addColumn<int>("size");
    const char *operations[] = {"ReadTagBlock", "CutTagBlock", "ReadFromFile",
                                "WriteToFile",  "RemoveTag",   "WriteEntryTag"};
    for (const char *operation : operations) {
        for (int size : {0, 127})
            QTest::addRow("%s %d bytes", operation, size) << QString::fromLatin1(operation) << size;
    }
}

void TestTags::tooShortFileIsNeverChanged()
{
    QFETCH(QString, operation);
    QFETCH(int, size);
    // Starts with a marker, so a routine that forgot the size check would cut it.
    const QByteArray content = tagBlock(QByteArrayLiteral("Short")).left(size);
    const QString file = path(QStringLiteral("short.mp3"));
    QFile::remove(file);
    QVERIFY(writeFile(file, content));
    QVERIFY(setMode(file, 0444));

    QVERIFY(!runOperation(operation, file));
    QCOMPARE(readFile(file), content);
    QCOMPARE(modeOf(file) & 07777, mode_t(0444));
}

void TestTags::missingFileIsNeverCreated_data()
{
    addOperationColumn();
    for (const char *operation : {"ReadTagBlock", "CutTagBlock", "AppendTagBlock", "ReadFromFile",
                                  "WriteToFile", "RemoveTag", "WriteEntryTag"})
        QTest::newRow(operation) << QString::fromLatin1(operation);
}

void TestTags::missingFileIsNeverCreated()
{
    QFETCH(QString, operation);
    const QString file = path(QStringLiteral("missing.mp3"));
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(!runOperation(operation, file));
    QVERIFY(!QFileInfo::exists(file));
}

void TestTags::detectsVersion_data()
{
    QTest::addColumn<int>("byte125");
    QTest::addColumn<int>("byte126");
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("track");
    QTest::addColumn<QByteArray>("comment");
    const QByteArray letters = QByteArrayLiteral("abcdefghijklmnopqrstuvwxyzAB");
    QTest::newRow("00 07") << 0x00 << 0x07 << 2 << 7 << letters;
    QTest::newRow("20 78") << 0x20 << 0x78 << 2 << 120 << letters;
    QTest::newRow("00 00") << 0x00 << 0x00 << 1 << 0 << letters;
    QTest::newRow("20 00") << 0x20 << 0x00 << 2 << 0 << letters;
    QTest::newRow("20 20") << 0x20 << 0x20 << 1 << 0 << letters;
    QTest::newRow("43 44") << 0x43 << 0x44 << 1 << 0 << letters + QByteArrayLiteral("CD");
    QTest::newRow("00 20") << 0x00 << 0x20 << 2 << 32 << letters;
}

void TestTags::detectsVersion()
{
    QFETCH(int, byte125);
    QFETCH(int, byte126);
    QFETCH(int, version);
    QFETCH(int, track);
    QFETCH(QByteArray, comment);
    QByteArray block = tagBlock(QByteArrayLiteral("T"), {}, {}, {},
                                QByteArrayLiteral("abcdefghijklmnopqrstuvwxyzAB"));
    block[125] = char(byte125);
    block[126] = char(byte126);
    QCOMPARE(int(DetectTagVersion(block)), version);

    const QString file = path(QStringLiteral("version.mp3"));
    QVERIFY(writeFile(file, audioBytes(300) + block));
    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QCOMPARE(int(tag.TagVersion), version);
    QCOMPARE(int(tag.Track), track);
    QCOMPARE(tag.Comment, comment);
}

void TestTags::trimsFieldTextOnRead_data()
{
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("title");
    QTest::newRow("letters and blanks")
        << QByteArrayLiteral("Hello") + QByteArray(25, ' ') << QByteArrayLiteral("Hello");
    QTest::newRow("inner zero byte stays") << QByteArrayLiteral("Hello\0abc") + QByteArray(21, '\0')
                                           << QByteArrayLiteral("Hello\0abc");
    QTest::newRow("control bytes at the end")
        << QByteArrayLiteral("Hi\t\r\n\x1f\x01 ") << QByteArrayLiteral("Hi");
    QTest::newRow("leading blanks stay") << QByteArrayLiteral("  Hi") << QByteArrayLiteral("  Hi");
    QTest::newRow("high bytes are text")
        << QByteArrayLiteral("Hi\xa0\xff") << QByteArrayLiteral("Hi\xa0\xff");
    QTest::newRow("full field") << QByteArray(30, 'x') << QByteArray(30, 'x');
    QTest::newRow("blank field") << QByteArray(30, ' ') << QByteArray();
}

void TestTags::trimsFieldTextOnRead()
{
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, title);
    const QString file = path(QStringLiteral("trim.mp3"));
    // The artist right behind the title shows a read that runs over the field.
    QVERIFY(writeFile(file, tagBlock(field, QByteArrayLiteral("Artist"))));
    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QCOMPARE(tag.Title, title);
    QCOMPARE(tag.Artist, QByteArrayLiteral("Artist"));
}

void TestTags::settersTrimThenCut_data()
{
    QTest::addColumn<QString>("setter");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored");
    const QByteArray forty = QByteArrayLiteral("abcdefghijklmnopqrstuvwxyz0123456789ABCD");
    QTest::newRow("title of 40") << QStringLiteral("Title") << forty << forty.left(30);
    QTest::newRow("cut after trim")
        << QStringLiteral("Title") << QByteArrayLiteral("abc") + QByteArray(40, ' ') + "d"
        << QByteArrayLiteral("abc") + QByteArray(27, ' ');
    QTest::newRow("trailing controls")
        << QStringLiteral("Artist") << QByteArrayLiteral("Band\t\r\n\0 ")
        << QByteArrayLiteral("Band");
    QTest::newRow("leading blanks stay")
        << QStringLiteral("Album") << QByteArrayLiteral("  LP  ") << QByteArrayLiteral("  LP");
    QTest::newRow("high byte is not trimmed")
        << QStringLiteral("Comment") << QByteArrayLiteral("Note\xa0")
        << QByteArrayLiteral("Note\xa0");
    QTest::newRow("only blanks") << QStringLiteral("Comment") << QByteArray(50, ' ')
                                 << QByteArray();
    QTest::newRow("year of five") << QStringLiteral("Year") << QByteArrayLiteral("1999a")
                                  << QByteArrayLiteral("1999");
    QTest::newRow("year with blanks")
        << QStringLiteral("Year") << QByteArrayLiteral(" 99 ") << QByteArrayLiteral(" 99");
    QTest::newRow("utf8 cut on character")
        << QStringLiteral("Title") << QByteArray(29, 'a') + "\xc3\xa9" << QByteArray(29, 'a');
    QTest::newRow("utf8 year") << QStringLiteral("Year") << QByteArrayLiteral("199\xc3\xa9")
                               << QByteArrayLiteral("199");
    QTest::newRow("latin-1 cut on byte")
        << QStringLiteral("Title") << QByteArray(29, 'a') + "\xe9\xe9"
        << QByteArray(29, 'a') + "\xe9";
}

void TestTags::settersTrimThenCut()
{
    QFETCH(QString, setter);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);
    TID3v1 tag;
    QByteArray *field = nullptr;
    if (setter == QLatin1String("Title")) {
        tag.SetTitle(text);
        field = &tag.Title;
    } else if (setter == QLatin1String("Artist")) {
        tag.SetArtist(text);
        field = &tag.Artist;
    } else if (setter == QLatin1String("Album")) {
        tag.SetAlbum(text);
        field = &tag.Album;
    } else if (setter == QLatin1String("Year")) {
        tag.SetYear(text);
        field = &tag.Year;
    } else {
        tag.SetComment(text);
        field = &tag.Comment;
    }
    QCOMPARE(*field, stored);
}

void TestTags::trackTakesLastTwoCommentBytes()
{
    const QByteArray comment = QByteArrayLiteral("abcdefghijklmnopqrstuvwxyz0123");
    QByteArray source = tagBlock(QByteArrayLiteral("T"));
    source[126] = 3;
    const QString file = path(QStringLiteral("track.mp3"));
    QVERIFY(writeFile(file, audioBytes(200) + source));

    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QCOMPARE(tag.Track, quint8(3));
    tag.SetComment(comment);
    QVERIFY(tag.WriteToFile(file));
    QByteArray block = readFile(file).right(128);
    QCOMPARE(block.mid(97, 28), comment.left(28));
    QCOMPARE(block.at(125), '\0');
    QCOMPARE(block.at(126), '\3');

    tag.ResetFields();
    tag.SetComment(comment);
    QVERIFY(tag.WriteToFile(file));
    block = readFile(file).right(128);
    QCOMPARE(block.mid(97, 30), comment);
    QCOMPARE(readFile(file).size(), 328);
}

void TestTags::writingTwiceLeavesOneTag()
{
    const QByteArray audio = audioBytes(1000);
    const QString file = path(QStringLiteral("twice.mp3"));
    QVERIFY(writeFile(file, audio));

    TID3v1 tag;
    tag.SetTitle(QByteArrayLiteral("First"));
    QVERIFY(tag.WriteToFile(file));
    QCOMPARE(readFile(file), audio + tagBlock(QByteArrayLiteral("First")));
    tag.SetTitle(QByteArrayLiteral("Second"));
    QVERIFY(tag.WriteToFile(file));
    QCOMPARE(readFile(file), audio + tagBlock(QByteArrayLiteral("Second")));
}

void TestTags::writingReplacesExistingTag()
{
    // The last 128 bytes of the audio happen to start with the marker.
    QByteArray audio = audioBytes(700);
    place(audio, 700 - 128, QByteArrayLiteral("TAG"));
    const QString file = path(QStringLiteral("accidental.mp3"));
    QVERIFY(writeFile(file, audio));

    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QVERIFY(tag.HasTag);
    tag.SetTitle(QByteArrayLiteral("Fresh"));
    tag.SetGenreIndex(0);
    QVERIFY(tag.WriteToFile(file));
    const QByteArray written = readFile(file);
    QCOMPARE(written.size(), 700);
    QCOMPARE(written.left(700 - 128), audio.left(700 - 128));
    QCOMPARE(written.right(128).mid(3, 30), QByteArrayLiteral("Fresh") + QByteArray(25, '\0'));
    QCOMPARE(written.at(127 + 700 - 128), '\0');

    QVERIFY(tag.RemoveTag(file));
    QCOMPARE(readFile(file), audio.left(700 - 128));
    QVERIFY(tag.RemoveTag(file)); // nothing left to remove
    QCOMPARE(readFile(file).size(), 700 - 128);
}

void TestTags::genreNames_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("0") << 0 << QByteArrayLiteral("Blues");
    QTest::newRow("17") << 17 << QByteArrayLiteral("Rock");
    QTest::newRow("67") << 67 << QByteArrayLiteral("Psychadelic");
    QTest::newRow("92") << 92 << QByteArrayLiteral("Progessive Rock");
    QTest::newRow("123") << 123 << QByteArrayLiteral("A capella");
    QTest::newRow("147") << 147 << QByteArrayLiteral("Synthpop");
    QTest::newRow("148") << 148 << QByteArray();
    QTest::newRow("255") << 255 << QByteArray();
}

void TestTags::genreNames()
{
    QFETCH(int, index);
    QFETCH(QByteArray, name);
    TID3v1 tag;
    tag.SetGenreIndex(quint8(index));
    QCOMPARE(tag.GetGenreName(), name);

    // Numbers without a name are written as they are.
    const QString file = path(QStringLiteral("genre.mp3"));
    QVERIFY(writeFile(file, audioBytes(200)));
    QVERIFY(tag.WriteToFile(file));
    QCOMPARE(quint8(readFile(file).back()), quint8(index));
}

void TestTags::writesIntoReadOnlyFile()
{
    const QString file = path(QStringLiteral("readonly.mp3"));
    QVERIFY(writeFile(file, audioBytes(400)));
    QVERIFY(setMode(file, 0444));

    TID3v1 tag;
    QVERIFY(tag.ReadFromFile(file));
    QCOMPARE(modeOf(file) & 07777, mode_t(0444)); // reading changes nothing
    tag.SetTitle(QByteArrayLiteral("Locked"));
    QVERIFY(tag.WriteToFile(file));
    QCOMPARE(readFile(file).right(128), tagBlock(QByteArrayLiteral("Locked")));
    QCOMPARE(modeOf(file) & 07777, mode_t(0644)); // owner write added, nothing else
}

void TestTags::roundTripIsByteIdentical_data()
{
    QTest::addColumn<QByteArray>("block");
    QTest::newRow("latin-1 version 1")
        << tagBlock(QByteArrayLiteral("Caf\xe9 \xff\xfe"), QByteArrayLiteral("\x80\x81\x9f"),
                    QByteArrayLiteral("\xc3("), QByteArrayLiteral("19\xb2\xb3"),
                    QByteArrayLiteral("abcdefghijklmnopqrstuvwxyz\xe0\xe1\xe2\xe3"), 147);
    QTest::newRow("zero bytes inside fields") << tagBlock(
        QByteArrayLiteral("a\0b\0c"), QByteArrayLiteral("\0\0x"), QByteArrayLiteral("\x01y"),
        QByteArrayLiteral("\0"
                          "99"),
        QByteArrayLiteral("c\0d"), 200);
    QByteArray withTrack = tagBlock(QByteArrayLiteral("\xd0\xaf"), {}, {}, {},
                                    QByteArrayLiteral("twenty-eight bytes of text!!"), 17);
    withTrack[126] = char(0xfe);
    QTest::newRow("version 2 with track") << withTrack;
    QByteArray full(128, '\xee');
    place(full, 0, QByteArrayLiteral("TAG"));
    QTest::newRow("every byte used") << full;
}

void TestTags::roundTripIsByteIdentical()
{
    QFETCH(QByteArray, block);
    const QString source = path(QStringLiteral("source.mp3"));
    const QString target = path(QStringLiteral("target.mp3"));
    QVERIFY(writeFile(source, audioBytes(300) + block));
    QVERIFY(writeFile(target, audioBytes(150)));

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
}

void TestTags::refusesFifoWithoutBlocking_data()
{
    addOperationColumn();
    for (const char *operation : {"ReadTagBlock", "CutTagBlock", "AppendTagBlock", "ReadFromFile",
                                  "WriteToFile", "RemoveTag", "WriteEntryTag"})
        QTest::newRow(operation) << QString::fromLatin1(operation);
}

void TestTags::refusesFifoWithoutBlocking()
{
    QFETCH(QString, operation);
    const QString fifo = path(QStringLiteral("pipe.mp3"));
    QFile::remove(fifo);
    const QByteArray native = QFile::encodeName(fifo);
    QVERIFY(::mkfifo(native.constData(), 0600) == 0);
    QVERIFY(setMode(fifo, 0444));

    auto result = std::async(std::launch::async, [&] { return runOperation(operation, fifo); });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // Free the stuck call so the test can report instead of hanging.
        const int fd = ::open(native.constData(), O_RDWR | O_NONBLOCK);
        const QByteArray filler(128, 'x');
        QVERIFY(fd >= 0 && ::write(fd, filler.constData(), 128) == 128);
        ::close(fd);
        QFAIL("the operation blocked on a FIFO");
    }
    QVERIFY(!result.get());
    QVERIFY(S_ISFIFO(modeOf(fifo)));
    QCOMPARE(modeOf(fifo) & 07777, mode_t(0444));
}

void TestTags::followsSymlinkToRegularFile()
{
    const QString target = path(QStringLiteral("real.mp3"));
    const QString link = path(QStringLiteral("link.mp3"));
    QVERIFY(writeFile(target, audioBytes(256)));
    QVERIFY(QFile::link(target, link));

    TID3v1 tag;
    tag.SetTitle(QByteArrayLiteral("Linked"));
    QVERIFY(tag.WriteToFile(link));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(target), audioBytes(256) + tagBlock(QByteArrayLiteral("Linked")));
    QVERIFY(tag.ReadFromFile(link));
    QCOMPARE(tag.Title, QByteArrayLiteral("Linked"));
}

void TestTags::failedAppendLeavesNoPartialBlock()
{
    const QByteArray audio = audioBytes(1000);
    const QByteArray oldTag = tagBlock(QByteArrayLiteral("Old"));
    const QString file = path(QStringLiteral("full.mp3"));
    QVERIFY(writeFile(file, audio + oldTag));

    // A file size limit stands in for a full disk: the append gets 50 bytes out, then fails.
    struct rlimit saved;
    QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
    struct rlimit limited = saved;
    limited.rlim_cur = rlim_t(audio.size() + 50);
    auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(::setrlimit(RLIMIT_FSIZE, &limited) == 0);

    TID3v1 tag;
    tag.SetTitle(QByteArrayLiteral("New"));
    const bool written = tag.WriteToFile(file);
    const bool appended = AppendTagBlock(file, oldTag);

    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!written);
    QVERIFY(!appended);
    // The old tag is gone (the cut succeeded) but no torn block is left.
    QCOMPARE(readFile(file), audio);
}

void TestTags::closesFileOnEveryPath()
{
    const QString tagged = path(QStringLiteral("fd-tagged.mp3"));
    const QString plain = path(QStringLiteral("fd-plain.mp3"));
    const QString shortFile = path(QStringLiteral("fd-short.mp3"));
    const QString fifo = path(QStringLiteral("fd-pipe.mp3"));
    QVERIFY(writeFile(tagged, audioBytes(300) + tagBlock(QByteArrayLiteral("x"))));
    QVERIFY(writeFile(plain, audioBytes(300)));
    QVERIFY(writeFile(shortFile, audioBytes(100)));
    QFile::remove(fifo);
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);

    const int before = openDescriptorCount();
    for (const QString &file : {tagged, plain, shortFile, fifo, path(QStringLiteral("none"))}) {
        for (const char *operation : {"ReadTagBlock", "ReadFromFile", "RemoveTag", "WriteToFile",
                                      "CutTagBlock", "AppendTagBlock"})
            runOperation(QString::fromLatin1(operation), file);
    }
    QCOMPARE(openDescriptorCount(), before);
}

void TestTags::entryFromFileWithoutTag()
{
    const QString file = path(QStringLiteral("café.mp3"));
    QVERIFY(writeFile(file, audioBytes(500)));
    TID3v1 tag;
    const ID3info entry = EntryFromFile(tag, file, QStringLiteral("café.mp3"));
    QCOMPARE(entry.Title, QByteArrayLiteral("caf\xc3\xa9.mp3"));
    QCOMPARE(entry.EditTitle, entry.Title);
    QCOMPARE(entry.SourcePath, file);
    QVERIFY(entry.Artist.isEmpty() && entry.Album.isEmpty() && entry.Year.isEmpty());
    QVERIFY(entry.Comment.isEmpty() && entry.GenreName.isEmpty());
    QCOMPARE(entry.Genre, quint8(255));

    // A tag with an empty title also falls back to the file name.
    QVERIFY(writeFile(file, audioBytes(500) + tagBlock({}, QByteArrayLiteral("Band"))));
    const ID3info untitled = EntryFromFile(tag, file, QStringLiteral("café.mp3"));
    QCOMPARE(untitled.Title, QByteArrayLiteral("caf\xc3\xa9.mp3"));
    QCOMPARE(untitled.Artist, QByteArrayLiteral("Band"));
}

void TestTags::entryFromFileWithTag()
{
    const QString file = path(QStringLiteral("tagged.mp3"));
    QVERIFY(writeFile(file, audioBytes(500) +
                                tagBlock(QByteArrayLiteral("Song\xe9"), QByteArrayLiteral("Band"),
                                         QByteArrayLiteral("Album"), QByteArrayLiteral("1987"),
                                         QByteArrayLiteral("Note\0x"), 17)));
    TID3v1 tag;
    const ID3info entry = EntryFromFile(tag, file, QStringLiteral("tagged.mp3"));
    QCOMPARE(entry.Title, QByteArrayLiteral("Song\xe9"));
    QCOMPARE(entry.EditTitle, QByteArrayLiteral("Song\xe9"));
    QCOMPARE(entry.Artist, QByteArrayLiteral("Band"));
    QCOMPARE(entry.Album, QByteArrayLiteral("Album"));
    QCOMPARE(entry.Year, QByteArrayLiteral("1987"));
    QCOMPARE(entry.Comment, QByteArrayLiteral("Note\0x"));
    QCOMPARE(entry.GenreName, QByteArrayLiteral("Rock"));
    QCOMPARE(entry.Genre, quint8(17));
    QCOMPARE(entry.SourcePath, file);
}

void TestTags::writeEntryTagKeepsGenre()
{
    const QString file = path(QStringLiteral("output.mp3"));
    QVERIFY(writeFile(file, audioBytes(900)));
    ID3info entry;
    entry.Title = QByteArrayLiteral("A title much longer than thirty bytes") + QByteArray(300, 'z');
    entry.Artist = QByteArrayLiteral("Band   ");
    entry.Year = QByteArrayLiteral("2001");
    entry.Genre = 17;

    TID3v1 tag;
    tag.ReadFromFile(file);
    tag.Track = 9; // left over from an earlier read; the entry has no track
    QVERIFY(WriteEntryTag(tag, entry, file));
    const QByteArray block = readFile(file).right(128);
    QCOMPARE(readFile(file).size(), 900 + 128);
    QCOMPARE(block.mid(3, 30), entry.Title.left(30));
    QCOMPARE(block.mid(33, 30), QByteArrayLiteral("Band") + QByteArray(26, '\0'));
    QCOMPARE(block.mid(93, 4), QByteArrayLiteral("2001"));
    QCOMPARE(block.mid(97, 30), QByteArray(30, '\0'));
    QCOMPARE(quint8(block.at(127)), quint8(17));
}

void TestTags::tagTextToDisplay_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ascii") << QByteArrayLiteral("Rock") << QStringLiteral("Rock");
    QTest::newRow("utf-8") << QByteArrayLiteral("Caf\xc3\xa9") << QStringLiteral("Café");
    QTest::newRow("latin-1") << QByteArrayLiteral("Caf\xe9") << QStringLiteral("Café");
    QTest::newRow("half a utf-8 character")
        << QByteArrayLiteral("Stra\xc3") << QStringLiteral("Stra\u00c3");
    QTest::newRow("high latin-1") << QByteArrayLiteral("\xff\xfe") << QStringLiteral("ÿþ");
    QTest::newRow("empty") << QByteArray() << QString();
}

void TestTags::tagTextToDisplay()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(TagTextToDisplay(bytes), text);
}

void TestTags::displayToTagTextIsUtf8()
{
    QCOMPARE(DisplayToTagText(QStringLiteral("Café")), QByteArrayLiteral("Caf\xc3\xa9"));
    QCOMPARE(TagTextToDisplay(DisplayToTagText(QStringLiteral("Ærøskøbing"))),
             QStringLiteral("Ærøskøbing"));
}

QTEST_GUILESS_MAIN(TestTags)
#include "tst_tags.moc"
