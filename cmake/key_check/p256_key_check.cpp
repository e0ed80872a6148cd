// Prints each public key given (the 130 hex digits of an uncompressed point, as
// kalo-publish keys prints them) that is not a point of P-256, checked by libcrypto;
// exit status 1 when there is one. Built and run while the build is configured.
#include <openssl/ec.h>
#include <openssl/obj_mac.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> BytesOfHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t at = 0; at + 1 < hex.size(); at += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(at, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::unique_ptr<EC_GROUP, decltype(&EC_GROUP_free)> group(
      EC_GROUP_new_by_curve_name(NID_X9_62_prime256v1), &EC_GROUP_free);
  if (!group) {
    std::puts("libcrypto does not know the curve P-256");
    return 2;
  }
  int status = 0;
  for (int key = 1; key < argc; ++key) {
    const std::vector<unsigned char> bytes = BytesOfHex(argv[key]);
    const std::unique_ptr<EC_POINT, decltype(&EC_POINT_free)> point(EC_POINT_new(group.get()),
                                                                    &EC_POINT_free);
    // The decoding refuses coordinates beyond the field, the check any other point.
    if (!point ||
        EC_POINT_oct2point(group.get(), point.get(), bytes.data(), bytes.size(), nullptr) != 1 ||
        EC_POINT_is_on_curve(group.get(), point.get(), nullptr) != 1) {
      std::puts(argv[key]);
      status = 1;
    }
  }
  return status;
}
