#pragma once

#include "core/tags/id3info.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace TagLib {
class File;
}

// One embedded picture with its bytes.
struct EmbeddedPicture
{
    PictureInfo info;
    QByteArray data;
};

// The pictures embedded in the tag of `path`, with their bytes, in tag order: ID3v2 APIC
// frames, FLAC PICTURE blocks, Ogg METADATA_BLOCK_PICTURE fields, MP4 "covr" images, ASF
// WM/Picture attributes, APE "Cover Art (...)" items. Where a file carries several tags,
// the pictures of the first that has any (the order its tags are read in). Empty when
// there are none or TagLib cannot read the file. Safe to call from several threads.
QList<EmbeddedPicture> ReadPictures(const QString &path);

// The same for a file TagLib has open; without `withData` the bytes are left out.
QList<EmbeddedPicture> PicturesOf(TagLib::File &file, bool withData);
