#include "base/RefCounted.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orvane {
namespace {

class TProbe : public TRefCounted {
public:
    explicit TProbe(int* destroyed) : FDestroyed(destroyed) {}
    ~TProbe() override { ++*FDestroyed; }

private:
    int* FDestroyed;
};

TEST(TRefPtr, FreesTheObjectWithTheLastReferenceAcrossThreads) {
    int destroyed = 0;
    {
        auto p = MakeRef<TProbe>(&destroyed);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([p] {
                for (int i = 0; i < 10000; ++i) {
                    TRefPtr<TProbe> copy = p;
                    TRefPtr<TProbe> moved = std::move(copy);
                }
            });
        }
        for (auto& t : threads) t.join();
        EXPECT_EQ(p->RefCount(), 1);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace orvane
