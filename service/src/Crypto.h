// Password hashing and random values, from OpenSSL.
#pragma once

#include <string>
#include <string_view>

namespace tarnix::service {

// `count` bytes from the system's cryptographic generator; throws ServiceError on failure.
std::string RandomBytes(std::size_t count);
// `count` random bytes as lower-case hexadecimal (tickets and file names).
std::string RandomHex(std::size_t count);
// PBKDF2-HMAC-SHA256 of the password with the salt: 32 bytes.
std::string HashPassword(std::string_view password, std::string_view salt, int iterations);
// Compares in a time that does not depend on where the values differ.
bool SameSecret(std::string_view a, std::string_view b);

}  // namespace tarnix::service
