#pragma once

#include "core/tags/id3info.h"

#include <QString>

#include <optional>

class TID3v1;

// What reading one source file gives.
struct MediaInfo
{
    ID3info entry;              // the list row's entry
    std::optional<int> seconds; // as ffmpeg's "Duration:" line, cut to whole seconds;
                                // nullopt when only ffmpeg can time the file
    int sampleRate = 0;         // hertz, 0 unknown
    int channels = 0;           // 0 unknown
    int bitsPerSample = 0;      // lossless sources only (FLAC, WAV, AIFF, ALAC, WavPack,
                                // APE, TTA), 0 otherwise
    bool floatSamples = false;  // a WAV or AIFF-C source of floating-point samples
    bool tagLibRead = false;    // TagLib recognised and opened the file
};

// Reads the file's tags and audio properties. The entry's Title, Artist, Album, Year
// (the DATE as written), Comment and genre come from the file's own tag (ID3v2, Vorbis
// comment, MP4, APE, ASF, RIFF INFO) at full length, stored as typed text is
// (DisplayToTagText); a field that tag lacks comes from the ID3v1 block, byte for byte.
// The genre number is the ID3v1 one whose name the genre is (any letter case), else 255
// with the name in GenreName. Track is TRACKNUMBER's number, else ID3v1's. A file with
// no title at all is titled `fallbackTitle` (as UTF-8). A file TagLib cannot read gives
// the ID3v1 entry alone. Holds no shared state: any number of threads may call it.
MediaInfo ReadMediaInfo(const QString &path, const QString &fallbackTitle);
// The same, leaving the file's ID3v1 block decoded in `id3v1` (reset when there is none).
MediaInfo ReadMediaInfo(const QString &path, const QString &fallbackTitle, TID3v1 &id3v1);
