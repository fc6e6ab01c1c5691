#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

#include "signal/QnFFT.h"
#include "support/TestSignals.h"

// Counts every allocation of this test program so the test can show that converting a frame
// allocates nothing.
namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace orvane::signal {
namespace {

TEST(QnKeyConversion, AllocatesNothingPerKeyOnEitherPath) {
    const test::TSamples stream = test::Music(30, 20000);
    for (auto path : {TSpectrumPath::spFast, TSpectrumPath::spLiteral}) {
        const long atStart = allocations.load();
        QnKeyConversion conv(path);
        ASSERT_GT(allocations.load(), atStart);  // the counter sees the converter's own tables
        const long before = allocations.load();
        for (std::int32_t start = 0; start <= 20000; start += HopSamples) {
            conv.wav2linekeyMod(stream.data(), start, 20000);  // wraps near the end
        }
        EXPECT_EQ(allocations.load(), before);
    }
}

}  // namespace
}  // namespace orvane::signal
