// The curve equation of P-256, checked with plain integer arithmetic, for systems whose
// cryptography takes a key without checking that it is a point of the curve.
#pragma once

#include <cstddef>
#include <span>

namespace kalo::platform {

// True when `point` is the uncompressed form of an affine point of P-256: both
// coordinates below the field's prime, and y² = x³ - 3x + b. Every such point is a
// public key, as the curve's cofactor is 1. Public data only, so nothing here needs to
// take the same time whatever the input. The point is a `P256PublicKey`, taken as its
// bytes so that the cryptography service can use this check without a loop of includes.
bool SatisfiesP256Equation(std::span<const std::byte, 65> point);

}  // namespace kalo::platform
