#include "core/tags/tid3v1.h"

#include "core/tags/genrenames.h"
#include "core/tags/tagblock.h"
#include "core/tags/tagtext.h"

#include <algorithm>

namespace {

constexpr int TagBlockSize = 128;
constexpr int TextFieldSize = 30;
constexpr int YearFieldSize = 4;
constexpr int Version2CommentSize = 28;

constexpr int TitleOffset = 3;
constexpr int ArtistOffset = 33;
constexpr int AlbumOffset = 63;
constexpr int YearOffset = 93;
constexpr int CommentOffset = 97;
constexpr int TrackMarkerOffset = 125;
constexpr int TrackOffset = 126;
constexpr int GenreOffset = 127;

// Padding in the wild is zeros, blanks or control bytes; anything before the last
// printable byte belongs to the text, zero bytes included.
QByteArray withoutTrailingControls(const QByteArray &text)
{
    qsizetype length = text.size();
    while (length > 0 && quint8(text.at(length - 1)) <= 32)
        --length;
    return text.left(length);
}

QByteArray fieldText(const QByteArray &block, int offset, int size)
{
    return withoutTrailingControls(block.mid(offset, size));
}

QByteArray setterText(const QByteArray &text, int size)
{
    return CutTagText(withoutTrailingControls(text), size);
}

void putField(QByteArray &block, int offset, const QByteArray &text, int size)
{
    const int length = int(std::min<qsizetype>(text.size(), size));
    std::copy_n(text.constData(), length, block.data() + offset);
}

bool hasMarker(const QByteArray &block)
{
    return block.startsWith(QByteArrayLiteral("TAG"));
}

// For a path or a descriptor alike (see tagblock.h).
template <typename File> bool readTag(TID3v1 &tag, const File &file)
{
    tag.ResetFields();
    QByteArray block;
    if (!ReadTagBlock(file, block))
        return false;
    if (!hasMarker(block))
        return true;

    tag.HasTag = true;
    tag.TagVersion = DetectTagVersion(block);
    tag.Title = fieldText(block, TitleOffset, TextFieldSize);
    tag.Artist = fieldText(block, ArtistOffset, TextFieldSize);
    tag.Album = fieldText(block, AlbumOffset, TextFieldSize);
    tag.Year = fieldText(block, YearOffset, YearFieldSize);
    if (tag.TagVersion == 2) {
        tag.Comment = fieldText(block, CommentOffset, Version2CommentSize);
        tag.Track = quint8(block.at(TrackOffset));
    } else {
        tag.Comment = fieldText(block, CommentOffset, TextFieldSize);
    }
    tag.GenreIndex = quint8(block.at(GenreOffset));
    return true;
}

template <typename File> bool removeTag(const File &file)
{
    QByteArray block;
    if (!ReadTagBlock(file, block))
        return false;
    if (hasMarker(block))
        return CutTagBlock(file);
    return true;
}

QByteArray blockOf(const TID3v1 &tag)
{
    QByteArray block(TagBlockSize, '\0');
    block.replace(0, 3, QByteArrayLiteral("TAG"));
    putField(block, TitleOffset, tag.Title, TextFieldSize);
    putField(block, ArtistOffset, tag.Artist, TextFieldSize);
    putField(block, AlbumOffset, tag.Album, TextFieldSize);
    putField(block, YearOffset, tag.Year, YearFieldSize);
    putField(block, CommentOffset, tag.Comment, TextFieldSize);
    if (tag.Track != 0) {
        block[TrackMarkerOffset] = '\0';
        block[TrackOffset] = char(tag.Track);
    }
    block[GenreOffset] = char(tag.GenreIndex);
    return block;
}

template <typename File> bool writeTag(const TID3v1 &tag, const File &file)
{
    return removeTag(file) && AppendTagBlock(file, blockOf(tag));
}

} // namespace

TID3v1::TID3v1()
{
    ResetFields();
}

void TID3v1::ResetFields()
{
    HasTag = false;
    TagVersion = 1;
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Comment.clear();
    Track = 0;
    GenreIndex = 255;
}

bool TID3v1::ReadFromFile(const QString &path)
{
    return readTag(*this, path);
}

bool TID3v1::ReadFromFile(int fd)
{
    return readTag(*this, fd);
}

bool TID3v1::WriteToFile(const QString &path) const
{
    return writeTag(*this, path);
}

bool TID3v1::WriteToFile(int fd) const
{
    return writeTag(*this, fd);
}

bool TID3v1::RemoveTag(const QString &path) const
{
    return removeTag(path);
}

bool TID3v1::RemoveTag(int fd) const
{
    return removeTag(fd);
}

void TID3v1::SetTitle(const QByteArray &text)
{
    Title = setterText(text, TextFieldSize);
}

void TID3v1::SetArtist(const QByteArray &text)
{
    Artist = setterText(text, TextFieldSize);
}

void TID3v1::SetAlbum(const QByteArray &text)
{
    Album = setterText(text, TextFieldSize);
}

void TID3v1::SetYear(const QByteArray &text)
{
    Year = setterText(text, YearFieldSize);
}

void TID3v1::SetComment(const QByteArray &text)
{
    Comment = setterText(text, TextFieldSize);
}

void TID3v1::SetGenreIndex(quint8 index)
{
    GenreIndex = index;
}

QByteArray TID3v1::GetGenreName() const
{
    if (GenreIndex < GenreNames.size())
        return QByteArray(GenreNames[GenreIndex]);
    return QByteArray();
}
