#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/outputnaming.h"

#include <QString>
#include <QStringList>

struct TargetFormat;

// What the command line asks for. Values are checked against the same tables the
// desktop program's drop-downs offer.
struct CliOptions
{
    enum class Parse
    {
        Run,
        Help,
        Version,
        ListFormats,
        Error
    };

    // `arguments` includes the program name first, as QCoreApplication::arguments().
    static Parse parse(const QStringList &arguments, CliOptions &options, QString &error);
    static QString helpText();
    static QString versionText();
    // The FORMAT names --to takes, one a line (the shell completion reads them).
    static QString formatListText();

    const TargetFormat *format = nullptr;
    QString outputDir; // as given; empty: the saved output folder
    EncodingProfile profile = EncodingProfile::defaults();
    NamingOptions naming; // the defaults, whatever the desktop program has saved
    bool recursive = false;
    QString reportPath; // "-": standard output, instead of the status lines
    bool dryRun = false;
    int jobs = 1;           // conversions at once; the default is one per core
    bool keepOrder = false; // status lines in list order instead of as rows end
    bool keepTime = false;  // outputs get their sources' modification time
    // --shard K/N: this run converts part K (1 to N) of N; see CliSession::collectFiles().
    int shard = 1;
    int shards = 1;
    static constexpr int MaxJobs = 64;
    QStringList paths;
};
