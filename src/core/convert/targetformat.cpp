#include "core/convert/targetformat.h"

namespace {

TargetFormat format(const char *command, const char *extension, const char *muxer, const char *name,
                    TagContainer tags)
{
    TargetFormat f;
    f.command = QString::fromLatin1(command);
    f.extension = QString::fromLatin1(extension);
    f.muxer = QString::fromLatin1(muxer);
    f.name = QString::fromLatin1(name);
    f.tagContainer = tags;
    // Audio only: from a video source (or a cover picture) ffmpeg would otherwise put a
    // video stream into the output (a picture re-encoded, or as Theora in Ogg) or fail. The
    // tag writer carries the source's pictures over, bytes unchanged, and every field of its
    // tag: ffmpeg copies none, so nothing is written twice or half.
    f.encoderArguments = {QStringLiteral("-vn"), QStringLiteral("-map_metadata"),
                          QStringLiteral("-1")};
    return f;
}

// A format of its own container: an ID3v1 block after it would be junk a strict reader
// stumbles over (FLAC and Ogg readers do); its own tag holds everything.
TargetFormat taggedInside(const char *command, const char *extension, const char *muxer,
                          const char *name, TagContainer tags)
{
    TargetFormat f = format(command, extension, muxer, name, tags);
    f.carriesId3v1 = false;
    return f;
}

QString kbps(int bitsPerSecond)
{
    return QString::number(bitsPerSecond / 1000);
}

QString channelsText(int channels)
{
    if (channels == 1)
        return QStringLiteral("mono");
    if (channels == 2)
        return QStringLiteral("stereo");
    return QStringLiteral("%1 channels").arg(channels);
}

} // namespace

int TargetFormat::outputBits(int sourceBits, bool sourceFloat) const
{
    switch (sizeRule) {
    case SizeRule::Bitrate:
        return 0;
    case SizeRule::Lossless:
        // ffmpeg 5.1 writes FLAC of 16 or 24 bits; a lossy source decodes to floating-point
        // samples, which would make 24 bits, half as large again for nothing.
        return sourceBits > 16 ? 24 : 16;
    case SizeRule::Pcm:
        break;
    }
    if (sourceFloat)
        return sourceBits == 64 ? 64 : 32;
    if (sourceBits <= 16)
        return 16;
    return sourceBits <= 24 ? 24 : 32;
}

QStringList TargetFormat::resolutionArguments(int sourceBits, bool sourceFloat) const
{
    const int bits = outputBits(sourceBits, sourceFloat);
    if (sizeRule == SizeRule::Lossless)
        return {QStringLiteral("-sample_fmt"),
                bits == 16 ? QStringLiteral("s16") : QStringLiteral("s32")};
    if (sizeRule == SizeRule::Pcm)
        return {QStringLiteral("-c:a"), QStringLiteral("pcm_%1%2le")
                                            .arg(sourceFloat ? QLatin1Char('f') : QLatin1Char('s'))
                                            .arg(bits)};
    return {};
}

qint64 TargetFormat::sizeBitrate(const EncodingProfile &profile, int sourceBits,
                                 bool sourceFloat) const
{
    if (sizeRule == SizeRule::Bitrate)
        return profile.Bitrate.toLongLong();
    // Samples at the chosen rate, per channel: 16-bit CD audio is 1411200 bit/s, 16-bit
    // 8000 Hz mono 128000.
    const qint64 pcm = profile.SampleRate.toLongLong() * outputBits(sourceBits, sourceFloat) *
                       profile.Channels.toLongLong();
    if (sizeRule == SizeRule::Pcm)
        return pcm;
    // FLAC keeps 60 to 90 % of noise and far less of tonal music; 60 % is a fair guess.
    return pcm * 6 / 10;
}

