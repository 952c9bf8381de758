#pragma once

#include <QByteArray>
#include <QString>

// Holds one ID3v1 tag between a read and a write. Text fields are raw bytes, any value
// allowed (zero bytes too), so a tag read and written back is unchanged.
class TID3v1
{
public:
    TID3v1();

    void ResetFields();
    // Resets, then decodes the file's tag; true when the last 128 bytes could be read,
    // tagged or not.
    bool ReadFromFile(const QString &path);
    bool ReadFromFile(int fd);
    // Replaces any tag at the end of the file with one made from the fields.
    bool WriteToFile(const QString &path) const;
    bool WriteToFile(int fd) const;
    // True when the file had no tag or its tag was cut off.
    bool RemoveTag(const QString &path) const;
    bool RemoveTag(int fd) const;
    // Each of the three comes for a path and for a descriptor open for reading and writing
    // (see tagblock.h).

    // Trailing bytes 0..32 are removed, then the text is cut to the field's size.
    void SetTitle(const QByteArray &text);
    void SetArtist(const QByteArray &text);
    void SetAlbum(const QByteArray &text);
    void SetYear(const QByteArray &text);
    void SetComment(const QByteArray &text);
    void SetGenreIndex(quint8 index);
    // Empty for genre numbers without a name (148..255).
    QByteArray GetGenreName() const;

    bool HasTag;
    quint8 TagVersion;
    QByteArray Title;
    QByteArray Artist;
    QByteArray Album;
    QByteArray Year;
    QByteArray Comment;
    quint8 Track;
    quint8 GenreIndex;
};
