#pragma once

#include <QByteArray>
#include <QString>

// Tag fields are bytes. For display they are UTF-8 when they decode as such, else
// ISO-8859-1, the usual ID3v1 reading.
QString TagTextToDisplay(const QByteArray &bytes);
// Typed text is stored as UTF-8.
QByteArray DisplayToTagText(const QString &text);
// The first `length` bytes of `bytes`. When `bytes` is valid UTF-8 the cut moves back to
// a character boundary, so a field never ends in half a character; other bytes are cut
// exactly.
QByteArray CutTagText(const QByteArray &bytes, qsizetype length);
