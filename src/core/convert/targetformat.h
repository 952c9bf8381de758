#pragma once

#include "core/convert/encodingprofile.h"

#include <QString>
#include <QStringList>
#include <QVector>

// Everything the program knows about one output format. The main window's commands, the
// command line's --to values, the size column and the engine all read this table, so a
// new format is one row here (and one skin element for its button).
struct TargetFormat
{
    enum class SizeRule
    {
        Bitrate, // the chosen bitrate
        Pcm,     // uncompressed 16-bit: rate x 16 x channels, whatever bitrate is chosen
    };

    QString command;   // skin command, e.g. "tomp3"
    QString extension; // e.g. ".mp3"; the encoder picks the format from it
    QString name;      // for people, e.g. "MP3"
    SizeRule sizeRule = SizeRule::Bitrate;
    // What the encoder refuses: below these it fails ("0": takes everything).
    int minBitrate = 0;           // bits per second
    int minSampleRate = 0;        // Hz
    bool carriesId3v1 = true;     // the entry's tag is appended to the output
    QStringList encoderArguments; // placed before the output path

    // --to value: the extension without its dot.
    QString cliName() const { return extension.mid(1); }
    // The bitrate text the "Size" column is estimated from, for this profile.
    QString sizeBitrate(const EncodingProfile &profile) const;
    // Why the encoder would refuse this profile, or empty when it takes it.
    QString refusal(const EncodingProfile &profile) const;
};

// mp3, wav, wma, aac, rm, in this order.
const QVector<TargetFormat> &TargetFormats();

// Exact, case-sensitive match on the skin command; nullptr when none.
const TargetFormat *TargetFormatForCommand(const QString &command);

// Command-line format name (cliName()), any letter case; nullptr when none.
const TargetFormat *TargetFormatForName(const QString &cliName);

// The format whose extension this is (".wav"), nullptr when none.
const TargetFormat *TargetFormatForExtension(const QString &extension);
