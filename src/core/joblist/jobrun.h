#pragma once

#include "core/base/encodingprofile.h"

#include <QString>
#include <QStringList>

#include <optional>

// What a row's last conversion did, kept with the row for the report: set by the batch
// when the row ends.
struct JobRun
{
    QString output; // the final path the job wrote or was to write; empty when it had none
    QString format; // the --to name, e.g. "mp3"; empty until the row has ended once
    EncodingProfile profile;
    qint64 elapsedMs = 0;
    qint64 outputBytes = -1; // the output's size when the row left one (Finish, Skipped)
    // The fields of the source's tag the output could not keep (ReportFieldNames()), empty
    // when it kept all; nothing unless the row wrote its output (Finish).
    std::optional<QStringList> notKept;

    bool hasEnded() const { return !format.isEmpty(); }
};
