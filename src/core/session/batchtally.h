#pragma once

#include "core/joblist/jobstatus.h"

#include <QString>

// What one batch has done so far, counted as its rows end.
struct BatchTally
{
    int converted = 0;
    int skipped = 0;
    int failed = 0;
    int stopped = 0;
    bool wasStopped = false; // the batch was stopped rather than run to its end

    void count(JobStatus status);
    // "5 converted, 2 skipped, 1 failed"; "Stopped: 2 converted" for a stopped batch.
    QString text() const;
};
