#include "programs/cli/clioptions.h"

#include "core/convert/profiletables.h"
#include "core/convert/targetformat.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

namespace {

QStringList valuesOf(const QVector<ProfileItem> &table)
{
    QStringList values;
    for (const ProfileItem &item : table)
        values.append(item.value);
    return values;
}

QStringList formatNames()
{
    QStringList names;
    for (const TargetFormat &f : TargetFormats())
        names.append(f.cliName());
    return names;
}

// Empty when `value` is one of `allowed`, else the message saying what is.
QString checkValue(const QString &option, const QString &value, const QStringList &allowed)
{
    if (allowed.contains(value))
        return {};
    return QStringLiteral("--%1 %2 is not allowed; allowed values: %3")
        .arg(option, value, allowed.join(QStringLiteral(", ")));
}

int defaultJobs()
{
    return std::clamp(QThread::idealThreadCount(), 1, CliOptions::MaxJobs);
}

} // namespace

QString CliOptions::helpText()
{
    const EncodingProfile defaults = EncodingProfile::defaults();
    return QStringLiteral(
               "Usage: wavetransmuter-cli --to FORMAT [--out DIR] [--rate HZ] [--bitrate BPS]\n"
               "                          [--channels 1|2] [--jobs N] [--keep-order]\n"
               "                          [--recursive] [--pattern TEXT] [--keep-folders]\n"
               "                          [--existing MODE] [--keep-time] [--report FILE]\n"
               "                          [--shard K/N] [--dry-run] PATH...\n"
               "       wavetransmuter-cli --list-formats | --version | --help\n"
               "\n"
               "Converts audio and video files with ffmpeg, several at once, as Wavetransmuter\n"
               "does: each output gets every field of its source's tag and its pictures in its\n"
               "own tag (RealMedia: title, artist, copyright and comment; raw AAC: none), and\n"
               "MP3, WAV, WMA, AAC and RealMedia outputs an ID3v1 tag at the end. A source\n"
               "without pictures gets the cover image of its folder (cover.jpg, folder.jpg,\n"
               "front.jpg, albumart.jpg or .png). Each PATH is a file, or a folder whose media\n"
               "files are added (not its subfolders, unless --recursive); a file that several\n"
               "PATHs name is converted once. Output files are named after the tag title, else\n"
               "the file name, unless --pattern says otherwise.\n"
               "Rows start in list order; of two rows with the same output, the later one\n"
               "starts once the earlier one has ended, so the later one wins (unless\n"
               "--existing says otherwise).\n"
               "\n"
               "  --to FORMAT      %1\n"
               "  --out DIR        output folder (default: the saved one); created when missing\n"
               "  --rate HZ        %2 (default %3)\n"
               "  --bitrate BPS    %4 (default %5)\n"
               "  --channels N     %6 (default %7)\n"
               "  --jobs N         conversions at once, 1 to %8 (default %9, one per core)\n"
               "  --keep-order     print the rows' lines in list order, not as rows end\n"
               "  --recursive      folders add the media files of their subfolders too\n"
               "  --pattern TEXT   output names from the fields {title} {artist} {album} {year}\n"
               "                   {genre} {track} {filename}; \"/\" makes folders (default\n"
               "                   {title})\n"
               "  --keep-folders   each output in the subfolder its source has below the\n"
               "                   folder PATH\n"
               "  --existing MODE  %10 (default %11): what a row does when its output\n"
               "                   exists or an earlier row writes it\n"
               "  --keep-time      each output gets its source's modification time\n"
               "  --report FILE    write a JSON line for each row as it ends (\"-\": to standard\n"
               "                   output, instead of the status lines); never a source or an\n"
               "                   output of the run, only a file or a FIFO\n"
               "  --shard K/N      convert only part K of N: the files sorted by their path\n"
               "                   below the PATH they came from, every N-th from the K-th on,\n"
               "                   so N runs (on N machines) share the work\n"
               "  --dry-run        list the rows and their output paths, convert nothing\n"
               "  --list-formats   print the FORMAT names, one a line, and exit\n"
               "  --version        print the version and exit\n"
               "  -h, --help       show this text and exit\n"
               "\n"
               "When a row ends, a line goes to standard output: its status, the source path\n"
               "and the output path, separated by tabs (in paths, \\, tab, line feed and\n"
               "carriage return are written \\\\, \\t, \\n and \\r). Exit status: 0 when every\n"
               "row ended \"Finish\" or \"Skipped\", 1 when any did not, 2 for bad usage or a\n"
               "missing encoder, 130 when interrupted (SIGINT, SIGTERM, SIGHUP, SIGQUIT), 141\n"
               "when standard output or the report was closed by its reader; either way the\n"
               "batch stops and the unfinished outputs are removed.\n")
        .arg(formatNames().join(QLatin1Char('|')),
             valuesOf(ProfileTables::sampleRates()).join(QLatin1Char('|')), defaults.SampleRate,
             valuesOf(ProfileTables::bitrates()).join(QLatin1Char('|')), defaults.Bitrate,
             valuesOf(ProfileTables::channels()).join(QLatin1Char('|')), defaults.Channels,
             QString::number(MaxJobs), QString::number(defaultJobs()))
        .arg(ExistingOutputNames().join(QLatin1Char('|')))
        .arg(ExistingOutputName(NamingOptions().existing));
}

