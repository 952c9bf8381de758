#pragma once

#include "core/base/encodingprofile.h"
#include "core/convert/outputnaming.h"

#include <QString>

// What the program does once a batch has converted its last row.
enum class EndAction
{
    Nothing = 0,
    OpenFolder = 1,
    Shutdown = 2
};

// What the output takes from its source besides the sound and the tag.
struct TagOptions
{
    bool keepSourceTime = false; // the output gets the source's modification time
    bool coverFromFolder = true; // a source without pictures gets its folder's cover image

    bool operator==(const TagOptions &o) const
    {
        return keepSourceTime == o.keepSourceTime && coverFromFolder == o.coverFromFolder;
    }
    bool operator!=(const TagOptions &o) const { return !(*this == o); }
};

// Everything the user chooses about a conversion, typed: the front ends fill it from their
// controls, the command line or the settings file, and the session hands it to the batch.
struct ConversionOptions
{
    EncodingProfile profile = EncodingProfile::defaults();
    QString outputDir;
    NamingOptions naming; // the pattern, kept folders and the existing-file rule
    int jobsAtOnce = 1;   // from the next batch on
    EndAction finishAction = EndAction::Nothing;
    TagOptions tags; // from the next job on
};
