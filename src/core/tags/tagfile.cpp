#include "core/tags/tagfile.h"

#include "core/tags/asfheader.h"
#include "core/tags/tagblock.h"

#include <QFileInfo>

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/speexfile.h>
#include <taglib/tfilestream.h>
#include <taglib/trueaudiofile.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>

#include <unistd.h>

namespace {

using TagLib::ByteVector;

enum class Kind
{
    None,
    Mpeg,
    Flac,
    OggVorbis,
    OggOpus,
    OggFlac,
    OggSpeex,
    Mp4,
    Wav,
    Aiff,
    WavPack,
    Ape,
    Mpc,
    TrueAudio,
    Asf
};

// Enough of the start for every signature below, an Ogg page's segment table included.
constexpr unsigned int HeadSize = 512;
// ID3v2 tags stacked in front of the audio that are skipped before giving up.
constexpr int MaxLeadingTags = 4;

bool at(const ByteVector &data, unsigned int offset, const char *signature)
{
    return data.containsAt(ByteVector(signature), offset);
}

// The whole size of an ID3v2 tag at the start of `head` (header, body, footer); 0 for none.
long id3v2Size(const ByteVector &head)
{
    if (head.size() < 10 || !at(head, 0, "ID3") || quint8(head[3]) == 0xFF ||
        quint8(head[4]) == 0xFF)
        return 0;
    long size = 0;
    for (int i = 6; i < 10; ++i) {
        if (quint8(head[i]) & 0x80)
            return 0;
        size = (size << 7) | quint8(head[i]);
    }
    return 10 + size + ((quint8(head[5]) & 0x10) ? 10 : 0);
}

// An MPEG audio frame header (layers I-III) starts here; ADTS (layer bits 00) does not count.
bool mpegFrameAt(const ByteVector &head, unsigned int offset)
{
    if (head.size() < offset + 4)
        return false;
    const quint8 b1 = quint8(head[offset + 1]);
    const quint8 b2 = quint8(head[offset + 2]);
    return quint8(head[offset]) == 0xFF && (b1 & 0xE0) == 0xE0 && (b1 & 0x18) != 0x08 &&
           (b1 & 0x06) != 0 && (b2 & 0xF0) != 0xF0 && (b2 & 0x0C) != 0x0C;
}

Kind oggKind(const ByteVector &head)
{
    // The first packet follows the page header and its segment table.
    if (head.size() < 27)
        return Kind::None;
    const unsigned int packet = 27 + quint8(head[26]);
    if (at(head, packet, "\x01vorbis"))
        return Kind::OggVorbis;
    if (at(head, packet, "OpusHead"))
        return Kind::OggOpus;
    if (at(head, packet,
           "\x7f"
           "FLAC"))
        return Kind::OggFlac;
    if (at(head, packet, "Speex   "))
        return Kind::OggSpeex;
    return Kind::None;
}

Kind kindOf(const ByteVector &head)
{
    const ByteVector asfHeader("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C",
                               16);
    if (at(head, 0, "fLaC"))
        return Kind::Flac;
    if (at(head, 0, "OggS"))
        return oggKind(head);
    if (at(head, 0, "RIFF") && at(head, 8, "WAVE"))
        return Kind::Wav;
    if (at(head, 0, "FORM") && (at(head, 8, "AIFF") || at(head, 8, "AIFC")))
        return Kind::Aiff;
    if (at(head, 0, "wvpk"))
        return Kind::WavPack;
    if (at(head, 0, "MAC "))
        return Kind::Ape;
    if (at(head, 0, "MPCK") || at(head, 0, "MP+"))
        return Kind::Mpc;
    if (at(head, 0, "TTA1"))
        return Kind::TrueAudio;
    if (head.startsWith(asfHeader))
        return Kind::Asf;
    // QuickTime files may start with another top-level atom than "ftyp".
    for (const char *atom : {"ftyp", "moov", "mdat", "wide", "free", "skip", "pnot"}) {
        if (at(head, 4, atom))
            return Kind::Mp4;
    }
    if (mpegFrameAt(head, 0))
        return Kind::Mpeg;
    return Kind::None;
}

// MPEG audio has no signature beyond a frame header, which may follow some junk.
bool namedAsMpegAudio(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("mp3") || suffix == QLatin1String("mp2") ||
           suffix == QLatin1String("mpga");
}

Kind sniff(TagLib::IOStream &stream, const QString &path)
{
    long offset = 0;
    bool tagged = false;
    for (int tags = 0; tags <= MaxLeadingTags; ++tags) {
        stream.seek(offset);
        const ByteVector head = stream.readBlock(HeadSize);
        const long tagSize = id3v2Size(head);
        if (tagSize == 0 || tags == MaxLeadingTags) {
            const Kind kind = kindOf(head);
            // An ID3v2 tag in front of unknown audio (ADTS AAC, say) is still worth reading.
            if (kind == Kind::None && (tagged || namedAsMpegAudio(path)))
                return Kind::Mpeg;
            return kind;
        }
        tagged = true;
        offset += tagSize;
    }
    return Kind::None;
}

TagLib::File *create(Kind kind, TagLib::IOStream *stream)
{
    using Style = TagLib::AudioProperties::ReadStyle;
    const Style style = Style::Average;
    TagLib::ID3v2::FrameFactory *frames = TagLib::ID3v2::FrameFactory::instance();
    switch (kind) {
    case Kind::Mpeg:
        return new TagLib::MPEG::File(stream, frames, true, style);
    case Kind::Flac:
        return new TagLib::FLAC::File(stream, frames, true, style);
    case Kind::OggVorbis:
        return new TagLib::Ogg::Vorbis::File(stream, true, style);
    case Kind::OggOpus:
        return new TagLib::Ogg::Opus::File(stream, true, style);
    case Kind::OggFlac:
        return new TagLib::Ogg::FLAC::File(stream, true, style);
    case Kind::OggSpeex:
        return new TagLib::Ogg::Speex::File(stream, true, style);
    case Kind::Mp4:
        return new TagLib::MP4::File(stream, true, style);
    case Kind::Wav:
        return new TagLib::RIFF::WAV::File(stream, true, style);
    case Kind::Aiff:
        return new TagLib::RIFF::AIFF::File(stream, true, style);
    case Kind::WavPack:
        return new TagLib::WavPack::File(stream, true, style);
    case Kind::Ape:
        return new TagLib::APE::File(stream, true, style);
    case Kind::Mpc:
        return new TagLib::MPC::File(stream, true, style);
    case Kind::TrueAudio:
        return new TagLib::TrueAudio::File(stream, frames, true, style);
    case Kind::Asf:
        return new TagLib::ASF::File(stream, true, style);
    case Kind::None:
        break;
    }
    return nullptr;
}

} // namespace

