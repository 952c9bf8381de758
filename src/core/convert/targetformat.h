#pragma once

#include <QString>
#include <QVector>

// An output format. The encoder picks the format from the output file's
// extension alone, so no format option goes on its command line.
struct TargetFormat
{
    QString command;   // skin command, e.g. "tomp3"
    QString extension; // e.g. ".mp3"
    QString name;      // for people, e.g. "MP3"
};

// mp3, wav, wma, aac, rm, in this order.
const QVector<TargetFormat> &TargetFormats();

// Exact, case-sensitive match on the skin command; nullptr when none.
const TargetFormat *TargetFormatForCommand(const QString &command);

// Command-line format name: the extension without its dot ("mp3", "rm"), any
// letter case; nullptr when none.
const TargetFormat *TargetFormatForName(const QString &cliName);
