// Turns whatever a routine caught into the runtime error type, so that every failure
// reaches the user with a number, a description and a source.
#pragma once

#include <exception>
#include <string>

#include "platform/error.h"

namespace kalo {

// The runtime error that stands for the exception `thrown`, so that any failure gets
// a number, a description and a source: an Error as it is, the others under `source`
// (running out of memory as kOutOfMemory, a system error with the system's text,
// anything else as kInternalError).
Error ErrorFromException(const std::exception_ptr& thrown, const std::string& source);

}  // namespace kalo
