#include "windows/link/system_cipher.h"

#include <bcrypt.h>

#include <cstring>

#include "windows/app/system_library.h"

namespace {

#ifndef STATUS_SUCCESS
constexpr NTSTATUS STATUS_SUCCESS = 0;
#endif

// bcrypt.dll, looked up once. Windows 2000 and XP have none: the program must
// still start there, so nothing of it is imported.
struct Cng {
    bool tried = false;
    bool ready = false;
    decltype(&BCryptOpenAlgorithmProvider) openProvider = nullptr;
    decltype(&BCryptSetProperty) setProperty = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptGenerateSymmetricKey) generateKey = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
    decltype(&BCryptEncrypt) encrypt = nullptr;
    decltype(&BCryptDecrypt) decrypt = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptGenRandom) genRandom = nullptr;
    decltype(&BCryptDeriveKeyPBKDF2) deriveKeyPbkdf2 = nullptr;  // Windows 7 on; none on Vista
    BCRYPT_ALG_HANDLE aes = nullptr, hmac = nullptr, rng = nullptr;
    ULONG keyObjectLength = 0, hashObjectLength = 0;
} cng;

template <typename Function>
bool lookUp(HMODULE dll, const char* name, Function* slot)
{
    *slot = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    return *slot != nullptr;
}

bool objectLength(BCRYPT_ALG_HANDLE algorithm, ULONG* length)
{
    ULONG got = 0;
    return cng.getProperty(algorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(length), sizeof *length, &got,
                           0) == STATUS_SUCCESS;
}

bool loadCng()
{
    if (cng.tried) return cng.ready;
    cng.tried = true;
    HMODULE dll = loadSystemLibrary("bcrypt.dll");
    if (!dll) return false;
    const bool found =
        lookUp(dll, "BCryptOpenAlgorithmProvider", &cng.openProvider) &&
        lookUp(dll, "BCryptSetProperty", &cng.setProperty) && lookUp(dll, "BCryptGetProperty", &cng.getProperty) &&
        lookUp(dll, "BCryptGenerateSymmetricKey", &cng.generateKey) &&
        lookUp(dll, "BCryptDestroyKey", &cng.destroyKey) && lookUp(dll, "BCryptEncrypt", &cng.encrypt) &&
        lookUp(dll, "BCryptDecrypt", &cng.decrypt) && lookUp(dll, "BCryptCreateHash", &cng.createHash) &&
        lookUp(dll, "BCryptHashData", &cng.hashData) && lookUp(dll, "BCryptFinishHash", &cng.finishHash) &&
        lookUp(dll, "BCryptDestroyHash", &cng.destroyHash) && lookUp(dll, "BCryptGenRandom", &cng.genRandom);
    if (!found) return false;
    lookUp(dll, "BCryptDeriveKeyPBKDF2", &cng.deriveKeyPbkdf2);
    // The random generator is opened by name: the system's preferred one
    // without a handle came only with Windows 7.
    cng.ready = cng.openProvider(&cng.aes, BCRYPT_AES_ALGORITHM, nullptr, 0) == STATUS_SUCCESS &&
                cng.setProperty(cng.aes, BCRYPT_CHAINING_MODE,
                                reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(BCRYPT_CHAIN_MODE_GCM)),
                                sizeof BCRYPT_CHAIN_MODE_GCM, 0) == STATUS_SUCCESS &&
                cng.openProvider(&cng.hmac, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) ==
                    STATUS_SUCCESS &&
                cng.openProvider(&cng.rng, BCRYPT_RNG_ALGORITHM, nullptr, 0) == STATUS_SUCCESS &&
                objectLength(cng.aes, &cng.keyObjectLength) && objectLength(cng.hmac, &cng.hashObjectLength);
    return cng.ready;
}

// A key or hash object's memory: Windows Vista wants the caller to give it.
uint8_t* objectMemory(ULONG n)
{
    return static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n ? n : 1));
}

void freeObject(uint8_t** object, ULONG n)
{
    if (!*object) return;
    SecureZeroMemory(*object, n);
    HeapFree(GetProcessHeap(), 0, *object);
    *object = nullptr;
}

bool makeKey(const uint8_t secret[32], void** key, uint8_t** object)
{
    *object = objectMemory(cng.keyObjectLength);
    if (!*object) return false;
    BCRYPT_KEY_HANDLE handle = nullptr;
    if (cng.generateKey(cng.aes, &handle, *object, cng.keyObjectLength, const_cast<PUCHAR>(secret), 32, 0) !=
        STATUS_SUCCESS) {
        freeObject(object, cng.keyObjectLength);
        return false;
    }
    *key = handle;
    return true;
}

