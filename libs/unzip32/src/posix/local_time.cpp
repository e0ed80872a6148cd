#include "local_time.h"

namespace kalo::unzip32 {

std::tm LocalTime(std::time_t time) {
  std::tm local{};
  ::localtime_r(&time, &local);
  return local;
}

}  // namespace kalo::unzip32
