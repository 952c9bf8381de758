#pragma once

#include <QString>
#include <QStringList>

// True exactly for the extensions the folder scan takes; the caller lower-cases.
bool IsAcceptedExtension(const QString &ext);

// The accepted regular files directly inside `folder` (with or without its
// trailing "/"), in the order the file system lists them; a directory or FIFO that
// merely carries a media name is no file. With `recursive`, each subfolder's files
// follow, subfolder after subfolder in the same order and so on down; links to
// folders are not followed, so a link cannot lead the scan round in a loop.
QStringList ScanFolder(const QString &folder, bool recursive = false);

// The open dialog appends the files it returns as L[1] ... L[n-1], then L[0].
QStringList DialogAppendOrder(const QStringList &chosen);

// The open dialog's filters: the visible description, and the patterns it stands for.
struct FileFilter
{
    QString description;
    QStringList patterns;
};
const QVector<FileFilter> &OpenDialogFilters();
