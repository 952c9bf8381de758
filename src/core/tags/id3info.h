#pragma once

#include <QByteArray>
#include <QString>

// The record behind one row of the job list. Tag texts are bytes exactly as they
// came from the source file (or UTF-8 when the user typed them), so that a value
// nobody edited reaches the output's tag unchanged.
struct ID3info
{
    QByteArray Title;     // committed title: row caption, output file name, written tag title
    QByteArray EditTitle; // the tag editor's working copy, committed by its "Ok"
    QString SourcePath;   // absolute path of the source file
    QString BaseFolder;   // the folder a folder add took the file from, else empty
    QByteArray Artist;
    QByteArray Album;
    QByteArray Year;
    QByteArray GenreName;
    quint8 Genre = 255; // ID3v1 genre number, 255 = none
    QByteArray Comment;
    quint8 Track = 0; // the source's ID3v1.1 track number, 0 = none; names outputs only
};
