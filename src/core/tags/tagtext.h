#pragma once

#include <QByteArray>
#include <QString>

// Tag fields are bytes. For display they are UTF-8 when they decode as such, else
// ISO-8859-1, the usual ID3v1 reading.
QString TagTextToDisplay(const QByteArray &bytes);
// Typed text is stored as ISO-8859-1 when every character fits (what other ID3v1
// readers expect), else as UTF-8; either way TagTextToDisplay() gives the text back
// (ISO-8859-1 bytes that would read as UTF-8, say "\u00c3\u00a9", are stored as UTF-8).
QByteArray DisplayToTagText(const QString &text);
// The first `length` bytes of `bytes`. When `bytes` is valid UTF-8 the cut moves back to
// a character boundary, so a field never ends in half a character; other bytes are cut
// exactly.
QByteArray CutTagText(const QByteArray &bytes, qsizetype length);
