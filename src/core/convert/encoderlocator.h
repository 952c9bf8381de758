#pragma once

#include <QString>

// The encoder to start: $WAVETRANSMUTER_FFMPEG when set and not empty; else an
// executable "ffmpeg" next to this program; else "ffmpeg" on PATH; else empty,
// meaning no encoder was found.
QString ResolveEncoderPath();

// Why `encoder` (as ResolveEncoderPath() gave it) cannot be run, in words that say how to
// install ffmpeg or point to one; empty when it is an executable file.
QString EncoderProblem(const QString &encoder);
