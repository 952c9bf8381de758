#include "core/tags/entrytag.h"

#include "core/tags/tagreader.h"
#include "core/tags/tagtext.h"

namespace {

// Entry texts may be long when typed; the setters cut them to the field sizes after this.
constexpr qsizetype EntryTextLimit = 255;

} // namespace

ID3info EntryFromFile(TID3v1 &tag, const QString &path, const QString &fileName)
{
    return ReadMediaInfo(path, fileName, tag).entry;
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
