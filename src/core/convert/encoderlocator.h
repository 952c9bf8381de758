#pragma once

#include <QString>

// The encoder to start: $WAVETRANSMUTER_FFMPEG when set and not empty; else an
// executable "ffmpeg" next to this program; else "ffmpeg" on PATH; else empty,
// meaning no encoder was found.
QString ResolveEncoderPath();
