#pragma once

#include <QString>

#include <optional>

// Sizes are bytes inside the program; the list shows them as "3.43MB".

// The bytes a stream of `bitsPerSecond` takes in `seconds`; 0 for an unknown duration or
// a negative rate.
qint64 EstimateBytes(std::optional<int> seconds, qint64 bitsPerSecond);

// "3.43MB": megabytes (1024 * 1024 bytes) with at most two decimals, cut rather than
// rounded.
QString SizeText(qint64 bytes);

// The size text for a duration text ("00:03:25") and a bitrate text ("128000"): a
// bitrate that is not a whole, non-negative number counts as 0.
QString EstimateSize(const QString &duration, const QString &bitrate);
