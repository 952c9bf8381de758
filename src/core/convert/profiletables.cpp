#include "core/convert/profiletables.h"

namespace {

QString valueAt(const QVector<ProfileItem> &table, int index, const QString &fallback)
{
    if (index < 0 || index >= table.size())
        return fallback;
    return table.at(index).value;
}

} // namespace

const QVector<ProfileItem> &ProfileTables::sampleRates()
{
    static const QVector<ProfileItem> table = [] {
        QVector<ProfileItem> items;
        for (int hz : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000})
            items.append({QString::number(hz) + QStringLiteral(" Hz"), QString::number(hz)});
        return items;
    }();
    return table;
}

const QVector<ProfileItem> &ProfileTables::bitrates()
{
    static const QVector<ProfileItem> table = [] {
        QVector<ProfileItem> items;
        for (int kbps : {8, 16, 24, 32, 48, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320})
            items.append(
                {QString::number(kbps) + QStringLiteral(" Kbps"), QString::number(kbps * 1000)});
        return items;
    }();
    return table;
}

const QVector<ProfileItem> &ProfileTables::channels()
{
    static const QVector<ProfileItem> table = {
        {QStringLiteral("Mono"), QStringLiteral("1")},
        {QStringLiteral("Stereo"), QStringLiteral("2")},
    };
    return table;
}

int ProfileTables::defaultSampleRateIndex()
{
    return 7;
}

int ProfileTables::defaultBitrateIndex()
{
    return 9;
}

int ProfileTables::defaultChannelsIndex()
{
    return 1;
}

QString ProfileTables::sampleRateAt(int index)
{
    return valueAt(sampleRates(), index, QStringLiteral("22050"));
}

QString ProfileTables::bitrateAt(int index)
{
    return valueAt(bitrates(), index, QStringLiteral("128000"));
}

QString ProfileTables::channelsAt(int index)
{
    return valueAt(channels(), index, QStringLiteral("2"));
}
