#pragma once

#include "core/tags/outputtag.h"

#include <QMap>
#include <QString>
#include <QStringList>

// Where an output's tag goes, by the output's container.
enum class TagContainer
{
    None,      // raw AAC: no tag of its own
    RealMedia, // the encoder writes title, author (the artist), copyright and comment into
               // the header (MetadataArguments())
    Mpeg,      // an ID3v2.3 tag: what Windows and most car stereos read
    Wav,       // an ID3v2.3 chunk, and RIFF INFO for the fields it has
    Asf,       // ASF attributes
    Flac,      // a Vorbis comment and PICTURE blocks
    OggVorbis, // a Vorbis comment with METADATA_BLOCK_PICTURE fields
    Opus,      // the same, ReplayGain as R128 gains (RFC 7845)
    Mp4,       // iTunes-style atoms, free-form ones for the fields without an atom
};

// The output tag's fields in the form `container` keeps them in: track and disc as "3/12"
// where the container writes them so (ID3v2, MP4), ReplayGain as the container keeps it
// (Opus: R128_TRACK_GAIN and R128_ALBUM_GAIN in Q7.8 dB against EBU R128's -23 LUFS, 5 dB
// below ReplayGain's reference; elsewhere R128 gains become REPLAYGAIN_* ones). This is the
// one place ReplayGain values take each container's form. `dropped` gets the keys the
// container has no place for (Opus: the peaks).
QMap<QString, QStringList> ContainerFields(TagContainer container,
                                           const QMap<QString, QStringList> &fields,
                                           QStringList *dropped);

struct TagWriteResult
{
    enum class Outcome
    {
        Written,   // the tag is in the file (or the container takes none from us)
        NotOpened, // the file was not what `container` says; nothing was written
        Failed,    // the write failed on the way: the file may be damaged
    };
    Outcome outcome = Outcome::Written;
    // What the output could not keep, by the report's names (ReportFieldNames()).
    QStringList notKept;
};

// Writes `tag` into the file open at `fd` for reading and writing (a conversion's work file,
// reached only through the descriptor), which must be of `container`'s kind, in place of any
// tag the encoder wrote; takes `fd` over and closes it. Pictures keep their bytes, type and
// description where the container has room for them. No ID3v1 block is written or removed:
// with `id3v1After` the caller appends one, which counts for what is kept (None and
// RealMedia). For None and RealMedia, and for a tag without fields and pictures, nothing is
// written: the result only tells what is kept.
TagWriteResult WriteOutputTag(int fd, TagContainer container, const OutputTag &tag,
                              bool id3v1After);
