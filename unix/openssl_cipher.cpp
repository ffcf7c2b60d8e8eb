#include "unix/openssl_cipher.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace {

// A context keyed for one direction: AES-256 in GCM with 12-byte nonces.
EVP_CIPHER_CTX* keyedContext(const uint8_t key[32], bool encrypt)
{
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    if (!context) return nullptr;
    const bool ok = EVP_CipherInit_ex(context, EVP_aes_256_gcm(), nullptr, nullptr, nullptr, encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_ctrl(context, EVP_CTRL_GCM_SET_IVLEN, RECORD_NONCE, nullptr) == 1 &&
                    EVP_CipherInit_ex(context, nullptr, nullptr, key, nullptr, -1) == 1;
    if (ok) return context;
    EVP_CIPHER_CTX_free(context);
    return nullptr;
}

}  // namespace

bool OpenSslCipher::random(uint8_t* out, int32_t n)
{
    return RAND_bytes(out, n) == 1;
}

bool OpenSslCipher::hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32])
{
    unsigned int length = 0;
    return HMAC(EVP_sha256(), key, keyLength, data, static_cast<size_t>(n), out, &length) != nullptr && length == 32;
}

bool OpenSslCipher::setKeys(const uint8_t sendKey[32], const uint8_t receiveKey[32])
{
    dropKeys();
    sealing = keyedContext(sendKey, true);
    opening = keyedContext(receiveKey, false);
    if (sealing && opening) return true;
    dropKeys();
    return false;
}

bool OpenSslCipher::seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                         const uint8_t* in, uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG])
{
    if (!sealing) return false;
    int written = 0, last = 0;
    return EVP_EncryptInit_ex(sealing, nullptr, nullptr, nullptr, nonce) == 1 &&
           EVP_EncryptUpdate(sealing, nullptr, &written, header, headerLength) == 1 &&
           EVP_EncryptUpdate(sealing, out, &written, in, n) == 1 && written == n &&
           EVP_EncryptFinal_ex(sealing, out + written, &last) == 1 && last == 0 &&
           EVP_CIPHER_CTX_ctrl(sealing, EVP_CTRL_GCM_GET_TAG, RECORD_TAG, tag) == 1;
}

bool OpenSslCipher::open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                         const uint8_t* in, uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG])
{
    if (!opening) return false;
    int written = 0, last = 0;
    // The final step fails when the tag does not match.
    return EVP_DecryptInit_ex(opening, nullptr, nullptr, nullptr, nonce) == 1 &&
           EVP_DecryptUpdate(opening, nullptr, &written, header, headerLength) == 1 &&
           EVP_DecryptUpdate(opening, out, &written, in, n) == 1 && written == n &&
           EVP_CIPHER_CTX_ctrl(opening, EVP_CTRL_GCM_SET_TAG, RECORD_TAG, const_cast<uint8_t*>(tag)) == 1 &&
           EVP_DecryptFinal_ex(opening, out + written, &last) == 1 && last == 0;
}

void OpenSslCipher::dropKeys()
{
    // Freeing a context clears its key schedule.
    EVP_CIPHER_CTX_free(sealing);
    EVP_CIPHER_CTX_free(opening);
    sealing = opening = nullptr;
}

bool stretchLinkKeyOpenSsl(const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED])
{
    return PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(key), n, reinterpret_cast<const unsigned char*>(LINK_KEY_SALT),
                             LINK_KEY_SALT_SIZE, static_cast<int>(LINK_KEY_ROUNDS), EVP_sha256(), LINK_KEY_STRETCHED,
                             out) == 1;
}
