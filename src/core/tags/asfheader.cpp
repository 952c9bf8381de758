#include "core/tags/asfheader.h"

namespace {

using TagLib::ByteVector;

ByteVector guid(const char *bytes)
{
    return ByteVector(bytes, 16);
}

const char HeaderGuid[] = "\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
const char FilePropertiesGuid[] =
    "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65";
const char ContentDescriptionGuid[] =
    "\x33\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C";
const char ExtendedContentDescriptionGuid[] =
    "\x40\xA4\xD0\xD2\x07\xE3\xD2\x11\x97\xF0\x00\xA0\xC9\x5E\xA8\x50";
const char HeaderExtensionGuid[] =
    "\xB5\x03\xBF\x5F\x2E\xA9\xCF\x11\x8E\xE3\x00\xC0\x0C\x20\x53\x65";
const char MetadataGuid[] = "\xEA\xCB\xF8\xC5\xAF\x5B\x77\x48\x84\x67\xAA\x8C\x44\xFA\x4C\xCA";
const char MetadataLibraryGuid[] =
    "\x94\x1C\x23\x44\x98\x94\xD1\x49\xA1\x41\x1D\x13\x4E\x45\x70\x54";
const char VideoMediaGuid[] = "\xC0\xEF\x19\xBC\x4D\x5B\xCF\x11\xA8\xFD\x00\x80\x5F\x5C\x44\x2B";

constexpr unsigned int HeaderStart = 30; // GUID, size, object count, two reserved bytes
constexpr unsigned int ObjectStart = 24; // GUID and size

// The bytes TagLib reads for a value of `type` that states `size` bytes.
quint64 valueBytes(quint16 type, quint64 size, int kind)
{
    switch (type) {
    case 0: // text
    case 1: // bytes
    case 6: // GUID
        return size;
    case 2: // bool
        return kind == 0 ? 4 : 2;
    case 3: // 32 bits
        return 4;
    case 4: // 64 bits
        return 8;
    case 5: // 16 bits
        return 2;
    default: // TagLib reads nothing for types it does not know
        return 0;
    }
}

} // namespace

quint64 AsfHeader::statedSize(const ByteVector &start)
{
    if (start.size() < HeaderStart || !start.startsWith(guid(HeaderGuid)))
        return 0;
    const quint64 size = quint64(start.toLongLong(16U, false));
    return size >= HeaderStart && size <= MaxBytes ? size : 0;
}

AsfHeader::AsfHeader(const ByteVector &header)
{
    const quint64 size = statedSize(header);
    if (size == 0 || size != header.size())
        return;
    m_video = header.find(guid(VideoMediaGuid)) >= 0;
    m_sound = checkObjects(header, HeaderStart, header.size(), header.toUInt(24U, false), false);
}

bool AsfHeader::checkObjects(const ByteVector &h, unsigned int from, unsigned int to, quint32 count,
                             bool extension)
{
    unsigned int at = from;
    for (quint32 i = 0; extension ? at < to : i < count; ++i) {
        if (to - at < ObjectStart)
            return false;
        const quint64 size = quint64(h.toLongLong(at + 16, false));
        if (size < ObjectStart || size > to - at)
            return false;
        const unsigned int payload = at + ObjectStart;
        const unsigned int end = at + unsigned(size);
        const ByteVector type = h.mid(at, 16);
        if (type == guid(FilePropertiesGuid) && !extension) {
            if (size < 104)
                return false;
            m_fileProperties = true;
            m_statedFileSize = quint64(h.toLongLong(at + 40, false));
            m_playTime = quint64(h.toLongLong(at + 64, false));
            m_preroll = h.toUInt(at + 80, false); // ffmpeg reads the low 32 bits
            m_flags = h.toUInt(at + 88, false);
        } else if (type == guid(ContentDescriptionGuid) && !extension) {
            if (end - payload < 10)
                return false;
            quint64 strings = 0;
            for (unsigned int s = 0; s < 5; ++s)
                strings += h.toUShort(payload + 2 * s, false);
            if (10 + strings != end - payload)
                return false;
        } else if (type == guid(ExtendedContentDescriptionGuid) && !extension) {
            if (!checkAttributes(h, payload, end, 0))
                return false;
        } else if (type == guid(HeaderExtensionGuid) && !extension) {
            // A reserved GUID and 16 bits, the size of the objects inside, the objects.
            if (end - payload < 22 || h.toUInt(payload + 18, false) != end - payload - 22)
                return false;
            if (!checkObjects(h, payload + 22, end, 0, true))
                return false;
        } else if (extension && type == guid(MetadataGuid)) {
            if (!checkAttributes(h, payload, end, 1))
                return false;
        } else if (extension && type == guid(MetadataLibraryGuid)) {
            if (!checkAttributes(h, payload, end, 2))
                return false;
        }
        at = end;
    }
    return true;
}

bool AsfHeader::checkAttributes(const ByteVector &h, unsigned int from, unsigned int to, int kind)
{
    if (to - from < 2)
        return false;
    const unsigned int count = h.toUShort(from, false);
    m_attributes += int(count);
    if (m_attributes > MaxAttributes)
        return false;
    quint64 at = from + 2;
    for (unsigned int i = 0; i < count; ++i) {
        // Extended content: name length, name, type, 16-bit size. Metadata and its library:
        // language, stream, name length, type, 32-bit size, then the name.
        const quint64 fixed = kind == 0 ? 6 : 12;
        if (to - at < fixed)
            return false;
        const unsigned int p = unsigned(at);
        quint64 nameLength, type, size;
        if (kind == 0) {
            nameLength = h.toUShort(p, false);
            if (to - at < fixed + nameLength)
                return false;
            type = h.toUShort(p + 2 + unsigned(nameLength), false);
            size = h.toUShort(p + 4 + unsigned(nameLength), false);
        } else {
            nameLength = h.toUShort(p + 4, false);
            type = h.toUShort(p + 6, false);
            size = h.toUInt(p + 8, false);
        }
        at += fixed + nameLength + valueBytes(quint16(type), size, kind);
        if (at > to)
            return false;
    }
    return at == to;
}
