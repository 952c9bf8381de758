#pragma once

#include <QString>

// The three decimal texts handed to the encoder as they stand (-ar, -ab, -ac).
struct EncodingProfile
{
    QString SampleRate; // Hz
    QString Bitrate;    // bits per second
    QString Channels;   // "1" or "2"

    // "44100", "128000", "2": what every run starts with.
    static EncodingProfile defaults();
};
