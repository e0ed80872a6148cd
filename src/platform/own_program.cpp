#include "platform/own_program.h"

#include "kalo/build_version.h"

namespace kalo::platform {

// The build writes its version into every program, so no system is asked for it.
FileVersion OwnVersion() {
  return {build::kVersionMajor, build::kVersionMinor, build::kVersionBuild,
          build::kVersionRevision};
}

}  // namespace kalo::platform
