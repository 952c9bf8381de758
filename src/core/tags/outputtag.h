#pragma once

#include "core/tags/id3info.h"
#include "core/tags/tagpictures.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// The tag an output gets, before it takes the form of the output's container (see
// WriteOutputTag()). Fields go by TagLib's property names, every value of a field kept, with
// track and disc split into number and total (TRACKNUMBER "3", TRACKTOTAL "12", DISCNUMBER,
// DISCTOTAL) whatever form the source had. ReplayGain values go in as REPLAYGAIN_TRACK_GAIN,
// REPLAYGAIN_TRACK_PEAK, REPLAYGAIN_ALBUM_GAIN and REPLAYGAIN_ALBUM_PEAK ("-6.50 dB",
// "0.988553"): the writer puts them where each container keeps them (Opus: R128 gains).
struct OutputTag
{
    QMap<QString, QStringList> fields;
    QList<EmbeddedPicture> pictures; // in order, bytes as the source holds them
};

// Every field of the source's tag (the entry's Properties) with the entry's own fields over
// them, edited or not: Title, Artist, Album, Year (DATE), the genre and Comment, and the track
// number where the source's tag has none. An empty entry field leaves the source's value,
// unless the user cleared it in the tag editor (ID3info::Cleared); a field whose text is the
// source's values as the list shows them ("A; B") keeps those values. A title that is only
// the source's file name (the list's stand-in for a file without one) is no title. What
// describes the source's own encoding (ENCODER, ENCODING) is not the output's and stays out.
QMap<QString, QStringList> OutputFields(const ID3info &entry);

// The report's stable lower-case name of a field: "title", "album_artist", "track",
// "track_total", "replaygain_track_gain", a custom field's name in lower case with "_" for
// what is no letter or digit; "picture" for the pictures.
QString ReportFieldName(const QString &key);
// The names of `keys` (with "picture" when `pictures`), each once, in a fixed order: the
// common fields first, then the others by name, "picture" last.
QStringList ReportFieldNames(const QStringList &keys, bool pictures);
