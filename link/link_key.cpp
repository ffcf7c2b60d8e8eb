#include "link/link_key.h"

#include <bcrypt.h>

#include <cstring>

namespace {

// ---------------------------------------------------------------- the system's cipher

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
    HMODULE dll = LoadLibraryA("bcrypt.dll");
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

// ---------------------------------------------------------------- the two connections

struct Channel {
    SOCKET socket = 0;
    bool keyed = false;       // this connection began with a handshake
    bool held = false;        // proven, and reading waits until the link is up
    SystemCipher cipher;
    LinkSession session;
    // What one receive brought and the session has not taken yet.
    uint8_t raw[64 * 1024];
    int32_t rawBegin = 0, rawEnd = 0;
};

Channel channels[2];

const UINT DEADLINE_TIMERS[2] = {TIMER_HANDSHAKE_CONTROL, TIMER_HANDSHAKE_CLIPBOARD};

uint8_t linkKey[LINK_KEY_MAX];
int32_t linkKeyLength = 0;

// The notice is shown once per start, not at every try of a partner that
// keeps failing.
bool noticeGiven = false;

bool validChannel(int channel)
{
    return channel == LINK_CONTROL || channel == LINK_CLIPBOARD;
}

// Ends the connection as a close would; a handshake that failed tells the
// user, once, that the partner did not prove the key.
void refuse(int channel)
{
    Channel& ch = channels[channel];
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    const LinkFailure why = ch.session.failure;
    const bool handshake = why == LinkFailure::Greeting || why == LinkFailure::Proof || why == LinkFailure::None;
    if (handshake && !noticeGiven) {
        noticeGiven = true;
        PostMessageA(app.mainWindow, WM_LINK_KEY_NOTICE, 0, 0);
    }
    PostMessageA(app.mainWindow, WM_LINK_REFUSED, ch.socket, channel);
}

// Writes what the session has waiting; false on a failure other than a full
// socket, with the error left for WSAGetLastError.
bool flush(Channel& ch)
{
    while (linkOutputLength(ch.session) > 0) {
        const int n = send(ch.socket, reinterpret_cast<const char*>(linkOutput(ch.session)),
                           linkOutputLength(ch.session), 0);
        if (n == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            WSASetLastError(error);
            return error == WSAEWOULDBLOCK;
        }
        linkOutputTaken(ch.session, n);
    }
    return true;
}

int wouldBlock()
{
    WSASetLastError(WSAEWOULDBLOCK);
    return SOCKET_ERROR;
}

}  // namespace

// ---------------------------------------------------------------- SystemCipher

