// Text crossing the C interfaces of our archive libraries. Inside the updater text is
// UTF-8; the libraries' records and callbacks carry the system's own narrow
// encoding (the ANSI code page on Windows, UTF-8 elsewhere).
#pragma once

#include <string>
#include <string_view>

namespace kalo::platform {

// `text` in the libraries' encoding. Throws when a character has no form there: a
// path changed on the way would name another file.
std::string ToLibraryText(std::string_view text);

// Text from a library, in UTF-8. Bytes that do not decode become replacement marks.
std::string FromLibraryText(std::string_view text);

}  // namespace kalo::platform
