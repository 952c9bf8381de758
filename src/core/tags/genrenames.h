#pragma once

#include <QString>

#include <array>

// The ID3v1 genre list with the Winamp extensions; a genre byte indexes it directly,
// and the tag editor's drop-down position equals the index.
extern const std::array<const char *, 148> GenreNames;

// The number of a genre name in any letter case: our spellings first, then TagLib's (which
// spells a few otherwise); 255 for a name the list lacks.
quint8 GenreNumber(const QString &name);
