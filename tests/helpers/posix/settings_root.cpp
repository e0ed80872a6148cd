#include "helpers/settings_root.h"

#include "helpers/temp_folder.h"

namespace kalo::test {

struct SettingsRoot::Place {
  TempFolder folder;
};

SettingsRoot::SettingsRoot()
    : place_(std::make_unique<Place>()), path_(place_->folder / "config") {}

SettingsRoot::~SettingsRoot() = default;

// A plain file where the folder of an application's settings would have to go.
std::string SettingsRoot::Unwritable() const {
  return place_->folder.Write("a-file", "x");
}

}  // namespace kalo::test
