#include "signal/TFastFourierAvx2.h"

namespace orvane::signal::avx2 {

bool Available() {
#if defined(ORVANE_SIGNAL_AVX2)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
#else
    return false;
#endif
}

}  // namespace orvane::signal::avx2
