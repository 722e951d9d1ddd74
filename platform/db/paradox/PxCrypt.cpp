#include "platform/db/paradox/PxCrypt.h"

#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include <sodium.h>

#include "platform/db/core/DbError.h"
#include "platform/db/paradox/PxFormat.h"

namespace kdb::paradox {

namespace {

// Layout of the protection area.
constexpr uint8_t kMagic[4] = {'K', 'V', 'L', 0x01};
constexpr size_t oSlotCount = 4;
constexpr size_t oKdf = 5;
constexpr size_t oCheck = 8;
constexpr size_t kCheckSize = 16;
constexpr size_t oSlots = 24;
constexpr size_t kSlotSize = 64;
constexpr size_t kSaltSize = 16;
constexpr size_t kMaxSlots = 2;
constexpr uint8_t kKdfArgon2id = 1;

// Key derivation cost: small, the derived key is cached for the process.
constexpr unsigned long long kOpsLimit = 2;
constexpr size_t kMemLimit = 1u << 20;
constexpr size_t kMaxCachedKeys = 64;

void initSodium()
{
    static const int rc = sodium_init();
    if (rc < 0)
        throw EDBEngineError::notSupported(std::string(), "the cryptographic library cannot start");
}

TableKey deriveSlotKey(const std::string& password, const uint8_t* salt)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, std::string>, TableKey> cache;
    const auto id = std::make_pair(password, std::string(reinterpret_cast<const char*>(salt), kSaltSize));
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = cache.find(id);
        if (it != cache.end())
            return it->second;
    }
    TableKey out{};
    if (crypto_pwhash(out.data(), out.size(), password.data(), password.size(), salt, kOpsLimit, kMemLimit,
            crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw EDBEngineError::notSupported(std::string(), "out of memory while checking a table password");
    std::lock_guard<std::mutex> lock(mutex);
    if (cache.size() >= kMaxCachedKeys)
        cache.clear();
    cache.emplace(id, out);
    return out;
}

std::array<uint8_t, kCheckSize> keyCheck(const TableKey& key)
{
    static const char kContext[] = "table key check";
    std::array<uint8_t, kCheckSize> out{};
    crypto_generichash(out.data(), out.size(), reinterpret_cast<const uint8_t*>(kContext), sizeof(kContext) - 1,
        key.data(), key.size());
    return out;
}

}  // namespace

NewProtection protect(const std::vector<std::string>& passwords)
{
    initSodium();
    if (passwords.empty() || passwords.size() > kMaxSlots)
        throw EDBEngineError::invalidParam(std::string(), "a table takes one or two passwords");
    for (const std::string& p : passwords)
        if (p.empty() || p.size() > 255)
            throw EDBEngineError::invalidParam(std::string(), "a table password has 1 to 255 characters");
    NewProtection out;
    randombytes_buf(out.key.data(), out.key.size());
    out.area.assign(kCryptInfoSize, 0);
    uint8_t* a = out.area.data();
    std::memcpy(a, kMagic, sizeof(kMagic));
    a[oSlotCount] = static_cast<uint8_t>(passwords.size());
    a[oKdf] = kKdfArgon2id;
    const auto check = keyCheck(out.key);
    std::memcpy(a + oCheck, check.data(), check.size());
    for (size_t i = 0; i < passwords.size(); ++i) {
        uint8_t* slot = a + oSlots + i * kSlotSize;
        randombytes_buf(slot, kSaltSize);
        const TableKey k = deriveSlotKey(passwords[i], slot);
        for (size_t j = 0; j < k.size(); ++j)
            slot[kSaltSize + j] = out.key[j] ^ k[j];
    }
    out.checksum = protectionChecksum(a);
    return out;
}

bool isOwnProtection(const uint8_t* area, size_t size)
{
    return size >= kCryptInfoSize && std::memcmp(area, kMagic, sizeof(kMagic)) == 0 && area[oSlotCount] >= 1 &&
        area[oSlotCount] <= kMaxSlots && area[oKdf] == kKdfArgon2id;
}

uint32_t protectionChecksum(const uint8_t* area)
{
    return getU32(area + oCheck) | 1u;
}

std::optional<TableKey> unlock(const uint8_t* area, size_t size, const std::vector<std::string>& passwords)
{
    if (!isOwnProtection(area, size))
        return std::nullopt;
    initSodium();
    const size_t slotCount = area[oSlotCount];
    for (const std::string& password : passwords) {
        for (size_t i = 0; i < slotCount; ++i) {
            const uint8_t* slot = area + oSlots + i * kSlotSize;
            const TableKey k = deriveSlotKey(password, slot);
            TableKey key{};
            for (size_t j = 0; j < key.size(); ++j)
                key[j] = slot[kSaltSize + j] ^ k[j];
            const auto check = keyCheck(key);
            if (sodium_memcmp(check.data(), area + oCheck, check.size()) == 0)
                return key;
        }
    }
    return std::nullopt;
}

void cryptBlock(uint8_t* data, size_t size, uint32_t blockNo, const TableKey& key)
{
    uint8_t nonce[crypto_stream_chacha20_ietf_NONCEBYTES] = {};
    putU32(nonce, blockNo);
    crypto_stream_chacha20_ietf_xor(data, data, size, nonce, key.data());
}

}  // namespace kdb::paradox
