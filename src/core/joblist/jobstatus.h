#pragma once

#include <QString>

// What a row's "Status" column says. Failed and Stopped tell apart what the
// encoder did not finish, so that no row claims success it did not have; Skipped rows
// were left alone because their output was there already.
enum class JobStatus
{
    Unconvert,
    Converting,
    Finish,
    Failed,
    Stopped,
    Skipped
};

QString JobStatusText(JobStatus status);
