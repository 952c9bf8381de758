#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Durations are whole seconds inside the program; these turn them into the list's text and
// read them from text: the list's own "00:03:25" and the encoder's "Duration:" line.

// Whole seconds of an HH:MM:SS text: characters 1-2, 4-5 and 7-8 must each be one
// or two ASCII digits (no sign, no blanks); 0 when any of them is not. 100 hours and
// more are written with all their hour digits (HHH:MM:SS) and read in full; 0 when the
// seconds do not fit in 32 bits.
int DurationToSeconds(const QString &text);

// The list's text for a duration: "00:03:25", all hour digits from 100 hours on
// ("123:04:05"); empty for an unknown one.
QString DurationText(std::optional<int> seconds);

// The duration the encoder reports for its input, as HH:MM:SS (the fraction cut off, all
// hour digits kept from 100 hours on). Only ffmpeg's own "  Duration: " line of the input
// section counts: the section starts after "from '<inputPath>':" (or, without the path,
// at the line "Input #0, ..."), and ends at its first line that is not indented, so a file
// name, a tag or an error text that holds "Duration:" is never read as one. Empty when
// there is no such line and when it says N/A (a stream of unknown length).
QString DurationFromOutput(const QByteArray &output, const QString &inputPath = QString());

// The same as whole seconds; nothing where DurationFromOutput() gives no text.
std::optional<int> SecondsFromOutput(const QByteArray &output,
                                     const QString &inputPath = QString());
