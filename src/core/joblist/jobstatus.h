#pragma once

#include <QString>

// What a row's "Status" column says. Failed and Stopped tell apart what the
// encoder did not finish, so that no row claims success it did not have.
enum class JobStatus
{
    Unconvert,
    Converting,
    Finish,
    Failed,
    Stopped
};

QString JobStatusText(JobStatus status);
