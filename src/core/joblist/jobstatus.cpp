#include "core/joblist/jobstatus.h"

QString JobStatusText(JobStatus status)
{
    switch (status) {
    case JobStatus::Unconvert:
        return QStringLiteral("Unconvert");
    case JobStatus::Converting:
        return QStringLiteral("Converting");
    case JobStatus::Finish:
        return QStringLiteral("Finish");
    case JobStatus::Failed:
        return QStringLiteral("Failed");
    case JobStatus::Stopped:
        return QStringLiteral("Stopped");
    case JobStatus::Skipped:
        return QStringLiteral("Skipped");
    }
    return {};
}
