#pragma once

#include <QString>
#include <QStringList>

class RawNameLinks;

// True for the extensions (".flac", ".MP3") of the types the program takes (MediaFamilies),
// in any letter case.
bool IsAcceptedExtension(const QString &ext);

// The accepted regular files directly inside `folder` (with or without its
// trailing "/"), in natural order (NaturalOrder: "2 x" before "10 x"); a directory or
// FIFO that merely carries a media name is no file, and a work file left by a conversion
// that never ended (IsWorkFileName) is no media. With `recursive`, each subfolder's files
// follow, subfolder after subfolder in the same order and so on down; links to
// folders are not followed, so a link cannot lead the scan round in a loop.
// A file whose path is not valid UTF-8 is reached through `links` when given. What cannot
// be reached goes to `skipped` as "PATH: why" (the path read as ISO-8859-1 where it is not
// UTF-8), so the user can be told: such a file without `links`, a folder that cannot be
// read, a file or folder whose path is longer than PATH_MAX.
QStringList ScanFolder(const QString &folder, bool recursive = false, RawNameLinks *links = nullptr,
                       QStringList *skipped = nullptr);

// The open dialog appends the files it returns as L[1] ... L[n-1], then L[0].
QStringList DialogAppendOrder(const QStringList &chosen);

// The open dialog's filters: the visible description, and the patterns it stands for.
// The first, "All Sapported Files", takes every pattern of MediaFamilies(), the others
// follow one per family.
struct FileFilter
{
    QString description;
    QStringList patterns;
};
const QVector<FileFilter> &OpenDialogFilters();
