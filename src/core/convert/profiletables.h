#pragma once

#include <QString>
#include <QVector>

// One entry of a profile drop-down: the text shown and the text given to the encoder.
struct ProfileItem
{
    QString shown;
    QString value;
};

// The fixed choices of the three profile drop-downs. The *At() lookups take a
// drop-down's current index; an index outside the table (nothing selected, -1)
// gives the fallback value.
class ProfileTables
{
public:
    static const QVector<ProfileItem> &sampleRates();
    static const QVector<ProfileItem> &bitrates();
    static const QVector<ProfileItem> &channels();

    static int defaultSampleRateIndex(); // "44100 Hz"
    static int defaultBitrateIndex();    // "128 Kbps"
    static int defaultChannelsIndex();   // "Stereo"

    static QString sampleRateAt(int index); // fallback "22050"
    static QString bitrateAt(int index);    // fallback "128000"
    static QString channelsAt(int index);   // fallback "2"
};
