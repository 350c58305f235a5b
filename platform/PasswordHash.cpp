#include "platform/PasswordHash.h"

#include <crypt.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <memory>

namespace platform {

namespace {

// Compares two byte strings in time that tells nothing of where they first
// differ: their digests, of one fixed size, are compared whole.
bool EqualConstantTime(std::string_view a, std::string_view b) {
    unsigned char da[SHA256_DIGEST_LENGTH];
    unsigned char db[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(a.data()), a.size(), da);
    SHA256(reinterpret_cast<const unsigned char*>(b.data()), b.size(), db);
    return CRYPTO_memcmp(da, db, sizeof da) == 0;
}

// The library's working area is about 32 KiB: on the heap, not on a
// worker's stack, and wiped before it goes back.
struct CryptArea {
    crypt_data data{};
    ~CryptArea() { OPENSSL_cleanse(&data, sizeof data); }
};

}  // namespace

bool IsPasswordHash(std::string_view stored) {
    if (stored.size() < 4 || stored[0] != '$') return false;
    // The library knows which methods it can check; one it keeps only for
    // old hashes ("$1$", "$5$") is still checked.
    const int state = crypt_checksalt(std::string(stored).c_str());
    return state == CRYPT_SALT_OK || state == CRYPT_SALT_METHOD_LEGACY;
}

std::string HashPassword(std::string_view password) {
    if (password.find('\0') != std::string_view::npos) return {};
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    // A null random source asks the library for the system's own.
    if (!crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting)) return {};
    auto area = std::make_unique<CryptArea>();
    const std::string phrase(password);
    const char* hash = crypt_rn(phrase.c_str(), setting, &area->data, sizeof area->data);
    if (!hash || hash[0] == '*') return {};
    return hash;
}

bool PasswordMatches(std::string_view stored, std::string_view given) {
    if (!IsPasswordHash(stored)) return EqualConstantTime(stored, given);
    // A guess holding a zero byte cannot be passed whole to the library, and
    // would otherwise be checked as its first part only.
    if (given.find('\0') != std::string_view::npos) return false;
    auto area = std::make_unique<CryptArea>();
    const std::string setting(stored);
    const std::string phrase(given);
    const char* hash = crypt_rn(phrase.c_str(), setting.c_str(), &area->data, sizeof area->data);
    // A failure returns a string starting with '*', which no stored hash is.
    if (!hash || hash[0] == '*') return false;
    return EqualConstantTime(stored, hash);
}

}  // namespace platform
