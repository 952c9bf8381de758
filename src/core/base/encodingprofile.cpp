#include "core/base/encodingprofile.h"

EncodingProfile EncodingProfile::defaults()
{
    return {QStringLiteral("44100"), QStringLiteral("128000"), QStringLiteral("2")};
}
