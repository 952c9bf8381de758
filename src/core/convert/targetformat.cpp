#include "core/convert/targetformat.h"

namespace {

TargetFormat format(const char *command, const char *extension, const char *name)
{
    TargetFormat f;
    f.command = QString::fromLatin1(command);
    f.extension = QString::fromLatin1(extension);
    f.name = QString::fromLatin1(name);
    // Audio only: from a video source (or an MP3's cover picture) ffmpeg would otherwise put
    // a video stream into WMA files and fail RealMedia ones. MP3 keeps its cover picture.
    if (f.extension != QLatin1String(".mp3"))
        f.encoderArguments = {QStringLiteral("-vn")};
    return f;
}

} // namespace

QString TargetFormat::sizeBitrate(const EncodingProfile &profile) const
{
    if (sizeRule == SizeRule::Bitrate)
        return profile.Bitrate;
    // 16-bit samples at the chosen rate, per channel: CD audio is 1411200 bit/s, 8000 Hz
    // mono 128000.
    return QString::number(profile.SampleRate.toLongLong() * 16 * profile.Channels.toLongLong());
}

QString TargetFormat::refusal(const EncodingProfile &profile) const
{
    if (minBitrate > 0 && profile.Bitrate.toInt() < minBitrate)
        return QStringLiteral("%1 needs a bitrate of at least %2 Kbps")
            .arg(name)
            .arg(minBitrate / 1000);
    if (minSampleRate > 0 && profile.SampleRate.toInt() < minSampleRate)
        return QStringLiteral("%1 needs a sample rate of at least %2 Hz")
            .arg(name)
            .arg(minSampleRate);
    return {};
}

const QVector<TargetFormat> &TargetFormats()
{
    static const QVector<TargetFormat> formats = [] {
        TargetFormat wav = format("towav", ".wav", "WAV");
        wav.sizeRule = TargetFormat::SizeRule::Pcm;
        TargetFormat wma = format("towma", ".wma", "WMA");
        wma.minBitrate = 24000;
        TargetFormat rm = format("torm", ".rm", "RealMedia");
        rm.minSampleRate = 32000;
        return QVector<TargetFormat>{format("tomp3", ".mp3", "MP3"), wav, wma,
                                     format("toaac", ".aac", "AAC"), rm};
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
