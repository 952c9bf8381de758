#include "core/session/batchtally.h"

void BatchTally::count(JobStatus status)
{
    switch (status) {
    case JobStatus::Finish:
        ++converted;
        break;
    case JobStatus::Skipped:
        ++skipped;
        break;
    case JobStatus::Failed:
        ++failed;
        break;
    case JobStatus::Stopped:
        ++stopped;
        break;
    case JobStatus::Unconvert:
    case JobStatus::Converting:
        break;
    }
}

QString BatchTally::text() const
{
    QString info = QStringLiteral("%1 converted").arg(converted);
    if (skipped > 0)
        info += QStringLiteral(", %1 skipped").arg(skipped);
    if (failed > 0)
        info += QStringLiteral(", %1 failed").arg(failed);
    return wasStopped ? QStringLiteral("Stopped: ") + info : info;
}
