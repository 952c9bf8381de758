#pragma once

#include <QtGlobal>

#include <optional>

namespace TagLib {
class File;
}

// The whole seconds that ffmpeg's "Duration:" line gives for the file TagLib opened (that
// line rounds to hundredths, then the list cuts the fraction), taken from the container's
// own counts: sample frames, MPEG frames of a Xing or VBRI header, the MP4 movie header,
// the ASF file header. nullopt where ffmpeg would time the file otherwise: MPEG audio
// without a frame count, compressed WAV and AIFF-C, ASF with a video stream, fragmented MP4.
std::optional<int> SecondsLikeFfmpeg(TagLib::File &file);

// `ticks` of a clock with `perSecond` ticks a second, in whole seconds as the "Duration:"
// line shows them (the microseconds rounded, then rounded to hundredths, then cut).
std::optional<int> SecondsOfTicks(quint64 ticks, quint64 perSecond);
