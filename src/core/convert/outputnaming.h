#pragma once

#include "core/convert/namerules.h"
#include "core/tags/id3info.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// What a row does when its output path is taken, by a file already there or by an earlier
// row of the same batch.
enum class ExistingOutput
{
    Replace, // write over it (the later row of a batch wins)
    Skip,    // convert nothing: the row ends "Skipped"
    Number,  // write "Title (2).mp3", "Title (3).mp3", ... whichever is free first
};

// "replace", "skip" and "number", as the command line and the settings file spell them.
QString ExistingOutputName(ExistingOutput policy);
// Any letter case; nothing for other words.
std::optional<ExistingOutput> ExistingOutputFromName(const QString &name);
QStringList ExistingOutputNames();

// How outputs are named and where under the output folder they go.
struct NamingOptions
{
    // Fields {title} {artist} {album} {year} {genre} {track} {filename}; "/" makes folders.
    QString pattern = DefaultPattern();
    // Each output goes to its source's folder relative to the folder its row was added from.
    bool keepFolders = false;
    ExistingOutput existing = ExistingOutput::Replace;

    static QString DefaultPattern() { return QStringLiteral("{title}"); }
};

// Why `pattern` cannot name outputs (an unknown field, a brace left open, a folder named
// "." or "..", nothing at all), or empty when it can.
QString PatternProblem(const QString &pattern);

// Where one row's output goes.
struct OutputDecision
{
    QString path; // the final path; empty without an output folder
    bool skip = false;
    QString reason; // why it is skipped
    // The path as the output folder's file system compares names (see NameRules::key()):
    // the key of `claimed` below.
    QString key;
    // The file name before its number and extension, and its number (1: none), so that a
    // job can number on when another run takes the name first (NumberedFileName()).
    QString stem;
    int number = 1;
};

// The one place an output path is made, for the batch, the dry run and the settings
// dialog's example: the output folder, then (keepFolders) the source's folder relative to
// the entry's BaseFolder, then the pattern with the entry's fields, then the extension.
// Each folder and the file name are made safe as OutputFileName() makes the title (an
// empty field gives "Unknown Artist" and so on, {title} falls back to the file name), and
// safe for the output folder's file system (NameRulesFor()), so a tag can neither leave
// the output folder nor make an unusable name; the default pattern gives exactly
// OutputPath() elsewhere. A source reached through a link to a file below BaseFolder (a
// name that is not UTF-8, see RawNameLinks) keeps the folders of the link's target.
// `claimed` maps the keys of the paths that earlier rows of the same batch write to their
// rows: under Skip and Number they count as taken, as outputs on disk do. An empty file
// or a dangling link is no output (a run that crashed may leave either); a job claims the
// name on disk when it starts (see ConversionJob::start()).
OutputDecision DecideOutput(const QString &outputDir, const ID3info &entry,
                            const QString &extension, const NamingOptions &naming,
                            const QHash<QString, int> &claimed = {});

// "<stem>.mp3", "<stem> (2).mp3", ...: the file name DecideOutput() gives `stem` with
// `number` (1: none), made safe by `rules` with the number and extension kept whole.
QString NumberedFileName(const QString &stem, int number, const QString &extension,
                         const NameRules &rules);
