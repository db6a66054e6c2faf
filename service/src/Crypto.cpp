#include "Crypto.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "Errors.h"

namespace tarnix::service {

std::string RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1)
        throw ServiceError(hr::kFail, "the random generator failed");
    return bytes;
}

std::string RandomHex(std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char byte : RandomBytes(count)) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string HashPassword(std::string_view password, std::string_view salt, int iterations) {
    std::string hash(32, '\0');
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          iterations, EVP_sha256(), static_cast<int>(hash.size()),
                          reinterpret_cast<unsigned char*>(hash.data())) != 1)
        throw ServiceError(hr::kFail, "password hashing failed");
    return hash;
}

bool SameSecret(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace tarnix::service
