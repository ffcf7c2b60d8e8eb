// A stand-in for the system's cipher, for the native tests and the fuzzer:
// deterministic, keyed, and sensitive to every byte (FNV-1a chains), but no
// cipher at all. The record layer only needs a keyed MAC whose output changes
// with any input and a seal that open undoes and whose tag notices damage.
#pragma once

#include <cstdint>
#include <cstring>

#include "link/record_layer.h"

class StandInCipher final : public LinkCipher {
public:
    uint64_t seed = 1;  // the random bytes this cipher gives follow from it

    bool random(uint8_t* out, int32_t n) override
    {
        for (int32_t i = 0; i < n; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            out[i] = static_cast<uint8_t>(seed >> 56);
        }
        return true;
    }

    bool hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32]) override
    {
        for (int lane = 0; lane < 4; ++lane) {
            uint64_t h = 1469598103934665603ULL ^ static_cast<uint64_t>(lane + 1) * 0x9E3779B97F4A7C15ULL;
            h = mix(h, key, keyLength);
            h = mix(h, reinterpret_cast<const uint8_t*>("|"), 1);
            h = mix(h, data, n);
            for (int i = 0; i < 8; ++i) out[lane * 8 + i] = static_cast<uint8_t>(h >> (8 * i));
        }
        return true;
    }

    bool setKeys(const uint8_t sendKey[32], const uint8_t receiveKey[32]) override
    {
        std::memcpy(send, sendKey, 32);
        std::memcpy(receive, receiveKey, 32);
        keyed = true;
        return true;
    }

    bool seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG]) override
    {
        if (!keyed) return false;
        std::memmove(out, in, n);
        stream(send, nonce, out, n);
        makeTag(send, nonce, header, headerLength, out, n, tag);
        return true;
    }

    bool open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG]) override
    {
        if (!keyed) return false;
        uint8_t expected[RECORD_TAG];
        makeTag(receive, nonce, header, headerLength, in, n, expected);
        // Decrypted before the tag is checked, as a system's cipher may: a
        // record that fails has still written its bytes.
        std::memmove(out, in, n);
        stream(receive, nonce, out, n);
        return std::memcmp(expected, tag, RECORD_TAG) == 0;
    }

    void dropKeys() override
    {
        std::memset(send, 0, sizeof send);
        std::memset(receive, 0, sizeof receive);
        keyed = false;
    }

private:
    uint8_t send[32] = {}, receive[32] = {};
    bool keyed = false;

    static uint64_t mix(uint64_t h, const uint8_t* data, int32_t n)
    {
        for (int32_t i = 0; i < n; ++i) h = (h ^ data[i]) * 1099511628211ULL;
        return h;
    }

    static void stream(const uint8_t key[32], const uint8_t nonce[RECORD_NONCE], uint8_t* data, int32_t n)
    {
        uint64_t h = mix(mix(14695981039346656037ULL, key, 32), nonce, RECORD_NONCE);
        for (int32_t i = 0; i < n; ++i) {
            h = (h ^ static_cast<uint64_t>(i)) * 1099511628211ULL;
            data[i] ^= static_cast<uint8_t>(h >> 32);
        }
    }

    void makeTag(const uint8_t key[32], const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                 const uint8_t* data, int32_t n, uint8_t tag[RECORD_TAG])
    {
        for (int lane = 0; lane < 2; ++lane) {
            uint64_t h = 14695981039346656037ULL + static_cast<uint64_t>(lane);
            h = mix(mix(mix(mix(h, key, 32), nonce, RECORD_NONCE), header, headerLength), data, n);
            for (int i = 0; i < 8; ++i) tag[lane * 8 + i] = static_cast<uint8_t>(h >> (8 * i));
        }
    }
};
