#pragma once

#include <QString>

// How a job's output reaches its final name. The encoder writes a hidden work file beside
// the final path; only a job that succeeded (tag included) renames it onto the final path,
// so a failed, stopped or crashed run never touches an earlier output, and a partial file
// never carries the final name. Each step is a small function a job calls on its own paths.

// Why nothing may be written at `finalPath`: a directory, FIFO, device or socket is there
// (a FIFO would keep the encoder waiting). Empty when the path is free, a regular file or a
// symbolic link (the rename replaces the link itself, never what it points to).
QString OutputPathProblem(const QString &finalPath);

// Makes the folders between `root` and the folder of `finalPath` below it (a naming
// pattern's "Artist/Album", a kept folder structure), never `root` itself; true when they
// are there, false with *error naming the one that could not be made.
bool MakeOutputFolders(const QString &root, const QString &finalPath, QString *error);

// Creates an empty, new work file ".<name>.wt-XXXXXX<ext>" in the folder of `finalPath`
// (same extension, so the encoder still picks the format from it) and returns its path;
// empty with *error set when it cannot be made.
QString CreateWorkFile(const QString &finalPath, QString *error);

// Renames the work file onto the final path, replacing whatever file or link is there; with
// `replace` false only while nothing is there, checked by the rename itself, so a file
// another program wrote meanwhile is never lost (the work file stays for the caller then).
bool CommitWorkFile(const QString &workFile, const QString &finalPath, QString *error,
                    bool replace = true);

// Removes the work file; nothing else.
void DiscardWorkFile(const QString &workFile);

// A write past the file-size limit (ulimit -f) would kill the program with SIGXFSZ in the
// middle of a tag append; ignored, the write fails with EFBIG and is undone like any other.
// Called first thing by both programs.
void IgnoreFileSizeLimitSignal();
// For a child process between fork and exec: the encoder gets the default back, so it
// ends as it would started from a shell instead of writing on into a truncated file.
void RestoreFileSizeLimitSignal();
