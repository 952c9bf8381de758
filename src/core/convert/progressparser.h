#pragma once

#include <QByteArray>

#include <functional>

// Consumes the complete lines at the front of outputText (the encoder's output
// not yet consumed) and calls show(seconds) once per line end, always with the
// first "time=" ... "bitrate=" report found in the whole buffer. A line end is
// CR or LF, and CR directly followed by LF is one. The unfinished last line stays
// for the next chunk. The buffer is trimmed before the first call of show, so a
// callback that lets other work run never sees it half consumed.
//
// The time may read as whole seconds with a fraction ("78.6 ") or as
// HH:MM:SS.xx ("00:01:18.68 ", as ffmpeg 5.1 writes it); fractions are cut off.
// Anything else (N/A, a negative time, garbage) shows nothing.
//
// An unfinished line keeps only its first MaxUnfinishedLine bytes (no report is nearly
// that long), so an encoder that never ends a line costs a bounded look at each chunk
// instead of a pass over everything it printed.
constexpr qsizetype MaxUnfinishedLine = 4096;
void ParseProgress(QByteArray &outputText, const std::function<void(int seconds)> &show);
