#include "platform/shared_library.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error.h"

namespace {

using kalo::platform::SharedLibrary;

// A path relative to the current folder is taken from there, never from the search path.
TEST(SharedLibrary, LoadsByAbsoluteOrRelativePathAndNamesWhatIsMissing) {
  const std::filesystem::path library = std::filesystem::absolute(KALO_UNZIP32_LIBRARY);
  for (const std::filesystem::path& path :
       {library, std::filesystem::relative(library, std::filesystem::current_path())}) {
    const SharedLibrary loaded(path.string());
    EXPECT_NE(loaded.Function("Wiz_SingleEntryUnzip"), nullptr) << path;
    try {
      loaded.Function("NoSuchFunction");
      ADD_FAILURE() << "a missing function was found";
    } catch (const kalo::Error& error) {
      EXPECT_EQ(error.Number(), kalo::error_number::kEntryPointNotFound);
    }
  }
  try {
    SharedLibrary missing((library.parent_path() / "missing.dll").string());
    ADD_FAILURE() << "a missing library was loaded";
  } catch (const kalo::Error& error) {
    EXPECT_EQ(error.Number(), kalo::error_number::kFileNotFound);
  }
}

}  // namespace
