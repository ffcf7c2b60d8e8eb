// The system's cipher for the protected link: CNG (bcrypt.dll), looked up at
// run time, so the program still starts on Windows 2000 and XP, which have none.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "link/record_layer.h"

// Whether the system offers what a protected link needs (Windows Vista on).
bool systemCryptoAvailable();

// The typed link key stretched (PBKDF2 over HMAC-SHA256, LINK_KEY_SALT and
// LINK_KEY_ROUNDS): the system's own from Windows 7 on, the record layer's
// over the system's HMAC on Vista. False without the system's cipher.
bool stretchLinkKey(const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED]);

// The cipher of one connection: AES-256-GCM, HMAC-SHA256 and random bytes
// from the system.
class SystemCipher final : public LinkCipher {
public:
    bool random(uint8_t* out, int32_t n) override;
    bool hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32]) override;
    bool setKeys(const uint8_t sendKey[32], const uint8_t receiveKey[32]) override;
    bool seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG]) override;
    bool open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, const uint8_t* in,
              uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG]) override;
    void dropKeys() override;
    ~SystemCipher() { dropKeys(); }

private:
    void* sendKey = nullptr;
    void* receiveKey = nullptr;
    uint8_t* sendObject = nullptr;
    uint8_t* receiveObject = nullptr;
};
