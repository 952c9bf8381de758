#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// One conversion job: everything the encoder run needs, fixed when the job starts.
struct intputrec
{
    QString InFile;            // the entry's source path
    QString OutFile;           // the output's final path
    QString OutputRoot;        // the output folder; folders between it and OutFile are made
    bool KeepExisting = false; // OutFile is taken only while nothing is there (skip, number)
    QString WorkFile;          // what the encoder writes and the tag goes into, renamed onto
                               // OutFile once the job succeeded; empty: OutFile itself
    QString EncoderFile;       // the encoder program
    QString WorkDir;           // the executable's folder, ending in "/"
    qint32 TotalSeconds = 0;   // the row's duration, 0 when its "Time" did not convert
    QByteArray TagTitle;
    QByteArray TagArtist;
    QByteArray TagComment;
    QStringList FormatArguments; // the target format's own encoder arguments
    QStringList Metadata;        // "key=value" fields the output carries (MetadataArguments)
};
