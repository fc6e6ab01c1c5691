#include "base/Errors.h"

#include <cstdio>
#include <cstdlib>

namespace orvane {

void AssertFailed(const char* expression, const char* file, int line) {
    std::fprintf(stderr, "orvane3: assertion failed: %s (%s:%d)\n", expression, file, line);
#if defined(ORVANE_ABORT_ON_ASSERT) || !defined(NDEBUG)
    std::abort();
#endif
}

}  // namespace orvane