bool systemCryptoAvailable()
{
    return loadCng();
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

bool SystemCipher::seal(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, uint8_t* data,
                        int32_t n, uint8_t tag[RECORD_TAG])
{
    if (!sendKey) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    gcmInfo(&info, nonce, header, headerLength, tag);
    ULONG written = 0;
    return cng.encrypt(static_cast<BCRYPT_KEY_HANDLE>(sendKey), data, static_cast<ULONG>(n), &info, nullptr, 0, data,
                       static_cast<ULONG>(n), &written, 0) == STATUS_SUCCESS &&
           written == static_cast<ULONG>(n);
}

bool SystemCipher::open(const uint8_t nonce[RECORD_NONCE], const uint8_t* header, int32_t headerLength, uint8_t* data,
                        int32_t n, const uint8_t tag[RECORD_TAG])
{
    if (!receiveKey) return false;
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    gcmInfo(&info, nonce, header, headerLength, tag);
    ULONG written = 0;
    // A tag that does not match gives STATUS_AUTH_TAG_MISMATCH.
    return cng.decrypt(static_cast<BCRYPT_KEY_HANDLE>(receiveKey), data, static_cast<ULONG>(n), &info, nullptr, 0,
                       data, static_cast<ULONG>(n), &written, 0) == STATUS_SUCCESS &&
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

// ---------------------------------------------------------------- the record layers

void setLinkKey(const uint8_t* key, int32_t n)
{
    SecureZeroMemory(linkKey, sizeof linkKey);
    linkKeyLength = n < LINK_KEY_MAX ? n : LINK_KEY_MAX;
    if (linkKeyLength > 0) std::memcpy(linkKey, key, linkKeyLength);
}

bool haveLinkKey()
{
    return linkKeyLength > 0;
}

bool linkKeyed(int channel, SOCKET socket)
{
    return validChannel(channel) && channels[channel].keyed && channels[channel].socket == socket;
}

bool linkProtectedNow()
{
    const Channel& ch = channels[LINK_CONTROL];
    return ch.keyed && ch.socket != 0 && ch.socket == app.controlSocket && ch.session.state == LinkState::Proven;
}

bool linkBegin(int channel, SOCKET socket, LinkRole role)
{
    if (!validChannel(channel)) return true;
    Channel& ch = channels[channel];
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    linkReset(ch.session);
    ch.socket = socket;
    ch.held = false;
    ch.rawBegin = ch.rawEnd = 0;
    ch.keyed = haveLinkKey();
    if (!ch.keyed) return true;
    // A PC with a key never falls back to the plain wire: without the
    // system's cipher the connection is refused.
    if (!systemCryptoAvailable() || !linkStart(ch.session, &ch.cipher, role, linkKey, linkKeyLength)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(channel);
        return false;
    }
    SetTimer(app.mainWindow, DEADLINE_TIMERS[channel], HANDSHAKE_DEADLINE_MS, nullptr);
    if (!flush(ch)) {
        ch.session.state = LinkState::Failed;
        ch.session.failure = LinkFailure::Cipher;
        refuse(channel);
    }
    return false;
}

void linkEnd(int channel, SOCKET socket)
{
    if (!validChannel(channel)) return;
    Channel& ch = channels[channel];
    if (ch.socket != socket) return;
    KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
    linkReset(ch.session);
    ch.socket = 0;
    ch.keyed = false;
    ch.held = false;
    ch.rawBegin = ch.rawEnd = 0;
}

void linkResume(int channel)
{
    if (validChannel(channel)) channels[channel].held = false;
}

int linkRecv(int channel, SOCKET socket, char* buffer, int room)
{
    Channel& ch = channels[channel];
    if (ch.socket != socket) {
        // With a key, nothing is read in the clear from a socket that began no session.
        if (haveLinkKey() || ch.keyed) return wouldBlock();
        return recv(socket, buffer, room, 0);
    }
    if (!ch.keyed) return recv(socket, buffer, room, 0);
    int copied = 0;
    bool received = false;
    while (copied < room && ch.session.state != LinkState::Failed) {
        const int32_t plain = linkPlainLength(ch.session);
        if (plain > 0) {
            const int32_t step = plain < room - copied ? plain : room - copied;
            std::memcpy(buffer + copied, linkPlain(ch.session), step);
            linkPlainTaken(ch.session, step);
            copied += step;
            continue;
        }
        if (ch.held) break;
        if (ch.rawBegin == ch.rawEnd) {
            if (received) break;
            const int n = recv(socket, reinterpret_cast<char*>(ch.raw), sizeof ch.raw, 0);
            if (n <= 0) {
                if (copied > 0) break;  // the close or the error is seen at the next read
                return n;
            }
            received = true;
            ch.rawBegin = 0;
            ch.rawEnd = n;
        }
        LinkEvent event = LinkEvent::None;
        ch.rawBegin += linkFeed(ch.session, ch.raw + ch.rawBegin, ch.rawEnd - ch.rawBegin, &event);
        if (event == LinkEvent::Failed || (ch.session.state != LinkState::Failed && !flush(ch))) {
            if (ch.session.state != LinkState::Failed) {
                ch.session.state = LinkState::Failed;
                ch.session.failure = LinkFailure::Cipher;
            }
            refuse(channel);
            break;
        }
        if (event == LinkEvent::Proven) {
            // The link comes up first; what followed the proof is read after.
            KillTimer(app.mainWindow, DEADLINE_TIMERS[channel]);
            ch.held = true;
            PostMessageA(app.mainWindow, WM_LINK_PROVEN, socket, channel);
        }
    }
    if (copied == 0) return wouldBlock();
    return copied;
}

int linkSend(int channel, SOCKET socket, const char* data, int n)
{
    Channel& ch = channels[channel];
    const bool plain = ch.socket == socket ? !ch.keyed : !haveLinkKey() && !ch.keyed;
    if (plain) return send(socket, data, n, 0);
    if (ch.socket != socket || ch.session.state == LinkState::Failed) {
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (ch.session.state != LinkState::Proven) return wouldBlock();
    const int32_t sealed = linkSeal(ch.session, reinterpret_cast<const uint8_t*>(data), n);
    if (sealed < 0) {
        refuse(channel);
        WSASetLastError(WSAENOTCONN);
        return SOCKET_ERROR;
    }
    if (!flush(ch)) return SOCKET_ERROR;
    if (sealed == 0) return wouldBlock();
    return sealed;
}

int linkWaiting(int channel, SOCKET socket, u_long* waiting)
{
    const int result = ioctlsocket(socket, FIONREAD, waiting);
    const Channel& ch = channels[channel];
    if (result == 0 && ch.keyed && ch.socket == socket && ch.session.state != LinkState::Failed)
        *waiting += static_cast<u_long>(linkPlainLength(ch.session) + (ch.rawEnd - ch.rawBegin));
    return result;
}

void linkFlush(int channel, SOCKET socket)
{
    if (!validChannel(channel)) return;
    Channel& ch = channels[channel];
    if (!ch.keyed || ch.socket != socket || ch.session.state == LinkState::Failed) return;
    // A failed write ends the connection: its close follows.
    flush(ch);
}

void onHandshakeTimer(HWND window, UINT_PTR id)
{
    KillTimer(window, id);
    const int channel = id == TIMER_HANDSHAKE_CONTROL ? LINK_CONTROL : LINK_CLIPBOARD;
    Channel& ch = channels[channel];
    if (!ch.keyed || ch.session.state == LinkState::Proven || ch.session.state == LinkState::Failed) return;
    // The partner is as good as a stranger: it said nothing that proves the key.
    linkReset(ch.session);
    ch.session.state = LinkState::Failed;
    refuse(channel);
}

void showLinkKeyNotice(HWND window)
{
    (void)window;
    MessageBoxA(nullptr,
                "The partner did not prove the link key, so Skiprail does not link with it.\n\n"
                "Both PCs need the same key: open \"Link Key...\" from the tray menu on each "
                "and type the same key, or clear it on both.",
                "Skiprail", MB_OK | MB_ICONWARNING);
}
