#include "core/convert/targetformat.h"

const QVector<TargetFormat> &TargetFormats()
{
    static const QVector<TargetFormat> formats = {
        {QStringLiteral("tomp3"), QStringLiteral(".mp3"), QStringLiteral("MP3")},
        {QStringLiteral("towav"), QStringLiteral(".wav"), QStringLiteral("WAV")},
        {QStringLiteral("towma"), QStringLiteral(".wma"), QStringLiteral("WMA")},
        {QStringLiteral("toaac"), QStringLiteral(".aac"), QStringLiteral("AAC")},
        {QStringLiteral("torm"), QStringLiteral(".rm"), QStringLiteral("RealMedia")},
    };
    return formats;
}

const TargetFormat *TargetFormatForCommand(const QString &command)
{
    for (const TargetFormat &format : TargetFormats()) {
        if (format.command == command)
            return &format;
    }
    return nullptr;
}

const TargetFormat *TargetFormatForName(const QString &cliName)
{
    if (cliName.isEmpty())
        return nullptr;
    for (const TargetFormat &format : TargetFormats()) {
        if (format.extension.mid(1).compare(cliName, Qt::CaseInsensitive) == 0)
            return &format;
    }
    return nullptr;
}
