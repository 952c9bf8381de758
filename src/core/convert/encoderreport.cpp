#include "core/convert/encoderreport.h"

#include <QFile>
#include <QRegularExpression>

namespace {

// kbps by bitrate index, for Layer III: MPEG-1, and MPEG-2 / 2.5.
constexpr int Mpeg1Layer3[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int Mpeg2Layer3[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int SampleRates[3][3] = {{44100, 48000, 32000}, // MPEG-1
                                   {22050, 24000, 16000}, // MPEG-2
                                   {11025, 12000, 8000}}; // MPEG-2.5

struct Frame
{
    int kbps = 0;
    int length = 0;        // bytes, header included
    bool tagFrame = false; // Xing, Info or VBRI: no audio
};

// The Layer III frame whose header starts at pos, if one does.
bool frameAt(const QByteArray &bytes, qsizetype pos, Frame *frame)
{
    if (pos < 0 || pos + 4 > bytes.size())
        return false;
    const auto b = [&bytes, pos](int i) { return quint8(bytes.at(pos + i)); };
    if (b(0) != 0xff || (b(1) & 0xe0) != 0xe0)
        return false;
    const int version = (b(1) >> 3) & 3; // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const int layer = (b(1) >> 1) & 3;   // 1: Layer III
    const int bitrateIndex = b(2) >> 4;
    const int rateIndex = (b(2) >> 2) & 3;
    if (version == 1 || layer != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    const bool mpeg1 = version == 3;
    const int rate = SampleRates[mpeg1 ? 0 : version == 2 ? 1 : 2][rateIndex];
    frame->kbps = (mpeg1 ? Mpeg1Layer3 : Mpeg2Layer3)[bitrateIndex];
    const int padding = (b(2) >> 1) & 1;
    frame->length = (mpeg1 ? 144 : 72) * frame->kbps * 1000 / rate + padding;
    const bool mono = (b(3) >> 6) == 3;
    const int sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    const QByteArray xing = bytes.mid(pos + 4 + sideInfo, 4);
    frame->tagFrame = xing == "Xing" || xing == "Info" || bytes.mid(pos + 36, 4) == "VBRI";
    return true;
}

qsizetype id3v2Length(const QByteArray &bytes)
{
    if (bytes.size() < 10 || !bytes.startsWith("ID3"))
        return 0;
    qsizetype size = 0;
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (quint8(bytes.at(i)) & 0x7f);
    const bool footer = quint8(bytes.at(5)) & 0x10;
    return 10 + size + (footer ? 10 : 0);
}

} // namespace

EncoderReport ParseEncoderReport(const QByteArray &output)
{
    EncoderReport report;
    const qsizetype section = output.indexOf("Output #0");
    if (section < 0)
        return report;
    static const QRegularExpression stream(
        QStringLiteral("Stream #\\d+:\\d+\\S*: Audio: ([A-Za-z0-9_]+)([^\\r\\n]*)"));
    const QRegularExpressionMatch m = stream.match(QString::fromUtf8(output.mid(section)));
    if (!m.hasMatch())
        return report;
    report.codec = m.captured(1);
    const QString rest = m.captured(2);
    static const QRegularExpression hz(QStringLiteral(", (\\d+) Hz"));
    static const QRegularExpression kbps(QStringLiteral(", (\\d+) kb/s"));
    if (const QRegularExpressionMatch r = hz.match(rest); r.hasMatch())
        report.sampleRate = r.captured(1).toInt();
    if (const QRegularExpressionMatch r = kbps.match(rest); r.hasMatch())
        report.bitrate = r.captured(1).toInt() * 1000;
    return report;
}

int MpegFrameBitrate(const QByteArray &bytes)
{
    qsizetype pos = id3v2Length(bytes);
    // Encoders may pad before the first frame; a few kilobytes is plenty to look through.
    const qsizetype searchEnd = std::min<qsizetype>(bytes.size(), pos + 4096);
    Frame frame;
    while (pos < searchEnd && !frameAt(bytes, pos, &frame))
        ++pos;
    if (pos >= searchEnd)
        return 0;
    if (frame.tagFrame) {
        pos += frame.length;
        if (!frameAt(bytes, pos, &frame))
            return 0;
    }
    // A stray 0xFF in other data could pass for a header: the next frame must follow it.
    Frame next;
    if (!frameAt(bytes, pos + frame.length, &next))
        return 0;
    return frame.kbps * 1000;
}

namespace {

int openFileBitrate(QFile &file)
{
    const QByteArray start = file.read(10);
    const qsizetype tag = id3v2Length(start);
    if (tag > 0 && !file.seek(tag))
        return 0;
    return MpegFrameBitrate(tag > 0 ? file.read(16 * 1024) : start + file.read(16 * 1024));
}

} // namespace

int MpegFileBitrate(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? openFileBitrate(file) : 0;
}

int MpegFileBitrate(int fd)
{
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle) || !file.seek(0))
        return 0;
    return openFileBitrate(file);
}

int EncodedBitrate(const EncoderReport &report, int fd)
{
    if (report.codec == QLatin1String("mp3"))
        return MpegFileBitrate(fd);
    return report.bitrate;
}

QString BitrateNote(const EncodingProfile &chosen, int encoded)
{
    const int chosenKbps = chosen.Bitrate.toInt() / 1000;
    const int encodedKbps = encoded / 1000;
    if (chosenKbps <= 0 || encodedKbps <= 0 || chosenKbps == encodedKbps)
        return {};
    const QString channels =
        chosen.Channels == QLatin1String("1") ? QStringLiteral("mono") : QStringLiteral("stereo");
    return QStringLiteral("Encoded at %1 Kbps, not the chosen %2 Kbps: the encoder goes no %3 at "
                          "%4 Hz %5.")
        .arg(encodedKbps)
        .arg(chosenKbps)
        .arg(encodedKbps < chosenKbps ? QStringLiteral("higher") : QStringLiteral("lower"))
        .arg(chosen.SampleRate, channels);
}
