#pragma once

#include "core/tags/id3info.h"
#include "core/tags/tid3v1.h"

#include <QString>

// Makes the entry of a newly added row from the file's tags (ReadMediaInfo), leaving its
// ID3v1 block in `tag`. Without a tag title the row is titled by `fileName` (as UTF-8).
ID3info EntryFromFile(TID3v1 &tag, const QString &path, const QString &fileName);
// Writes the entry's fields as the tag of `outputPath`, or of the file open at `fd` (a
// conversion's work file); the track number only names outputs, so the tag gets none.
bool WriteEntryTag(TID3v1 &tag, const ID3info &entry, const QString &outputPath);
bool WriteEntryTag(TID3v1 &tag, const ID3info &entry, int fd);
