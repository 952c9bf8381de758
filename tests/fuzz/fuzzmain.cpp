// libFuzzer's entry for one target, chosen at build time by WT_FUZZ_FUNCTION.
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return WT_FUZZ_FUNCTION(data, size);
}
