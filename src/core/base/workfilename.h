#pragma once

#include <QLatin1String>
#include <QString>

// A conversion writes a hidden work file beside its output, ".<name>.wt-XXXXXX<ext>", and
// renames it once the output is complete. The folder scan must never take one for media.
inline constexpr QLatin1String WorkFileMarker(".wt-");
inline constexpr int WorkFileRandomLength = 6;

// True for names of that form.
bool IsWorkFileName(const QString &fileName);
