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

// Everything the user chooses about a conversion, typed: the front ends fill it from their
// controls, the command line or the settings file, and the session hands it to the batch.
struct ConversionOptions
{
    EncodingProfile profile = EncodingProfile::defaults();
    QString outputDir;
    NamingOptions naming; // the pattern, kept folders and the existing-file rule
    int jobsAtOnce = 1;   // from the next batch on
    EndAction finishAction = EndAction::Nothing;
};
