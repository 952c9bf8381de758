#pragma once

#include <QtGlobal>

#include <initializer_list>
#include <optional>

namespace TagLib {
class File;
}

// Reading MP4 (QuickTime) boxes that TagLib parses but does not show. Every size is
// checked against its container, so a damaged file ends the walk rather than the program.

// One box: where its payload starts and where the box ends, in file offsets.
struct Mp4Box
{
    qint64 payload = 0;
    qint64 end = 0;
};

// The first box of `type` (four characters) among the boxes from `from` to `to`.
std::optional<Mp4Box> FindMp4Box(TagLib::File &file, qint64 from, qint64 to, const char *type);
// The box at the end of `path` (top-level boxes first, e.g. {"moov", "mvhd"}).
std::optional<Mp4Box> FindMp4Path(TagLib::File &file, std::initializer_list<const char *> path);

// The channels an AAC track's decoder configuration (its "esds" box) names: ffmpeg
// writes 2 in the sample description for every AAC track, mono ones too. 0 when the
// first sound track is no AAC or names its channels elsewhere.
int Mp4AacChannels(TagLib::File &file);
