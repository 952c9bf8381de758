#include "core/joblist/failuretext.h"

namespace {

// Matched in this order against the reason; the first that fits explains it.
const struct
{
    const char *contains;
    const char *sentence;
} Explanations[] = {
    {"bitrate too low", "The chosen bitrate is too low for this format: choose a higher one."},
    {"sample rate", "This format does not take the chosen sample rate: choose another one."},
    {"No space left on device", "The disk of the output folder is full."},
    {"Read-only file system", "The output folder is on a disk that cannot be written to."},
    {"Permission denied",
     "The program may not read the source file or write into the output folder."},
    {"File name too long", "The title makes a file name too long for the disk: shorten it."},
    {"No such file or directory", "The source file or the output folder cannot be found."},
    {"Invalid data found when processing input",
     "The source is not a file ffmpeg can read, or it is damaged."},
    {"does not contain any stream", "The source holds no audio to convert."},
    {"matches no streams", "The source holds no audio to convert."},
    {"Unknown encoder", "This ffmpeg cannot write this format."},
    {"Encoder not found",
     "ffmpeg could not be started: install it (apt install ffmpeg) or name it in "
     "WAVETRANSMUTER_FFMPEG."},
    {"Encoder crashed", "The encoder stopped unexpectedly."},
    {"Encoder exited with code", "The encoder gave up without saying why."},
    {"No output file", "The encoder ended without writing an output file."},
    {"Output would overwrite", "The output would replace the source file, so this file was not "
                               "converted: give it another title or choose another output "
                               "folder."},
    {"No output folder", "No output folder is set: choose one in Settings."},
    {"not a regular file", "The source is a folder, a device or a pipe, not a file."},
    // ffmpeg's answer when it cannot open a file at all, most often a damaged source.
    {"Invalid argument", "ffmpeg refused the file: the source may be damaged or not audio, or the "
                         "output name does not suit the disk."},
};

} // namespace

QString ExplainedReason(const QString &reason)
{
    if (reason.isEmpty())
        return reason;
    for (const auto &e : Explanations) {
        if (reason.contains(QLatin1String(e.contains)))
            return QLatin1String(e.sentence) + QLatin1Char('\n') + reason;
    }
    return reason;
}
