#include "platform/p256_curve.h"

#include <array>
#include <cstdint>

namespace kalo::platform {
namespace {

// A number below 2^256 as eight 32-bit limbs, the least significant first.
using Number = std::array<std::uint32_t, 8>;

constexpr Number kPrime{0xffffffff, 0xffffffff, 0xffffffff, 0, 0, 0, 1, 0xffffffff};
constexpr Number kB{0x27d2604b, 0x3bce3c3e, 0xcc53b0f6, 0x651d06b0,
                    0x769886bc, 0xb3ebbd55, 0xaa3a93e7, 0x5ac635d8};

// A coordinate of the point: 32 bytes, big-endian.
Number NumberOf(std::span<const std::byte, 32> bytes) {
  Number number{};
  for (std::size_t at = 0; at < bytes.size(); ++at) {
    const std::size_t bit = 8 * (bytes.size() - 1 - at);
    number[bit / 32] |= std::to_integer<std::uint32_t>(bytes[at]) << (bit % 32);
  }
  return number;
}

bool Less(const Number& a, const Number& b) {
  for (std::size_t limb = a.size(); limb-- > 0;) {
    if (a[limb] != b[limb]) {
      return a[limb] < b[limb];
    }
  }
  return false;
}

// a + b modulo 2^256; `overflow` says whether it wrapped.
Number Add(const Number& a, const Number& b, bool& overflow) {
  Number sum{};
  std::uint64_t carry = 0;
  for (std::size_t limb = 0; limb < a.size(); ++limb) {
    carry += std::uint64_t{a[limb]} + b[limb];
    sum[limb] = static_cast<std::uint32_t>(carry);
    carry >>= 32;
  }
  overflow = carry != 0;
  return sum;
}

// a - b modulo 2^256; `overflow` says whether it wrapped.
Number Subtract(const Number& a, const Number& b, bool& overflow) {
  Number difference{};
  std::uint64_t borrow = 0;
  for (std::size_t limb = 0; limb < a.size(); ++limb) {
    const std::uint64_t taken = std::uint64_t{b[limb]} + borrow;
    difference[limb] = static_cast<std::uint32_t>(a[limb] - taken);
    borrow = a[limb] < taken ? 1 : 0;
  }
  overflow = borrow != 0;
  return difference;
}

// The arithmetic of the field, on numbers below the prime.
Number AddModPrime(const Number& a, const Number& b) {
  bool overflow = false;
  const Number sum = Add(a, b, overflow);
  return overflow || !Less(sum, kPrime) ? Subtract(sum, kPrime, overflow) : sum;
}

Number SubtractModPrime(const Number& a, const Number& b) {
  bool overflow = false;
  const Number difference = Subtract(a, b, overflow);
  return overflow ? Add(difference, kPrime, overflow) : difference;
}

// Doubling and adding, bit by bit: slow, but a start-up checks a key or two.
Number MultiplyModPrime(const Number& a, const Number& b) {
  Number product{};
  for (std::size_t bit = 256; bit-- > 0;) {
    product = AddModPrime(product, product);
    if ((b[bit / 32] >> (bit % 32)) & 1) {
      product = AddModPrime(product, a);
    }
  }
  return product;
}

}  // namespace

bool SatisfiesP256Equation(std::span<const std::byte, 65> point) {
  if (point[0] != std::byte{0x04}) {
    return false;
  }
  const Number x = NumberOf(point.subspan<1, 32>());
  const Number y = NumberOf(point.last<32>());
  if (!Less(x, kPrime) || !Less(y, kPrime)) {
    return false;
  }
  const Number three_x = AddModPrime(AddModPrime(x, x), x);
  const Number right =
      AddModPrime(SubtractModPrime(MultiplyModPrime(MultiplyModPrime(x, x), x), three_x), kB);
  return MultiplyModPrime(y, y) == right;
}

}  // namespace kalo::platform
