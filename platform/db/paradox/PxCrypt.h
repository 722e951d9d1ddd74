#pragma once
// Table protection: the key slots of the header's protection area and the
// encryption of data blocks (see ParadoxTable.h for the scheme).
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kdb::paradox {

using TableKey = std::array<uint8_t, 32>;

struct NewProtection {
    std::vector<uint8_t> area;  // kCryptInfoSize bytes for the header
    uint32_t checksum = 0;  // non-zero value for the header's checksum field
    TableKey key{};
};

// A fresh random table key wrapped for each of the 1 or 2 passwords.
NewProtection protect(const std::vector<std::string>& passwords);

// True when the area carries this engine's protection.
bool isOwnProtection(const uint8_t* area, size_t size);
// The checksum field value that belongs with the area.
uint32_t protectionChecksum(const uint8_t* area);
// The table key when one of the passwords opens a slot of the area.
std::optional<TableKey> unlock(const uint8_t* area, size_t size, const std::vector<std::string>& passwords);

// Encrypts or decrypts (the same operation) one data block in place.
void cryptBlock(uint8_t* data, size_t size, uint32_t blockNo, const TableKey& key);

}  // namespace kdb::paradox
