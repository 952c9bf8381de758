#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/namerules.h"
#include "core/tags/id3info.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Wraps the path in double quotes when it holds a blank; nothing is escaped and
// other white space does not count.
QString QuotePath(const QString &path);

// The conversion command as one text, for display and logs only: the encoder is
// started with ConversionArguments(), never through a shell.
QString ConversionCommandLine(const QString &encoder, const QString &in, const QString &out,
                              const EncodingProfile &p, const QStringList &extra = {},
                              const QStringList &metadata = {});

// -y -i IN -ab B -ar R -ac C [-metadata KEY=VALUE...] [EXTRA...] OUT; the output format
// follows from OUT's extension, EXTRA are the format's own encoder arguments.
QStringList ConversionArguments(const QString &in, const QString &out, const EncodingProfile &p,
                                const QStringList &extra = {}, const QStringList &metadata = {});

// The fields the encoder itself writes into a RealMedia header, from the output's tag
// (OutputFields()): "title=...", "author=..." (the artist), "copyright=...", "comment=...",
// several values joined as the list shows them; only those the tag has. Every other format
// gets its tag from the tag writer.
QStringList MetadataArguments(const QMap<QString, QStringList> &fields);

// The output file's name: the tag title, decoded as UTF-8 when valid, else as
// ISO-8859-1, with "/" and control characters (below 0x20, 0x7F, and the C1 controls
// U+0080..U+009F a UTF-8 text cut in a character gives) made "_",
// followed by the extension. An empty title, "." and ".." fall back to the source's
// file name, cleaned the same way. A name longer than 255 bytes in UTF-8 is cut (on a
// character boundary) before the extension.
QString OutputFileName(const QByteArray &title, const QString &sourcePath,
                       const QString &extension);

// The title text OutputFileName() starts from: the decoded title, or the source's file
// name for an empty title, "." and "..".
QString OutputTitle(const QByteArray &title, const QString &sourcePath);

// Tag bytes as text: UTF-8 when valid, else ISO-8859-1.
QString TagBytesToName(const QByteArray &bytes);

// `text` made fit to be one component of a path, as OutputFileName() makes the title: "/"
// and control characters become "_", and the text is cut on a character boundary so that
// it and `suffix` (kept whole, e.g. the extension) fit in 255 bytes of UTF-8 (which is at
// most 255 UTF-16 units, the limit of FAT, exFAT and NTFS). Where `rules` ask for Windows
// names, : ? " * < > | and \ become "_" too, and so does each dot or blank at the end of
// `text`.
QString SafeNameComponent(const QString &text, const QString &suffix = QString(),
                          const NameRules &rules = {});

// outputDir, "/", OutputFileName().
QString OutputPath(const QString &outputDir, const QByteArray &title, const QString &sourcePath,
                   const QString &extension);

// A path in a line of tab-separated fields: backslash, tab, line feed and carriage return
// written as \\, \t, \n and \r, so one row stays one line.
QByteArray EscapeLineField(const QByteArray &text);

// True when both name one file on disk, through symbolic or hard links; false
// when either does not exist.
bool IsSameFile(const QString &a, const QString &b);
