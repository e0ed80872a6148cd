#include "platform/error.h"

#include <new>
#include <system_error>
#include <utility>

#include "platform/system_error.h"

namespace kalo {

Error::Error(int number, std::string description, std::string source)
    : std::runtime_error(source + ": " + description + " (" + std::to_string(number) + ")"),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)) {}

Error Error::WithSource(std::string source) const {
  return Error(number_, description_, std::move(source));
}

Error ErrorFromException(const std::exception_ptr& thrown, const std::string& source) {
  try {
    std::rethrow_exception(thrown);
  } catch (const Error& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return Error(error_number::kOutOfMemory, "Memória insuficiente", source);
  } catch (const std::system_error& error) {
    return platform::SystemError(error.code().value(), error.what(), source);
  } catch (const std::exception& error) {
    return Error(error_number::kInternalError, error.what(), source);
  } catch (...) {
    return Error(error_number::kInternalError, "Erro desconhecido", source);
  }
}

}  // namespace kalo
