#include "core/tags/mp4boxes.h"

#include <taglib/tbytevector.h>
#include <taglib/tfile.h>

namespace {

using TagLib::ByteVector;

// Boxes walked in one container before giving up on a file whose boxes never end.
constexpr int MaxBoxes = 4096;
// Descriptor bytes read from an "esds" box; the configuration is a few bytes long.
constexpr unsigned int MaxDescriptorBytes = 4096;

struct Header
{
    ByteVector type;
    Mp4Box box;
};

std::optional<Header> headerAt(TagLib::File &file, qint64 offset, qint64 limit)
{
    if (offset < 0 || offset + 8 > limit)
        return std::nullopt;
    file.seek(long(offset));
    const ByteVector bytes = file.readBlock(16);
    if (bytes.size() < 8)
        return std::nullopt;
    quint64 size = bytes.toUInt(0U, true);
    Header header;
    header.type = bytes.mid(4, 4);
    header.box.payload = offset + 8;
    if (size == 1) { // a 64-bit size follows
        if (bytes.size() < 16)
            return std::nullopt;
        size = quint64(bytes.toLongLong(8U, true));
        header.box.payload = offset + 16;
    } else if (size == 0) { // up to the end of its container
        size = quint64(limit - offset);
    }
    if (size < quint64(header.box.payload - offset) || size > quint64(limit - offset))
        return std::nullopt;
    header.box.end = offset + qint64(size);
    return header;
}

// The handler type of a "trak" box: "soun" for sound, "vide" for video.
ByteVector handlerOf(TagLib::File &file, const Mp4Box &trak)
{
    const std::optional<Mp4Box> mdia = FindMp4Box(file, trak.payload, trak.end, "mdia");
    const std::optional<Mp4Box> hdlr =
        mdia ? FindMp4Box(file, mdia->payload, mdia->end, "hdlr") : std::nullopt;
    if (!hdlr || hdlr->end - hdlr->payload < 12)
        return ByteVector();
    file.seek(long(hdlr->payload + 8));
    return file.readBlock(4);
}

// Reads one descriptor's tag and length at `at`, moving `at` to its payload.
bool descriptor(const ByteVector &data, unsigned int &at, quint8 &tag, unsigned int &length)
{
    if (at >= data.size())
        return false;
    tag = quint8(data[at++]);
    length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= data.size())
            return false;
        const quint8 b = quint8(data[at++]);
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return length <= data.size() - at;
    }
    return false;
}

// The channel configuration of an AudioSpecificConfig (ISO 14496-3), 0 when not given.
int channelsOfConfig(const ByteVector &config)
{
    quint64 bits = 0;
    for (unsigned int i = 0; i < 8; ++i)
        bits = (bits << 8) | (i < config.size() ? quint8(config[i]) : 0);
    int used = 0;
    const auto take = [&](int n) {
        used += n;
        return int((bits >> (64 - used)) & ((quint64(1) << n) - 1));
    };
    if (config.size() < 2)
        return 0;
    if (take(5) == 31)
        take(6);
    if (take(4) == 15)
        take(24);
    const int configuration = take(4);
    return configuration == 7 ? 8 : (configuration <= 6 ? configuration : 0);
}

int channelsOfEsds(const ByteVector &esds)
{
    unsigned int at = 4; // version and flags
    quint8 tag = 0;
    unsigned int length = 0;
    if (!descriptor(esds, at, tag, length) || tag != 0x03 || length < 3)
        return 0;
    const quint8 flags = quint8(esds[at + 2]);
    at += 3;
    if (flags & 0x80)
        at += 2;
    if (flags & 0x40) {
        if (at >= esds.size())
            return 0;
        at += 1 + quint8(esds[at]);
    }
    if (flags & 0x20)
        at += 2;
    if (!descriptor(esds, at, tag, length) || tag != 0x04 || length < 13)
        return 0;
    at += 13;
    if (!descriptor(esds, at, tag, length) || tag != 0x05)
        return 0;
    return channelsOfConfig(esds.mid(at, length));
}

} // namespace

std::optional<Mp4Box> FindMp4Box(TagLib::File &file, qint64 from, qint64 to, const char *type)
{
    qint64 offset = from;
    for (int i = 0; i < MaxBoxes && offset < to; ++i) {
        const std::optional<Header> header = headerAt(file, offset, to);
        if (!header)
            return std::nullopt;
        if (header->type == type)
            return header->box;
        offset = header->box.end;
    }
    return std::nullopt;
}

std::optional<Mp4Box> FindMp4Path(TagLib::File &file, std::initializer_list<const char *> path)
{
    std::optional<Mp4Box> box = Mp4Box{0, qint64(file.length())};
    for (const char *type : path) {
        box = FindMp4Box(file, box->payload, box->end, type);
        if (!box)
            return std::nullopt;
    }
    return box;
}

int Mp4AacChannels(TagLib::File &file)
{
    const std::optional<Mp4Box> moov = FindMp4Path(file, {"moov"});
    if (!moov)
        return 0;
    // The first sound track, as TagLib's own properties take it.
    qint64 offset = moov->payload;
    std::optional<Mp4Box> trak;
    for (int i = 0; i < MaxBoxes; ++i) {
        trak = FindMp4Box(file, offset, moov->end, "trak");
        if (!trak || handlerOf(file, *trak) == "soun")
            break;
        offset = trak->end;
    }
    if (!trak)
        return 0;
    std::optional<Mp4Box> box = trak;
    for (const char *type : {"mdia", "minf", "stbl", "stsd"}) {
        box = FindMp4Box(file, box->payload, box->end, type);
        if (!box)
            return 0;
    }
    // stsd: version, flags and an entry count, then the sample entries.
    const std::optional<Mp4Box> entry = FindMp4Box(file, box->payload + 8, box->end, "mp4a");
    if (!entry || entry->end - entry->payload < 28)
        return 0;
    file.seek(long(entry->payload + 8));
    const ByteVector version = file.readBlock(2);
    if (version.size() < 2)
        return 0;
    // QuickTime's sound descriptions 1 and 2 carry 16 and 36 more bytes before the boxes.
    const int extra = version.toUShort(true) == 1 ? 16 : version.toUShort(true) == 2 ? 36 : 0;
    const std::optional<Mp4Box> esds =
        FindMp4Box(file, entry->payload + 28 + extra, entry->end, "esds");
    if (!esds || esds->end - esds->payload > qint64(MaxDescriptorBytes))
        return 0;
    file.seek(long(esds->payload));
    return channelsOfEsds(file.readBlock(size_t(esds->end - esds->payload)));
}
