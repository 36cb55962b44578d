// SHA-256 of a stream of bytes, for the backup manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace winclass {

class Sha256 {
public:
    // Fastest: the processor's SHA instructions when it has them, else the portable code.
    enum class Engine { Fastest, Portable };

    explicit Sha256(Engine engine = Engine::Fastest);
    void Update(const void *data, size_t size);
    // The digest as 64 lower-case hexadecimal digits; the object is spent afterwards.
    std::string HexDigest();

    // Whether this processor has the SHA instructions (Fastest then uses them).
    static bool HasShaInstructions();

private:
    using BlockFunction = void (*)(uint32_t *state, const uint8_t *blocks, size_t count);

    BlockFunction blocks_;
    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingSize_ = 0;
    uint64_t totalBytes_ = 0;
};

} // namespace winclass