void gcmInfo(BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO* info, const uint8_t* nonce, const uint8_t* header,
             int32_t headerLength, const uint8_t* tag)
{
    std::memset(info, 0, sizeof *info);
    info->cbSize = sizeof *info;
    info->dwInfoVersion = BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO_VERSION;
    info->pbNonce = const_cast<PUCHAR>(nonce);
    info->cbNonce = RECORD_NONCE;
    info->pbAuthData = const_cast<PUCHAR>(header);
    info->cbAuthData = static_cast<ULONG>(headerLength);
    info->pbTag = const_cast<PUCHAR>(tag);
    info->cbTag = RECORD_TAG;
}

}  // namespace

bool systemCryptoAvailable()
{
    return loadCng();
}

bool stretchLinkKey(const uint8_t* key, int32_t n, uint8_t out[LINK_KEY_STRETCHED])
{
    if (!loadCng()) return false;
    if (!cng.deriveKeyPbkdf2) {
        SystemCipher cipher;  // Vista: the same PBKDF2 over the system's HMAC
        return linkStretchKey(&cipher, key, n, out);
    }
    return cng.deriveKeyPbkdf2(cng.hmac, const_cast<PUCHAR>(key), static_cast<ULONG>(n),
                               reinterpret_cast<PUCHAR>(const_cast<char*>(LINK_KEY_SALT)), LINK_KEY_SALT_SIZE,
                               LINK_KEY_ROUNDS, out, LINK_KEY_STRETCHED, 0) == STATUS_SUCCESS;
}

bool SystemCipher::random(uint8_t* out, int32_t n)
{
    return loadCng() && cng.genRandom(cng.rng, out, static_cast<ULONG>(n), 0) == STATUS_SUCCESS;
}

bool SystemCipher::hmac(const uint8_t* key, int32_t keyLength, const uint8_t* data, int32_t n, uint8_t out[32])
{
    if (!loadCng()) return false;
    uint8_t* object = objectMemory(cng.hashObjectLength);
    if (!object) return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool done = cng.createHash(cng.hmac, &hash, object, cng.hashObjectLength, const_cast<PUCHAR>(key),
                               static_cast<ULONG>(keyLength), 0) == STATUS_SUCCESS;
    if (done) {
        done = cng.hashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(n), 0) == STATUS_SUCCESS &&
               cng.finishHash(hash, out, 32, 0) == STATUS_SUCCESS;
        cng.destroyHash(hash);
    }
    freeObject(&object, cng.hashObjectLength);
    return done;
}

bool SystemCipher::setKeys(const uint8_t sendSecret[32], const uint8_t receiveSecret[32])
{
    dropKeys();
    if (!loadCng()) return false;
    if (makeKey(sendSecret, &sendKey, &sendObject) && makeKey(receiveSecret, &receiveKey, &receiveObject)) return true;
    dropKeys();
    return false;
}

bool SystemCipher::seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                        const uint8_t* in, uint8_t* out, int32_t n, uint8_t tag[RECORD_TAG])
{
    if (!sendKey) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    gcmInfo(&info, nonce, header, headerLength, tag);
    ULONG written = 0;
    return cng.encrypt(static_cast<BCRYPT_KEY_HANDLE>(sendKey), const_cast<PUCHAR>(in), static_cast<ULONG>(n), &info,
                       nullptr, 0, out, static_cast<ULONG>(n), &written, 0) == STATUS_SUCCESS &&
           written == static_cast<ULONG>(n);
}

bool SystemCipher::open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength,
                        const uint8_t* in, uint8_t* out, int32_t n, const uint8_t tag[RECORD_TAG])
{
    if (!receiveKey) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    gcmInfo(&info, nonce, header, headerLength, tag);
    ULONG written = 0;
    // A tag that does not match gives STATUS_AUTH_TAG_MISMATCH.
    return cng.decrypt(static_cast<BCRYPT_KEY_HANDLE>(receiveKey), const_cast<PUCHAR>(in), static_cast<ULONG>(n),
                       &info, nullptr, 0, out, static_cast<ULONG>(n), &written, 0) == STATUS_SUCCESS &&
           written == static_cast<ULONG>(n);
}

void SystemCipher::dropKeys()
{
    if (sendKey) cng.destroyKey(static_cast<BCRYPT_KEY_HANDLE>(sendKey));
    if (receiveKey) cng.destroyKey(static_cast<BCRYPT_KEY_HANDLE>(receiveKey));
    sendKey = receiveKey = nullptr;
    freeObject(&sendObject, cng.keyObjectLength);
    freeObject(&receiveObject, cng.keyObjectLength);
}
