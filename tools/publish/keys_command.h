// kalo-publish keys: the vendor's signing key pair, made once.
#pragma once

#include <iosfwd>
#include <string>

namespace kalo::publish {

// Makes a key pair, keeps the private key in the new file `key_file` and prints the
// public key for the updater's build; answers the exit status (1 when the file exists
// already or cannot be written).
int RunKeys(const std::string& key_file, std::ostream& out, std::ostream& err);

}  // namespace kalo::publish
