// Any file of 0 to 300 bytes as a source: reading its tag, making the list entry,
// showing the texts, and writing the tag back into a copy must all hold together.
#include "fuzzfiles.h"

#include "core/tags/entrytag.h"
#include "core/tags/genrenames.h"
#include "core/tags/tagtext.h"
#include "core/tags/tid3v1.h"

#include <QByteArrayView>
#include <QTemporaryDir>

namespace {

constexpr size_t MaxInput = 300;
constexpr qsizetype BlockSize = 128;

bool endsInControl(const QByteArray &text)
{
    return !text.isEmpty() && quint8(text.back()) <= 32;
}

void checkField(const QByteArray &text, qsizetype maxSize)
{
    FUZZ_CHECK(text.size() <= maxSize);
    FUZZ_CHECK(!endsInControl(text));
    const QString shown = TagTextToDisplay(text);
    // Text typed as shown is stored so that it shows the same again.
    FUZZ_CHECK(TagTextToDisplay(DisplayToTagText(shown)) == shown);
    if (!QByteArrayView(text).isValidUtf8()) {
        FUZZ_CHECK(shown.size() == text.size()); // Latin-1: one character per byte
        FUZZ_CHECK(DisplayToTagText(shown) == text);
    }
}

// A blank before a zero track byte reads as version 2 with track 0; written back, that
// is the version 1 layout with the same comment. Only a track number keeps version 2.
bool sameFields(const TID3v1 &a, const TID3v1 &b)
{
    return a.HasTag == b.HasTag && a.Title == b.Title && a.Artist == b.Artist &&
           a.Album == b.Album && a.Year == b.Year && a.Comment == b.Comment && a.Track == b.Track &&
           a.GenreIndex == b.GenreIndex && (a.Track == 0 || a.TagVersion == b.TagVersion);
}

} // namespace

int FuzzTagRead(const uint8_t *data, size_t size)
{
    if (size > MaxInput)
        return 0;
    static QTemporaryDir dir;
    FUZZ_CHECK(dir.isValid());
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString source = dir.filePath(QStringLiteral("source.mp3"));
    const QString copy = dir.filePath(QStringLiteral("copy.mp3"));
    fuzzWriteFile(source, bytes);

    TID3v1 tag;
    tag.SetTitle(QByteArrayLiteral("left over")); // a read starts from a reset object
    const bool longEnough = bytes.size() >= BlockSize;
    FUZZ_CHECK(tag.ReadFromFile(source) == longEnough);
    const QByteArray block = longEnough ? bytes.right(BlockSize) : QByteArray();
    FUZZ_CHECK(tag.HasTag == block.startsWith("TAG"));
    FUZZ_CHECK(fuzzReadFile(source) == bytes);

    if (!tag.HasTag) {
        FUZZ_CHECK(tag.Title.isEmpty() && tag.Artist.isEmpty() && tag.Album.isEmpty());
        FUZZ_CHECK(tag.Year.isEmpty() && tag.Comment.isEmpty());
        FUZZ_CHECK(tag.Track == 0 && tag.GenreIndex == 255);
    } else {
        FUZZ_CHECK(tag.TagVersion == 1 || tag.TagVersion == 2);
        FUZZ_CHECK(tag.GenreIndex == quint8(block.at(127)));
        FUZZ_CHECK(block.mid(3, 30).startsWith(tag.Title));
        FUZZ_CHECK(block.mid(33, 30).startsWith(tag.Artist));
        FUZZ_CHECK(block.mid(63, 30).startsWith(tag.Album));
        FUZZ_CHECK(block.mid(93, 4).startsWith(tag.Year));
        FUZZ_CHECK(block.mid(97, 30).startsWith(tag.Comment));
    }
    checkField(tag.Title, 30);
    checkField(tag.Artist, 30);
    checkField(tag.Album, 30);
    checkField(tag.Year, 4);
    checkField(tag.Comment, tag.TagVersion == 2 ? 28 : 30);
    FUZZ_CHECK(tag.GetGenreName().isEmpty() == (tag.GenreIndex >= GenreNames.size()));

    const QString fileName = QStringLiteral("source.mp3");
    const ID3info entry = EntryFromFile(tag, source, fileName);
    FUZZ_CHECK(entry.EditTitle == entry.Title && entry.SourcePath == source);
    // Without a fuller tag (fuzz_mediainfo covers those) the entry is the ID3v1 block's.
    if (entry.Properties.isEmpty()) {
        FUZZ_CHECK(entry.Title == (tag.Title.isEmpty() ? fileName.toUtf8() : tag.Title));
        FUZZ_CHECK(entry.Artist == tag.Artist && entry.Comment == tag.Comment);
        FUZZ_CHECK(entry.Genre == tag.GenreIndex && entry.GenreName == tag.GetGenreName());
    }

    // Writing the tag back replaces the old block (or adds one) and reads back the same.
    fuzzWriteFile(copy, bytes);
    const TID3v1 original = tag;
    FUZZ_CHECK(original.WriteToFile(copy) == longEnough);
    const QByteArray written = fuzzReadFile(copy);
    if (!longEnough) {
        FUZZ_CHECK(written == bytes);
        return 0;
    }
    const qsizetype audio = bytes.size() - (tag.HasTag ? BlockSize : 0);
    FUZZ_CHECK(written.size() == audio + BlockSize);
    FUZZ_CHECK(written.left(audio) == bytes.left(audio));
    TID3v1 reread;
    FUZZ_CHECK(reread.ReadFromFile(copy));
    if (original.HasTag)
        FUZZ_CHECK(sameFields(reread, original));
    else
        FUZZ_CHECK(reread.HasTag && reread.Title.isEmpty() && reread.GenreIndex == 255);

    // The way a finished job tags its output: the entry's fields, no track number.
    fuzzWriteFile(copy, bytes);
    FUZZ_CHECK(WriteEntryTag(tag, entry, copy));
    FUZZ_CHECK(reread.ReadFromFile(copy) && reread.HasTag);
    FUZZ_CHECK(reread.Title == entry.Title && reread.Artist == entry.Artist);
    FUZZ_CHECK(reread.Album == entry.Album && reread.Year == entry.Year);
    FUZZ_CHECK(reread.Comment == entry.Comment && reread.GenreIndex == entry.Genre);
    FUZZ_CHECK(reread.Track == 0);
    return 0;
}
