// FIPS 180-4 SHA-256: portable code, and the x86 SHA instructions where the processor has
// them (chosen at run time; both give the same digests).
#include "sha256.h"

#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <immintrin.h>
#define WINCLASS_SHA_INSTRUCTIONS 1
#endif

namespace winclass {

namespace {

alignas(16) const uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

void PortableBlocks(uint32_t *state, const uint8_t *block, size_t count)
{
    for (; count > 0; --count, block += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = uint32_t(block[4 * i]) << 24 | uint32_t(block[4 * i + 1]) << 16 |
                   uint32_t(block[4 * i + 2]) << 8 | uint32_t(block[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
            uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

#ifdef WINCLASS_SHA_INSTRUCTIONS

// The SHA extensions keep the state as ABEF and CDGH and take four message words at a
// time: sha256rnds2 does two rounds, sha256msg1/msg2 extend the message schedule.
__attribute__((target("sha,sse4.1"))) void ShaInstructionBlocks(uint32_t *state, const uint8_t *block,
                                                                  size_t count)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bULL, 0x0405060700010203ULL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; count > 0; --count, block += 64) {
        const __m128i abefBefore = abef, cdghBefore = cdgh;
        __m128i w[4];  // message words 4i..4i+3 of group i, kept in w[i % 4]
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            if (i < 4)
                w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 16 * i)), byteSwap);
            __m128i message =
                _mm_add_epi32(w[i % 4], _mm_load_si128(reinterpret_cast<const __m128i *>(kRound + 4 * i)));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            if (i >= 3 && i <= 14) {
                // Group i + 1 = sigma0 part (from msg1) + w[4i-3..] + sigma1 part (msg2).
                const __m128i shifted = _mm_alignr_epi8(w[i % 4], w[(i + 3) % 4], 4);
                w[(i + 1) % 4] = _mm_sha256msg2_epu32(_mm_add_epi32(w[(i + 1) % 4], shifted), w[i % 4]);
            }
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
            if (i >= 1 && i <= 12)
                w[(i + 3) % 4] = _mm_sha256msg1_epu32(w[(i + 3) % 4], w[i % 4]);
        }
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), hgfe);
}

bool DetectShaInstructions()
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_SSE4_1) || !(c & bit_SSSE3))
        return false;
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d))
        return false;
    return (b & (1u << 29)) != 0;  // CPUID.(EAX=7,ECX=0):EBX.SHA
}

#endif

} // namespace

bool Sha256::HasShaInstructions()
{
#ifdef WINCLASS_SHA_INSTRUCTIONS
    static const bool has = DetectShaInstructions();
    return has;
#else
    return false;
#endif
}

Sha256::Sha256(Engine engine)
    : blocks_(PortableBlocks),
      state_{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
#ifdef WINCLASS_SHA_INSTRUCTIONS
    if (engine == Engine::Fastest && HasShaInstructions())
        blocks_ = ShaInstructionBlocks;
#else
    (void)engine;
#endif
}

void Sha256::Update(const void *data, size_t size)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(data);
    if (size == 0)
        return;
    totalBytes_ += size;
    if (pendingSize_ > 0) {
        const size_t take = 64 - pendingSize_ < size ? 64 - pendingSize_ : size;
        std::memcpy(pending_ + pendingSize_, bytes, take);
        pendingSize_ += take;
        bytes += take;
        size -= take;
        if (pendingSize_ < 64)
            return;
        blocks_(state_, pending_, 1);
        pendingSize_ = 0;
    }
    // Whole blocks straight from the caller's buffer; the rest waits for more.
    if (size >= 64) {
        blocks_(state_, bytes, size / 64);
        bytes += size / 64 * 64;
        size %= 64;
    }
    std::memcpy(pending_, bytes, size);
    pendingSize_ = size;
}

std::string Sha256::HexDigest()
{
    uint64_t bitLength = totalBytes_ * 8;
    uint8_t padding[72] = {0x80};
    size_t padSize = pendingSize_ < 56 ? 56 - pendingSize_ : 120 - pendingSize_;
    Update(padding, padSize);
    uint8_t length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = uint8_t(bitLength >> (56 - 8 * i));
    Update(length, 8);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (uint32_t word : state_)
        for (int shift = 28; shift >= 0; shift -= 4)
            hex += digits[(word >> shift) & 0xf];
    return hex;
}

} // namespace winclass
