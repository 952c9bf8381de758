#pragma once

#include <QByteArray>
#include <QString>

// File-level access to the 128-byte ID3v1 block at the end of a file. Each routine opens
// an existing regular file (never creates one, never opens a FIFO or device), does one
// thing, closes it again and returns false on any failure. The permission change and the
// write go to the file that was opened, never to whatever the name names a moment later.
// Each also comes for a descriptor open for reading and writing (a conversion's work file
// in a folder others may write into): nothing is opened by name then, and no permission is
// changed.

// Opens `path` only when it names (or links to) an existing regular file of at least
// `minSize` bytes, and puts its size in `size`; returns the descriptor (close-on-exec,
// blocking) or -1. For writing, the owner's write permission is added first (and left in
// place), so read-only files can be tagged.
int OpenRegularFile(const QString &path, bool forWriting, qint64 minSize, qint64 *size);

// Fills `block` with the file's last 128 bytes. Fails for files shorter than 128 bytes.
bool ReadTagBlock(const QString &path, QByteArray &block);
bool ReadTagBlock(int fd, QByteArray &block);
// Truncates the file's last 128 bytes away, whatever they hold. Makes the file
// owner-writable first. Files shorter than 128 bytes are left alone.
bool CutTagBlock(const QString &path);
bool CutTagBlock(int fd);
// Appends the 128-byte `block`. Makes the file owner-writable first. A failed write is
// undone, so the file never ends in a partial block.
bool AppendTagBlock(const QString &path, const QByteArray &block);
bool AppendTagBlock(int fd, const QByteArray &block);
// 2 for the ID3v1.1 layout (zero or blank before a track byte), else 1.
quint8 DetectTagVersion(const QByteArray &block);