QString CliOptions::versionText()
{
    return QStringLiteral("wavetransmuter-cli " WT_VERSION "\n");
}

QString CliOptions::formatListText()
{
    return formatNames().join(QLatin1Char('\n')) + QLatin1Char('\n');
}

CliOptions::Parse CliOptions::parse(const QStringList &arguments, CliOptions &options,
                                    QString &error)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption to(QStringLiteral("to"), QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption out(QStringLiteral("out"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption rate(QStringLiteral("rate"), QString(), QStringLiteral("HZ"));
    const QCommandLineOption bitrate(QStringLiteral("bitrate"), QString(), QStringLiteral("BPS"));
    const QCommandLineOption channels(QStringLiteral("channels"), QString(), QStringLiteral("N"));
    const QCommandLineOption jobs(QStringLiteral("jobs"), QString(), QStringLiteral("N"));
    const QCommandLineOption keepOrder(QStringLiteral("keep-order"));
    const QCommandLineOption recursive(QStringLiteral("recursive"));
    const QCommandLineOption pattern(QStringLiteral("pattern"), QString(), QStringLiteral("TEXT"));
    const QCommandLineOption keepFolders(QStringLiteral("keep-folders"));
    const QCommandLineOption existing(QStringLiteral("existing"), QString(),
                                      QStringLiteral("MODE"));
    const QCommandLineOption report(QStringLiteral("report"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption shard(QStringLiteral("shard"), QString(), QStringLiteral("K/N"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption keepTime(QStringLiteral("keep-time"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringLiteral("version"));
    const QCommandLineOption listFormats(QStringLiteral("list-formats"));
    parser.addOptions({to, out, rate, bitrate, channels, jobs, keepOrder, recursive, pattern,
                       keepFolders, existing, keepTime, report, shard, dryRun, help, version,
                       listFormats});
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return Parse::Error;
    }
    if (parser.isSet(help))
        return Parse::Help;
    if (parser.isSet(version))
        return Parse::Version;
    if (parser.isSet(listFormats))
        return Parse::ListFormats;

    for (const QCommandLineOption *o :
         {&to, &out, &rate, &bitrate, &channels, &jobs, &pattern, &existing, &report, &shard}) {
        if (parser.values(*o).size() > 1) {
            error = QStringLiteral("--%1 given more than once").arg(o->names().first());
            return Parse::Error;
        }
    }
    if (!parser.isSet(to)) {
        error = QStringLiteral("--to FORMAT is required (%1)")
                    .arg(formatNames().join(QStringLiteral(", ")));
        return Parse::Error;
    }
    options.format = TargetFormatForName(parser.value(to));
    if (!options.format) {
        error = QStringLiteral("--to %1 is not a format; allowed values: %2")
                    .arg(parser.value(to), formatNames().join(QStringLiteral(", ")));
        return Parse::Error;
    }
    if (parser.isSet(out)) {
        options.outputDir = parser.value(out);
        if (options.outputDir.isEmpty()) {
            error = QStringLiteral("--out needs a folder");
            return Parse::Error;
        }
    }
    if (parser.isSet(rate))
        options.profile.SampleRate = parser.value(rate);
    if (parser.isSet(bitrate))
        options.profile.Bitrate = parser.value(bitrate);
    if (parser.isSet(channels))
        options.profile.Channels = parser.value(channels);
    for (const QString &message : {checkValue(QStringLiteral("rate"), options.profile.SampleRate,
                                              valuesOf(ProfileTables::sampleRates())),
                                   checkValue(QStringLiteral("bitrate"), options.profile.Bitrate,
                                              valuesOf(ProfileTables::bitrates())),
                                   checkValue(QStringLiteral("channels"), options.profile.Channels,
                                              valuesOf(ProfileTables::channels()))}) {
        if (!message.isEmpty()) {
            error = message;
            return Parse::Error;
        }
    }
    options.jobs = defaultJobs();
    if (parser.isSet(jobs)) {
        bool ok = false;
        const QString text = parser.value(jobs);
        const int n = text.toInt(&ok);
        if (!ok || n < 1 || n > MaxJobs || text != QString::number(n)) {
            error = QStringLiteral("--jobs %1 is not allowed; give a whole number from 1 to %2")
                        .arg(text)
                        .arg(MaxJobs);
            return Parse::Error;
        }
        options.jobs = n;
    }
    options.keepOrder = parser.isSet(keepOrder);
    options.keepTime = parser.isSet(keepTime);
    if (parser.isSet(pattern)) {
        options.naming.pattern = parser.value(pattern);
        if (const QString problem = PatternProblem(options.naming.pattern); !problem.isEmpty()) {
            error = QStringLiteral("--pattern %1: %2").arg(options.naming.pattern, problem);
            return Parse::Error;
        }
    }
    if (parser.isSet(existing)) {
        const std::optional<ExistingOutput> policy = ExistingOutputFromName(parser.value(existing));
        if (!policy) {
            error = checkValue(QStringLiteral("existing"), parser.value(existing),
                               ExistingOutputNames());
            return Parse::Error;
        }
        options.naming.existing = *policy;
    }
    options.naming.keepFolders = parser.isSet(keepFolders);
    options.recursive = parser.isSet(recursive);
    options.dryRun = parser.isSet(dryRun);
    if (parser.isSet(report)) {
        options.reportPath = parser.value(report);
        if (options.reportPath.isEmpty()) {
            error = QStringLiteral("--report needs a file, or - for standard output");
            return Parse::Error;
        }
        if (options.dryRun) {
            error = QStringLiteral("--report tells how rows ended; a dry run ends none");
            return Parse::Error;
        }
    }
    if (parser.isSet(shard)) {
        static const QRegularExpression form(QStringLiteral("^([0-9]{1,9})/([0-9]{1,9})$"));
        const QRegularExpressionMatch m = form.match(parser.value(shard));
        options.shard = m.hasMatch() ? m.captured(1).toInt() : 0;
        options.shards = m.hasMatch() ? m.captured(2).toInt() : 0;
        if (options.shard < 1 || options.shard > options.shards) {
            error = QStringLiteral("--shard %1 is not allowed; give K/N, part K of N, with K "
                                   "from 1 to N (1/4 ... 4/4)")
                        .arg(parser.value(shard));
            return Parse::Error;
        }
    }
    options.paths = parser.positionalArguments();
    if (options.paths.isEmpty()) {
        error = QStringLiteral("no PATH given");
        return Parse::Error;
    }
    return Parse::Run;
}
