#include "platform/resources.h"

#include <gtest/gtest.h>

#include <string>

#include "helpers/temp_folder.h"
#include "platform/error.h"

namespace kalo::test {
std::span<const platform::CarriedResource> CarriedTestResources();
}

namespace {

std::string AsText(std::span<const std::byte> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(CarriedResources, LooksUpByNameAndTypeIgnoringCase) {
  const kalo::platform::CarriedResources resources(kalo::test::CarriedTestResources());
  EXPECT_EQ(AsText(resources.Load("TEXT.BIN", "CUSTOM")), "carried bytes\n");
  EXPECT_EQ(AsText(resources.Load("text.bin", "custom")), "carried bytes\n");
  EXPECT_TRUE(resources.Load("EMPTY.BIN", "CUSTOM").empty());
  // A whole program survives the trip byte for byte.
  EXPECT_EQ(AsText(resources.Load("TEST_PROGRAM.EXE", "CUSTOM")),
            kalo::test::ReadWholeFile(KALO_TEST_PROGRAM));
}

TEST(CarriedResources, UnknownNameOrTypeIsAnError) {
  const kalo::platform::CarriedResources resources(kalo::test::CarriedTestResources());
  for (const auto& [name, type] :
       {std::pair{"NOSUCH.DLL", "CUSTOM"}, {"TEXT.BIN", "RCDATA"}, {"TEXT", "CUSTOM"}}) {
    try {
      resources.Load(name, type);
      ADD_FAILURE() << name << " " << type;
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kResourceNotFound);
      EXPECT_NE(error.Description().find(name), std::string::npos);
    }
  }
}

}  // namespace
