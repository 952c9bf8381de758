#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

// What an embedded picture is, without its bytes: those stay in the source file until a
// tag is written (ReadPictures), so that a long list of covered files stays small.
struct PictureInfo
{
    int type = 3; // ID3v2 picture type: 3 = front cover, 4 = back cover, 0 = other, ...
    QString description;
    QString mimeType; // "image/jpeg", "image/png", ...; empty when unknown
    qint64 size = 0;  // bytes

    bool operator==(const PictureInfo &o) const
    {
        return type == o.type && description == o.description && mimeType == o.mimeType &&
               size == o.size;
    }
};

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
    quint8 Track = 0; // the source's track number, 0 = none; names outputs only
    // The source's own tag beyond ID3v1 as TagLib names its fields (TITLE, ALBUMARTIST,
    // TRACKNUMBER "3/12", REPLAYGAIN_TRACK_GAIN, MUSICBRAINZ_*, custom names), every value
    // of a field kept; empty for a file with an ID3v1 block alone.
    QMap<QString, QStringList> Properties;
    QList<PictureInfo> Pictures; // the source's embedded pictures, in tag order
    // The fields the user emptied in the tag editor, by TagLib's names (TITLE, ARTIST, ALBUM,
    // DATE, GENRE, COMMENT): the output's tag leaves them out. Any other empty field keeps
    // the source's value there.
    QSet<QString> Cleared;
};
