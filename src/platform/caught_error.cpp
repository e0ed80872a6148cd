#include "platform/caught_error.h"

#include <new>
#include <system_error>

#include "platform/system_error.h"

namespace kalo {
namespace {

Error ErrorFromSystemError(const std::system_error& error, const std::string& source) {
  const std::error_code code = error.code();
  // A portable condition, the same on every system: the library's text already names
  // the failure and its cause.
  if (code.category() == std::generic_category()) {
    return Error(platform::ErrorNumberOf(static_cast<std::errc>(code.value())), error.what(),
                 source);
  }
  // A code in the system's own numbering, which only the platform knows.
  if (code.category() == std::system_category()) {
    return platform::SystemError(code.value(), error.what(), source);
  }
  return Error(error_number::kInternalError, error.what(), source);
}

}  // namespace

Error ErrorFromException(const std::exception_ptr& thrown, const std::string& source) {
  try {
    std::rethrow_exception(thrown);
  } catch (const Error& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return Error(error_number::kOutOfMemory, "Memória insuficiente", source);
  } catch (const std::system_error& error) {
    return ErrorFromSystemError(error, source);
  } catch (const std::exception& error) {
    return Error(error_number::kInternalError, error.what(), source);
  } catch (...) {
    return Error(error_number::kInternalError, "Erro desconhecido", source);
  }
}

}  // namespace kalo
