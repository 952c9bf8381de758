#pragma once

#include "core/base/encodingprofile.h"

#include <QByteArray>
#include <QString>

// What the encoder says about the audio it writes: the first audio stream of the
// "Output #0" section of ffmpeg's output, such as
//   Stream #0:0: Audio: aac (LC), 22050 Hz, mono, fltp, 132 kb/s
struct EncoderReport
{
    QString codec;      // "aac"; empty when the output holds no such line
    int sampleRate = 0; // Hz; 0 when not given
    int bitrate = 0;    // bits per second; 0 when not given
};

EncoderReport ParseEncoderReport(const QByteArray &output);

// The bitrate in the frame headers of an MPEG-1/2/2.5 Layer III file (MP3), given the
// bytes it starts with: the first audio frame after an ID3v2 tag and after a Xing, Info
// or VBRI frame, which carries no audio. 0 when no frame is found or it is free-format.
int MpegFrameBitrate(const QByteArray &bytes);
// The same for a file on disk, or open at `fd` (read from its start); reads past an ID3v2
// tag of any size.
int MpegFileBitrate(const QString &path);
int MpegFileBitrate(int fd);

// The bitrate the output was encoded at, 0 when unknown. MP3 frames tell it: for
// libmp3lame ffmpeg reports the chosen bitrate even where LAME writes another (at most
// 160 kbps at 16000 to 24000 Hz, 64 kbps below, at least 32 kbps above); the other
// encoders report the bitrate they settled on.
// `fd` is the output's, open for reading.
int EncodedBitrate(const EncoderReport &report, int fd);

// For the row's tooltip: how the bitrate written differs from the chosen one, or empty
// when it does not (or is not known).
QString BitrateNote(const EncodingProfile &chosen, int encoded);
