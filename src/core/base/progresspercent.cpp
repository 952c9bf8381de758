#include "core/base/progresspercent.h"

#include <QtGlobal>

std::optional<int> ProgressPercent(int done, int total)
{
    if (total < done)
        return std::nullopt;
    if (total <= 0)
        return 0;
    return static_cast<int>(static_cast<qint64>(qMax(done, 0)) * 100 / total);
}