QString TargetFormat::refusal(const EncodingProfile &profile) const
{
    const int rate = profile.SampleRate.toInt();
    const int bitrate = profile.Bitrate.toInt();
    const int channels = profile.Channels.toInt();
    if (minSampleRate > 0 && rate < minSampleRate)
        return QStringLiteral("%1 needs a sample rate of at least %2 Hz")
            .arg(name)
            .arg(minSampleRate);
    if (!sampleRates.isEmpty() && !sampleRates.contains(rate)) {
        QStringList rates;
        for (int r : sampleRates)
            rates.append(QString::number(r));
        const QString last = rates.takeLast();
        return QStringLiteral("%1 takes only %2 or %3 Hz")
            .arg(name, rates.join(QStringLiteral(", ")), last);
    }
    if (minBitrate > 0 && bitrate < minBitrate)
        return QStringLiteral("%1 needs a bitrate of at least %2 Kbps").arg(name, kbps(minBitrate));
    if (maxBitratePerChannel > 0 && bitrate > qint64(maxBitratePerChannel) * channels)
        return QStringLiteral("%1 takes at most %2 Kbps in %3")
            .arg(name, kbps(maxBitratePerChannel * channels), channelsText(channels));
    if (!bitrateWindows.isEmpty()) {
        for (const BitrateWindow &w : bitrateWindows) {
            if (w.sampleRate != rate || w.channels != channels)
                continue;
            if (bitrate >= w.minBitrate && bitrate <= w.maxBitrate)
                return {};
            return QStringLiteral("%1 takes %2 to %3 Kbps at %4 Hz in %5")
                .arg(name, kbps(w.minBitrate), kbps(w.maxBitrate), QString::number(rate),
                     channelsText(channels));
        }
        return QStringLiteral("%1 does not take %2 Hz in %3")
            .arg(name, QString::number(rate), channelsText(channels));
    }
    return {};
}

const QVector<TargetFormat> &TargetFormats()
{
    static const QVector<TargetFormat> formats = [] {
        TargetFormat wav = format("towav", ".wav", "wav", "WAV", TagContainer::Wav);
        wav.sizeRule = TargetFormat::SizeRule::Pcm;
        TargetFormat wma = format("towma", ".wma", "asf", "WMA", TagContainer::Asf);
        wma.minBitrate = 24000;
        TargetFormat rm = format("torm", ".rm", "rm", "RealMedia", TagContainer::RealMedia);
        rm.minSampleRate = 32000;

        TargetFormat flac = taggedInside("toflac", ".flac", "flac", "FLAC", TagContainer::Flac);
        flac.sizeRule = TargetFormat::SizeRule::Lossless;

        // libvorbis's managed bitrate: what it accepts at each rate and channel count of
        // the drop-downs (bits per second, both ends included).
        TargetFormat ogg =
            taggedInside("toogg", ".ogg", "ogg", "Ogg Vorbis", TagContainer::OggVorbis);
        const struct
        {
            int rate, monoMin, monoMax, stereoMin, stereoMax;
        } vorbis[] = {
            {8000, 8000, 32000, 16000, 80000},     {11025, 16000, 48000, 16000, 96000},
            {12000, 16000, 48000, 16000, 96000},   {16000, 16000, 96000, 24000, 192000},
            {22050, 16000, 80000, 32000, 160000},  {24000, 16000, 80000, 32000, 160000},
            {32000, 32000, 160000, 48000, 320000}, {44100, 32000, 224000, 48000, 320000},
            {48000, 32000, 224000, 48000, 320000},
        };
        for (const auto &v : vorbis) {
            ogg.bitrateWindows.append({v.rate, 1, v.monoMin, v.monoMax});
            ogg.bitrateWindows.append({v.rate, 2, v.stereoMin, v.stereoMax});
        }

        TargetFormat opus = taggedInside("toopus", ".opus", "opus", "Opus", TagContainer::Opus);
        opus.sampleRates = {8000, 12000, 16000, 24000, 48000};
        opus.maxBitratePerChannel = 256000;

        // AAC in an MP4 container: players read its tags and seek in it, unlike raw ADTS.
        TargetFormat m4a = taggedInside("tom4a", ".m4a", "ipod", "M4A", TagContainer::Mp4);

        return QVector<TargetFormat>{format("tomp3", ".mp3", "mp3", "MP3", TagContainer::Mpeg),
                                     wav,
                                     wma,
                                     format("toaac", ".aac", "adts", "AAC", TagContainer::None),
                                     rm,
                                     flac,
                                     ogg,
                                     opus,
                                     m4a};
    }();
    return formats;
}

const TargetFormat *TargetFormatForCommand(const QString &command)
{
    for (const TargetFormat &f : TargetFormats()) {
        if (f.command == command)
            return &f;
    }
    return nullptr;
}

const TargetFormat *TargetFormatForName(const QString &cliName)
{
    if (cliName.isEmpty())
        return nullptr;
    for (const TargetFormat &f : TargetFormats()) {
        if (f.cliName().compare(cliName, Qt::CaseInsensitive) == 0)
            return &f;
    }
    return nullptr;
}

const TargetFormat *TargetFormatForExtension(const QString &extension)
{
    for (const TargetFormat &f : TargetFormats()) {
        if (f.extension == extension)
            return &f;
    }
    return nullptr;
}
