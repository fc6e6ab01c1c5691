#include "base/TimeText.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(MinSecText, RoundsHalvesToEvenAndPadsSeconds) {
    const struct {
        double Seconds;
        const char* Text;
    } cases[] = {
        {0.0, "0:00"},    {-3.0, "0:00"},    {0.5, "0:00"},   {1.5, "0:02"},
        {2.5, "0:02"},    {59.49, "0:59"},   {59.5, "1:00"},  {187.0, "3:07"},
        {3700.0, "61:40"}, {9.99, "0:10"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MinSecText(c.Seconds), c.Text) << c.Seconds;
    }
}

}  // namespace
}  // namespace orvane
