// How long the event loop goes unserved, at worst, while the window's work runs:
//   bench_heartbeat scan  FOLDER --encoder PATH   folder scan + FileAdder (as "addfolder")
//   bench_heartbeat sync  FOLDER --encoder PATH   the same with a blocking probe per file
//   bench_heartbeat batch FOLDER --encoder PATH --out DIR [--jobs N]
//                                                   a batch to MP3 of the folder's files, N at once
#include "heartbeat.h"

#include "core/base/durationtext.h"
#include "core/convert/targetformat.h"
#include "core/joblist/fileadder.h"
#include "core/joblist/folderscan.h"
#include "core/joblist/joblistmodel.h"
#include "core/joblist/mediaprobe.h"
#include "core/tags/entrytag.h"
#include "core/tags/tid3v1.h"

#if __has_include("core/convert/batchsequencer.h")
#include "core/convert/batchsequencer.h"
#define WT_BENCH_BATCH 1
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>

#include <cstdio>

namespace {

void addAll(FileAdder &adder, const QStringList &files)
{
    QEventLoop loop;
    QObject::connect(&adder, &FileAdder::finished, &loop, &QEventLoop::quit);
    adder.addFiles(files);
    if (adder.isBusy())
        loop.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption encoderOption(QStringLiteral("encoder"), QString(),
                                           QStringLiteral("PATH"));
    const QCommandLineOption outOption(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption jobsOption(QStringLiteral("jobs"), QString(), QStringLiteral("N"),
                                        QStringLiteral("1"));
    parser.addOptions({encoderOption, outOption, jobsOption});
    parser.addPositionalArgument(QStringLiteral("mode"), QString());
    parser.addPositionalArgument(QStringLiteral("folder"), QString());
    parser.process(app);
    const QStringList args = parser.positionalArguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: bench_heartbeat scan|sync|batch FOLDER --encoder PATH\n");
        return 2;
    }
    const QString mode = args.at(0);
    const QString folder = QFileInfo(args.at(1)).absoluteFilePath();
    const QString encoder = parser.value(encoderOption);

    JobListModel model;
    TID3v1 tag;
    FileAdder adder(&model, &tag);
    adder.setEncoderPath(encoder);
    adder.setEstimateBitrate(128000);
    Heartbeat heartbeat;
    QElapsedTimer clock;

    if (mode == QLatin1String("scan")) {
        clock.start();
        heartbeat.start();
        addAll(adder, ScanFolder(folder));
        heartbeat.stop();
    } else if (mode == QLatin1String("sync")) {
        // One blocking probe per file on the GUI thread, pending events served twice
        // before each entry.
        clock.start();
        heartbeat.start();
        for (const QString &path : ScanFolder(folder)) {
            QCoreApplication::processEvents();
            QCoreApplication::processEvents();
            const ID3info entry = EntryFromFile(tag, path, QFileInfo(path).fileName());
            const QString duration = ProbeDuration(encoder, path);
            model.appendEntry(entry,
                              duration.isEmpty() ? std::nullopt
                                                 : std::optional<int>(DurationToSeconds(duration)),
                              128000);
        }
        QCoreApplication::processEvents();
        heartbeat.stop();
    } else if (mode == QLatin1String("batch")) {
#ifdef WT_BENCH_BATCH
        addAll(adder, ScanFolder(folder));
        const QString out = QFileInfo(parser.value(outOption)).absoluteFilePath();
        BatchSequencer batch(&model, &tag);
        batch.setEncoderPath(encoder);
        ConversionOptions options;
        options.outputDir = out;
        options.jobsAtOnce = parser.value(jobsOption).toInt();
        batch.setOptions(options);
        QEventLoop loop;
        QObject::connect(&batch, &BatchSequencer::batchFinished, &loop, &QEventLoop::quit);
        clock.start();
        heartbeat.start();
        if (!batch.StartConversion(*TargetFormatForExtension(QStringLiteral(".mp3"))))
            return 1;
        loop.exec();
        heartbeat.stop();
#else
        std::fprintf(stderr, "this build has no batch sequencer\n");
        return 2;
#endif
    } else {
        std::fprintf(stderr, "unknown mode %s\n", qPrintable(mode));
        return 2;
    }
    const QString label = mode == QLatin1String("batch")
                              ? mode + QStringLiteral(" (%1 at once)").arg(parser.value(jobsOption))
                              : mode;
    std::printf("%s: %d rows in %.2f s; worst event-loop lateness %.1f ms over %d heartbeats\n",
                qPrintable(label), model.rowCount(), clock.elapsed() / 1000.0,
                heartbeat.worstLatenessMs(), heartbeat.beats());
    return 0;
}
