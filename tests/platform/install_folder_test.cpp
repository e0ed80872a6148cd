#include "platform/install_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(InstallFolder, KaloDirWinsOverHome) {
  const ScopedEnvironment home("HOME", "/home/someone");
  {
    const ScopedEnvironment folder("KALO_DIR", "/opt/kalo");
    EXPECT_EQ(kalo::platform::InstallFolder(), "/opt/kalo");
  }
  for (const char* unset : {static_cast<const char*>(nullptr), ""}) {
    const ScopedEnvironment folder("KALO_DIR", unset);
    EXPECT_EQ(kalo::platform::InstallFolder(), "/home/someone/KALO");
  }
}

TEST(InstallFolder, PathInFolder) {
  EXPECT_EQ(kalo::platform::PathInFolder("/opt/kalo", "acme.exe"), "/opt/kalo/acme.exe");
  EXPECT_EQ(kalo::platform::PathInFolder("/opt/kalo/", "acme.exe"), "/opt/kalo/acme.exe");
  EXPECT_EQ(kalo::platform::PathInFolder("/", "acme.exe"), "/acme.exe");
}

}  // namespace
