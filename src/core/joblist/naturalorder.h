#pragma once

#include <QStringList>

// Sorts paths as a person reads numbered names: by file name first ("2 x" before "10 x",
// letter case aside), then by the whole path, so that equal names keep a fixed order.
void SortNaturally(QStringList &paths);
