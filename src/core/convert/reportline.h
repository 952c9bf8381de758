#pragma once

#include <QByteArray>

class JobListModel;
class RawNameLinks;

// One row's line of the report that machines read (JSON Lines), as the command line's
// --report and the window's "Save report..." write it: one JSON object, without a line
// end, with the keys
//   source, output (null when the row had none), status, reason (null when none),
//   duration (the row's Time in seconds, null when unknown), output_bytes (the size of the
//   output the row left, null when none), seconds_taken, format (the --to name) and
//   profile {sample_rate, bitrate, channels}, and not_kept (the fields of the source's tag
//   the output could not keep, by stable lower-case names such as "album_artist", "track",
//   "lyrics", "picture"; an empty list when it kept them all);
// seconds_taken, format and profile are null for a row that has not ended yet, not_kept for
// a row that did not end "Finish". Paths reached through `links`
// are given as the user named them; a name that is not UTF-8 reads as ISO-8859-1.
QByteArray ReportLine(const JobListModel &model, int row, const RawNameLinks *links = nullptr);
