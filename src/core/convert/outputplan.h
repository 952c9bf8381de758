#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/outputnaming.h"

#include <QList>
#include <QString>
#include <QVector>

class JobListModel;
class SourceFiles;
struct TargetFormat;

// Where each row of the list would be written, and which rows get in each other's way,
// worked out before a batch starts (the dry run lists it, the window warns with it). The
// batch refuses a job by the same rules: OutputRefusal(), then the format's refusal of the
// profile.
struct PlannedOutput
{
    QString path;
    // The other rows that write this very file (names compared as the output folder's file
    // system compares them); the later wins.
    QList<int> sameOutputRows;
    QString refusal;                   // why the batch will not run this row, or empty
    bool replacesExistingFile = false; // a file that is no source is there and gets replaced
    QString skipReason;                // why the row will be skipped (DecideOutput), or empty
};

// Each row's output as the batch decides it (DecideOutput), earlier rows claiming theirs.
QVector<PlannedOutput> PlanOutputs(const JobListModel &model, const QString &outputDir,
                                   const TargetFormat &format, const EncodingProfile &profile,
                                   const NamingOptions &naming = {});

// Why a job that writes `path` from `ownSource` must not run: the path is its own source or
// the source of any row of the list (as files, links resolved), or a folder, FIFO, device or
// socket is there. Empty when it may run.
QString OutputRefusal(const QString &path, const QString &ownSource, const SourceFiles &sources);
