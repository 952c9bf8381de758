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
//   profile {sample_rate, bitrate, channels};
// the last four are null for a row that has not ended yet. Paths reached through `links`
// are given as the user named them; a name that is not UTF-8 reads as ISO-8859-1.
QByteArray ReportLine(const JobListModel &model, int row, const RawNameLinks *links = nullptr);
