// The protected link's cipher on OpenSSL's libcrypto: AES-256-GCM records,
// HMAC-SHA256, the system's random bytes, and the key's stretching by
// PBKDF2-HMAC-SHA256 (LINK_KEY_SALT, LINK_KEY_ROUNDS), as the Windows side
// does them with the system's CNG.
#pragma once

#include <openssl/types.h>

#include "link/record_layer.h"

class OpenSslCipher final : public LinkCipher {
public:
    OpenSslCipher() = default;
    OpenSslCipher(const OpenSslCipher&) = delete;
    OpenSslCipher& operator=(const OpenSslCipher&) = delete;
    ~OpenSslCipher() { dropKeys(); }

    bool random(uint8_t* out, int32_t n) override;
    bool hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32]) override;
    bool setKeys(const uint8_t sendKey[32], const uint8_t receiveKey[32]) override;
    bool seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG]) override;
    bool open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG]) override;
    void dropKeys() override;

private:
    EVP_CIPHER_CTX* sealing = nullptr;
    EVP_CIPHER_CTX* opening = nullptr;
};

// The typed key as the handshake takes it (n bytes as normalizeLinkKey gives them).
bool stretchLinkKeyOpenSsl(const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED]);
