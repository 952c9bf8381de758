#pragma once

#include "core/tags/tagpictures.h"

#include <QString>

#include <optional>

// Bytes of the largest cover image taken from a folder; a larger file is no cover.
constexpr qint64 MaxFolderCoverBytes = 16 * 1024 * 1024;

// The front cover image beside the music in `folder`, for a source without an embedded
// picture: the first of cover, folder, front, album art and albumart (any letter case) with
// the extension .jpg, .jpeg or .png that is a regular file of at most MaxFolderCoverBytes
// holding a JPEG or PNG image. Nothing when there is none.
std::optional<EmbeddedPicture> FolderCover(const QString &folder);
