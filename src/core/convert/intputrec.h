#pragma once

#include "core/convert/outputnaming.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// One conversion job: everything the encoder run needs, fixed when the job starts.
struct intputrec
{
    QString InFile;     // the entry's source path
    QString OutFile;    // the output's final path; once the job started, the name it claimed
    QString OutputRoot; // the output folder; folders between it and OutFile are made
    // What a job does when OutFile holds an output on disk as it starts (another run's, say):
    // under Skip it skips, under Number it numbers on from OutNumber.
    ExistingOutput Existing = ExistingOutput::Replace;
    QString OutStem;   // OutFile's name before its number and extension (OutputDecision::stem)
    int OutNumber = 1; // OutFile's number, 1 for none
    QString OutKey;    // OutFile as its folder's file system compares names
    QString WorkFile;  // what the encoder writes (/proc/self/fd/N of the job's work file, see
                       // OutputFile); empty: OutFile itself
    int WorkDescriptor = -1; // the descriptor behind WorkFile, which the encoder inherits
    QString EncoderFile;     // the encoder program
    QString WorkDir;         // the executable's folder, ending in "/"
    qint32 TotalSeconds = 0; // the row's duration, 0 when its "Time" did not convert
    QByteArray TagTitle;
    QByteArray TagArtist;
    QByteArray TagComment;
    QStringList FormatArguments; // the target format's own encoder arguments
    QStringList Metadata;        // "key=value" fields the encoder writes (MetadataArguments)
    bool KeepSourceTime = false; // the output gets the source's modification time
    bool CoverFromFolder = true; // a source without pictures gets its folder's cover image
};
