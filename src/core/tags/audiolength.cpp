#include "core/tags/audiolength.h"

#include "core/tags/asfheader.h"
#include "core/tags/mp4boxes.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/mpcfile.h>
#include <taglib/mpegfile.h>
#include <taglib/trueaudiofile.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xingheader.h>

#include <limits>

namespace {

using TagLib::ByteVector;

constexpr quint64 Micro = 1000000;
// Movie headers larger than this are not read (nor trusted).
constexpr quint64 MaxHeaderBytes = 1 << 20;

// Seconds as "Duration: HH:MM:SS.hh" shows them: ffmpeg rounds its microseconds to
// hundredths (adding 5000 first), the list cuts the hundredths.
std::optional<int> secondsOfMicros(quint64 micros)
{
    const quint64 seconds = (micros + 5000) / Micro;
    if (seconds > quint64(std::numeric_limits<int>::max()))
        return std::nullopt;
    return int(seconds);
}

std::optional<int> secondsOfMillis(int millis)
{
    if (millis <= 0)
        return std::nullopt;
    return secondsOfMicros(quint64(millis) * 1000);
}

// The MPEG frame count of a Xing or VBRI header; without one ffmpeg guesses from the
// bitrate, and so would we.
std::optional<int> mpegSeconds(TagLib::MPEG::File &file)
{
    const TagLib::MPEG::Properties *props = file.audioProperties();
    if (!props || props->sampleRate() <= 0)
        return std::nullopt;
    const TagLib::MPEG::XingHeader *xing = props->xingHeader();
    if (!xing || !xing->isValid() || xing->totalFrames() == 0)
        return std::nullopt;
    quint64 samplesPerFrame = 1152;
    if (props->layer() == 1)
        samplesPerFrame = 384;
    else if (props->layer() == 3 && props->version() != TagLib::MPEG::Header::Version1)
        samplesPerFrame = 576;
    return SecondsOfTicks(quint64(xing->totalFrames()) * samplesPerFrame,
                          quint64(props->sampleRate()));
}

// ffmpeg takes an MP4 file's duration from its movie header ("mvhd"): the longest track,
// after edit lists, which is what a player plays; a fragmented file ("mvex") it times
// from the fragments.
std::optional<int> mp4Seconds(TagLib::File &file)
{
    const std::optional<Mp4Box> moov = FindMp4Path(file, {"moov"});
    if (!moov || FindMp4Box(file, moov->payload, moov->end, "mvex"))
        return std::nullopt;
    const std::optional<Mp4Box> mvhd = FindMp4Box(file, moov->payload, moov->end, "mvhd");
    if (!mvhd || mvhd->end - mvhd->payload > qint64(MaxHeaderBytes))
        return std::nullopt;
    file.seek(long(mvhd->payload));
    const ByteVector data = file.readBlock(32);
    const bool wide = data.size() >= 1 && data[0] == 1;
    if (data.size() < (wide ? 32U : 20U) || mvhd->end - mvhd->payload < (wide ? 32 : 20))
        return std::nullopt;
    const quint64 timeScale = wide ? data.toUInt(20U, true) : data.toUInt(12U, true);
    const quint64 duration =
        wide ? quint64(data.toLongLong(24U, true)) : quint64(data.toUInt(16U, true));
    if (duration == 0 || duration == (wide ? ~quint64(0) : 0xFFFFFFFFu))
        return std::nullopt; // unknown
    return SecondsOfTicks(duration, timeScale);
}

// ffmpeg times an ASF file by its file properties (play duration less preroll, whole
// milliseconds) when the file is not a broadcast and its size is about the one stated;
// every stream then shares that length, but a video stream's later first frame makes
// the line longer, so ASF with video is left to ffmpeg.
std::optional<int> asfSeconds(TagLib::File &file)
{
    const AsfHeader header(AsfHeader::read(file));
    if (!header.isSound() || !header.hasFileProperties() || header.hasVideo() ||
        (header.flags() & 0x01))
        return std::nullopt;
    const quint64 stated = header.statedFileSize();
    const quint64 real = quint64(file.length());
    const quint64 difference = real > stated ? real - stated : stated - real;
    if (stated != 0 && qint64(stated) > 0 && difference >= std::min(real, stated) / 20)
        return std::nullopt; // ffmpeg no longer trusts the header and estimates
    const quint64 millis = header.playTime() / 10000;
    if (millis <= header.preroll())
        return std::nullopt;
    return secondsOfMicros((millis - header.preroll()) * 1000);
}

std::optional<int> framesSeconds(quint64 frames, int sampleRate)
{
    if (frames == 0 || sampleRate <= 0)
        return std::nullopt;
    return SecondsOfTicks(frames, quint64(sampleRate));
}

bool isPcmAiff(const TagLib::RIFF::AIFF::Properties &props)
{
    if (!props.isAiffC())
        return true;
    const ByteVector type = props.compressionType();
    for (const char *pcm :
         {"NONE", "sowt", "twos", "raw ", "fl32", "FL32", "fl64", "FL64", "in24", "in32", "lpcm"}) {
        if (type == pcm)
            return true;
    }
    return false;
}

} // namespace

