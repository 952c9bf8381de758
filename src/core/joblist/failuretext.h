#pragma once

#include <QString>

// A failed row's reason as a person reads it: for reasons the program knows (ffmpeg's
// own error lines and the batch's refusals), a plain sentence saying what went wrong and
// what to do, followed by the reason itself on its own line. Other reasons, and the
// empty one, come back unchanged.
QString ExplainedReason(const QString &reason);