QString QStringOf(const TagLib::String &text)
{
    const QString converted = QString::fromStdWString(text.toWString());
    // Broken UTF-16 in a tag leaves lone surrogates, which no byte text can hold; they
    // become U+FFFD here, so the value shows as it is stored.
    if (QStringView(converted).isValidUtf16())
        return converted;
    return QString::fromUtf8(converted.toUtf8());
}

TagFile::TagFile(const QString &path)
{
    qint64 size = 0;
    const int fd = OpenRegularFile(path, false, 0, &size);
    if (fd >= 0)
        open(fd, true, path);
}

TagFile::TagFile(int fd)
{
    if (fd >= 0)
        open(fd, false, QString());
}

void TagFile::open(int fd, bool readOnly, const QString &path)
{
    m_stream = std::make_unique<TagLib::FileStream>(fd, readOnly);
    if (!m_stream->isOpen()) {
        m_stream.reset();
        ::close(fd);
        return;
    }
    // TagLib falls back to reading alone where it cannot write; a work file must be writable.
    if (m_stream->readOnly() != readOnly) {
        m_stream.reset(); // closes the descriptor with its stream
        return;
    }
    Kind kind = sniff(*m_stream, path);
    // TagLib believes an ASF header's counts; one that does not add up is left to ffmpeg.
    if (kind == Kind::Asf && !AsfHeader(AsfHeader::read(*m_stream)).isSound())
        kind = Kind::None;
    m_stream->seek(0); // some readers start where the stream stands
    m_file.reset(create(kind, m_stream.get()));
    if (m_file && !m_file->isValid())
        m_file.reset();
}

TagFile::~TagFile() = default;
