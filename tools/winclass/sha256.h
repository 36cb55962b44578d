// SHA-256 of a stream of bytes, for the backup manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace winclass {

class Sha256 {
public:
    Sha256();
    void Update(const void *data, size_t size);
    // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t *block);

    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

} // namespace winclass
