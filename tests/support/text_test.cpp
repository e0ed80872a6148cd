#include "support/text.h"

#include <gtest/gtest.h>

namespace {

TEST(PercentEncoded, KeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(cUpdate::PercentEncoded("acme"), "acme");
  EXPECT_EQ(cUpdate::PercentEncoded("acme corp&co#1"), "acme%20corp%26co%231");
  EXPECT_EQ(cUpdate::PercentEncoded("são-paulo_1.~"), "s%C3%A3o-paulo_1.~");
}

}  // namespace
