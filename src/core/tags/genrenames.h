#pragma once

#include <array>

// The ID3v1 genre list with the Winamp extensions; a genre byte indexes it directly,
// and the tag editor's drop-down position equals the index.
extern const std::array<const char *, 148> GenreNames;
