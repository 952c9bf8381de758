#pragma once

#include "core/convert/encodingprofile.h"
#include "core/tags/id3info.h"

#include <QByteArray>
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

// The entry's fields as the output's own metadata, "title=...", "artist=...", "album=...",
// "date=...", "comment=...", "genre=NAME", each decoded as the list shows it. Every key is
// given, empty ones too, so what the encoder would copy from the source never contradicts
// the ID3v1 block written after it.
QStringList MetadataArguments(const ID3info &entry);

// The output file's name: the tag title, decoded as UTF-8 when valid, else as
// ISO-8859-1, with "/" and control characters (below 0x20, and 0x7F) made "_",
// followed by the extension. An empty title, "." and ".." fall back to the source's
// file name, cleaned the same way. A name longer than 255 bytes in UTF-8 is cut (on a
// character boundary) before the extension.
QString OutputFileName(const QByteArray &title, const QString &sourcePath,
                       const QString &extension);

// outputDir, "/", OutputFileName().
QString OutputPath(const QString &outputDir, const QByteArray &title, const QString &sourcePath,
                   const QString &extension);

// A path in a line of tab-separated fields: backslash, tab, line feed and carriage return
// written as \\, \t, \n and \r, so one row stays one line.
QByteArray EscapeLineField(const QByteArray &text);

// True when both name one file on disk, through symbolic or hard links; false
// when either does not exist.
bool IsSameFile(const QString &a, const QString &b);
