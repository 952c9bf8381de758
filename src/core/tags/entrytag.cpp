#include "core/tags/entrytag.h"

#include "core/tags/tagtext.h"

namespace {

// Entry texts may be long when typed; the setters cut them to the field sizes after this.
constexpr qsizetype EntryTextLimit = 255;

} // namespace

ID3info EntryFromFile(TID3v1 &tag, const QString &path, const QString &fileName)
{
    // A missing or unreadable file leaves the tag reset, which is all the entry needs.
    tag.ReadFromFile(path);

    ID3info entry;
    entry.Title = tag.Title.isEmpty() ? fileName.toUtf8() : tag.Title;
    entry.EditTitle = entry.Title;
    entry.SourcePath = path;
    entry.Artist = tag.Artist;
    entry.Album = tag.Album;
    entry.Year = tag.Year;
    entry.GenreName = tag.GetGenreName();
    entry.Genre = tag.GenreIndex;
    entry.Comment = tag.Comment;
    entry.Track = tag.Track;
    return entry;
}

namespace {

void takeEntry(TID3v1 &tag, const ID3info &entry)
{
    tag.ResetFields();
    tag.SetTitle(CutTagText(entry.Title, EntryTextLimit));
    tag.SetArtist(CutTagText(entry.Artist, EntryTextLimit));
    tag.SetAlbum(CutTagText(entry.Album, EntryTextLimit));
    tag.SetYear(CutTagText(entry.Year, EntryTextLimit));
    tag.SetComment(CutTagText(entry.Comment, EntryTextLimit));
    tag.SetGenreIndex(entry.Genre);
}

} // namespace

bool WriteEntryTag(TID3v1 &tag, const ID3info &entry, const QString &outputPath)
{
    takeEntry(tag, entry);
    return tag.WriteToFile(outputPath);
}

bool WriteEntryTag(TID3v1 &tag, const ID3info &entry, int fd)
{
    takeEntry(tag, entry);
    return tag.WriteToFile(fd);
}