std::optional<int> SecondsOfTicks(quint64 ticks, quint64 perSecond)
{
    if (perSecond == 0)
        return std::nullopt;
    // ffmpeg rescales to microseconds rounding to nearest; split so nothing overflows.
    const quint64 whole = ticks / perSecond;
    if (whole > quint64(std::numeric_limits<int>::max()))
        return std::nullopt;
    const quint64 rest = ticks % perSecond;
    const quint64 restMicros = (rest * Micro + perSecond / 2) / perSecond;
    return secondsOfMicros(whole * Micro + restMicros);
}

std::optional<int> SecondsLikeFfmpeg(TagLib::File &file)
{
    if (auto *mpeg = dynamic_cast<TagLib::MPEG::File *>(&file))
        return mpegSeconds(*mpeg);
    if (auto *mp4 = dynamic_cast<TagLib::MP4::File *>(&file))
        return mp4Seconds(*mp4);
    if (auto *asf = dynamic_cast<TagLib::ASF::File *>(&file))
        return asfSeconds(*asf);
    if (auto *flac = dynamic_cast<TagLib::FLAC::File *>(&file)) {
        const auto *p = flac->audioProperties();
        return p ? framesSeconds(p->sampleFrames(), p->sampleRate()) : std::nullopt;
    }
    if (auto *wav = dynamic_cast<TagLib::RIFF::WAV::File *>(&file)) {
        const auto *p = wav->audioProperties();
        // PCM, float and the extensible layout; ffmpeg times other codecs its own way.
        if (!p || (p->format() != 1 && p->format() != 3 && p->format() != 0xFFFE))
            return std::nullopt;
        return framesSeconds(p->sampleFrames(), p->sampleRate());
    }
    if (auto *aiff = dynamic_cast<TagLib::RIFF::AIFF::File *>(&file)) {
        const auto *p = aiff->audioProperties();
        if (!p || !isPcmAiff(*p))
            return std::nullopt;
        return framesSeconds(p->sampleFrames(), p->sampleRate());
    }
    if (auto *wavPack = dynamic_cast<TagLib::WavPack::File *>(&file)) {
        const auto *p = wavPack->audioProperties();
        return p ? framesSeconds(p->sampleFrames(), p->sampleRate()) : std::nullopt;
    }
    if (auto *ape = dynamic_cast<TagLib::APE::File *>(&file)) {
        const auto *p = ape->audioProperties();
        return p ? framesSeconds(p->sampleFrames(), p->sampleRate()) : std::nullopt;
    }
    if (auto *tta = dynamic_cast<TagLib::TrueAudio::File *>(&file)) {
        const auto *p = tta->audioProperties();
        return p ? framesSeconds(p->sampleFrames(), p->sampleRate()) : std::nullopt;
    }
    // ffmpeg's Musepack demuxers count whole blocks of frames (1.67 s each for SV8), so
    // the true length is shown instead.
    if (auto *mpc = dynamic_cast<TagLib::MPC::File *>(&file)) {
        const auto *p = mpc->audioProperties();
        return p ? framesSeconds(p->sampleFrames(), p->sampleRate()) : std::nullopt;
    }
    // Ogg: TagLib's length from the granule positions, as ffmpeg's, to the millisecond.
    const TagLib::AudioProperties *p = file.audioProperties();
    return p ? secondsOfMillis(p->lengthInMilliseconds()) : std::nullopt;
}
