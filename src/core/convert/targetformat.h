#pragma once

#include "core/base/encodingprofile.h"
#include "core/tags/tagwriter.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Everything the program knows about one output format. The main window's commands, the
// command line's --to values, the size column and the engine all read this table, so a
// new format is one row here (and, for a button of its own, one skin element; formats
// without one are offered by the window's "More" menu).
struct TargetFormat
{
    enum class SizeRule
    {
        Bitrate,  // the chosen bitrate
        Pcm,      // uncompressed: rate x bits x channels, whatever bitrate is chosen
        Lossless, // compressed PCM, about 60 % of Pcm for music; the bitrate is unused
    };

    // The bitrates the encoder takes at one rate and channel count, both ends included.
    struct BitrateWindow
    {
        int sampleRate = 0;
        int channels = 0;
        int minBitrate = 0;
        int maxBitrate = 0;
    };

    QString command;   // skin command, e.g. "tomp3"
    QString extension; // e.g. ".mp3"
    QString muxer;     // the encoder's name for the format (-f), which the extension implies
    QString name;      // for people, e.g. "MP3"
    SizeRule sizeRule = SizeRule::Bitrate;
    // What the encoder refuses, as measured with ffmpeg 5.1 over every choice of the three
    // drop-downs; refusal() tells it before any encoder runs. Zero or empty: no limit.
    int minBitrate = 0;           // bits per second
    int minSampleRate = 0;        // Hz
    QVector<int> sampleRates;     // the only rates taken
    int maxBitratePerChannel = 0; // bits per second and channel
    // When given, the profile's rate and channels must have a window holding its bitrate.
    QVector<BitrateWindow> bitrateWindows;
    bool carriesId3v1 = true; // the entry's tag is appended to the output
    // Where the output's own tag goes (WriteOutputTag()); RealMedia's is the encoder's.
    TagContainer tagContainer = TagContainer::None;
    QStringList encoderArguments; // placed before the output path

    // --to value: the extension without its dot.
    QString cliName() const { return extension.mid(1); }
    // The chosen bitrate does not shape the output.
    bool ignoresBitrate() const { return sizeRule != SizeRule::Bitrate; }
    // The bits per sample a lossless output is written with for a source of `sourceBits`
    // (0 for a lossy source or one of unknown resolution) and `sourceFloat` samples: 16 for
    // a source of 16 bits or fewer or a lossy one, else 24 (FLAC), or 24 or 32 as the source
    // has them, floating-point for a floating-point source (WAV). 0 for a lossy output.
    int outputBits(int sourceBits, bool sourceFloat) const;
    // The encoder arguments that give a lossless output those bits; empty for a lossy one.
    QStringList resolutionArguments(int sourceBits, bool sourceFloat) const;
    // The bitrate (bits per second) the "Size" column is estimated from, for this profile and
    // a source of this resolution (as outputBits()).
    qint64 sizeBitrate(const EncodingProfile &profile, int sourceBits = 0,
                       bool sourceFloat = false) const;
    // Why the encoder would refuse this profile, or empty when it takes it.
    QString refusal(const EncodingProfile &profile) const;
};

// mp3, wav, wma, aac, rm (the skin's buttons), then flac, ogg, opus, m4a, in this order.
const QVector<TargetFormat> &TargetFormats();

// Exact, case-sensitive match on the skin command; nullptr when none.
const TargetFormat *TargetFormatForCommand(const QString &command);

// Command-line format name (cliName()), any letter case; nullptr when none.
const TargetFormat *TargetFormatForName(const QString &cliName);

// The format whose extension this is (".wav"), nullptr when none.
const TargetFormat *TargetFormatForExtension(const QString &extension);
