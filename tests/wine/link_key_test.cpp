// The protected link's Windows half under Wine: the system's cipher as the
// record layer uses it, and the key's store.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "windows/link/link_key.h"
#include "windows/link/system_cipher.h"
#include "settings/key_text.h"
#include "windows/settings/link_key_dialog.h"
#include "windows/settings/settings.h"

namespace {

std::string hex(const uint8_t* bytes, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

TEST(SystemCipher, GivesHmacSha256AndAes256GcmAsPublished)
{
    ASSERT_TRUE(systemCryptoAvailable());
    SystemCipher cipher;
    // HMAC-SHA256, RFC 4231 test case 2.
    uint8_t mac[32];
    const char data[] = "what do ya want for nothing?";
    ASSERT_TRUE(cipher.hmac(reinterpret_cast<const uint8_t*>("Jefe"), 4, reinterpret_cast<const uint8_t*>(data),
                            sizeof data - 1, mac));
    EXPECT_EQ(hex(mac, 32), "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");

    // AES-256-GCM, zero key and nonce, one zero block (the GCM paper's test
    // case 14), sealed in place; then opened again, and refused once a bit
    // of the tag or of the authenticated header is flipped.
    const uint8_t zero[32] = {};
    ASSERT_TRUE(cipher.setKeys(zero, zero));
    uint8_t nonce[RECORD_NONCE] = {};
    uint8_t block[16] = {};
    uint8_t tag[RECORD_TAG];
    uint8_t header[4] = {16, 0, 0, 0};
    ASSERT_TRUE(cipher.seal(nonce, header, 0, block, block, 16, tag));
    EXPECT_EQ(hex(block, 16), "cea7403d4d606b6e074ec5d3baf39d18");
    EXPECT_EQ(hex(tag, 16), "d0d1c8a799996bf0265b98b5d48ab919");

    const uint8_t plain[16] = {1, 2, 3};
    ASSERT_TRUE(cipher.seal(nonce, header, 4, plain, block, 16, tag));
    uint8_t copy[16];
    ASSERT_TRUE(cipher.open(nonce, header, 4, block, copy, 16, tag));
    EXPECT_EQ(std::memcmp(copy, plain, 16), 0);
    tag[15] ^= 1;
    EXPECT_FALSE(cipher.open(nonce, header, 4, block, copy, 16, tag));
    tag[15] ^= 1;
    header[1] ^= 0x80;
    EXPECT_FALSE(cipher.open(nonce, header, 4, block, copy, 16, tag));

    // Fresh random bytes each time.
    uint8_t a[32], b[32];
    ASSERT_TRUE(cipher.random(a, 32) && cipher.random(b, 32));
    EXPECT_NE(std::memcmp(a, b, 32), 0);
}

// The key as the handshake takes it: PBKDF2-HMAC-SHA256 of the typed key
// with the program's salt and count, as an independent implementation
// (Python's hashlib.pbkdf2_hmac) gives it; the same on Vista's path (the
// record layer's PBKDF2 over the system's HMAC).
TEST(LinkKeyStretch, BothEndsDeriveThePublishedStretchOfTheTypedKey)
{
    const char* expected = "5c407b3d1f20a0e77520893f7530853b9bf7f3eb0372e5e9018343ad4bb6a838";
    uint8_t typed[LINK_KEY_MAX];
    const int32_t n = normalizeLinkKey("K7QF-2MXD-9PZR-4TWA-3HNB-6YCE", typed, sizeof typed);
    uint8_t stretched[LINK_KEY_STRETCHED], vista[LINK_KEY_STRETCHED];
    ASSERT_TRUE(stretchLinkKey(typed, n, stretched));
    EXPECT_EQ(hex(stretched, 32), expected);
    EXPECT_NE(std::memcmp(stretched, typed, 24), 0);  // not the typed key as it was
    SystemCipher cipher;
    ASSERT_TRUE(linkStretchKey(&cipher, typed, n, vista));
    EXPECT_EQ(hex(vista, 32), expected);
}

TEST(LinkKeyStore, KeepsTheKeyProtectedUnderTheUsersSettingsKey)
{
    const char typed[] = "K7QF-2MXD-9PZR-4TWA-3HNB-6YCE";
    ASSERT_TRUE(storeLinkKey(typed));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, KEY_READ, &key), ERROR_SUCCESS);
    BYTE raw[4096];
    DWORD size = sizeof raw;
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExA(key, "SRLinkKey", nullptr, &type, raw, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    const std::string stored(reinterpret_cast<const char*>(raw), size);
    EXPECT_EQ(stored.find("K7QF"), std::string::npos);
    EXPECT_EQ(stored.find("2MXD"), std::string::npos);

    char back[128];
    ASSERT_TRUE(readStoredLinkKey(back, sizeof back));
    EXPECT_STREQ(back, typed);
    loadLinkKey();
    EXPECT_TRUE(haveLinkKey());

    ASSERT_TRUE(storeLinkKey(""));
    EXPECT_FALSE(readStoredLinkKey(back, sizeof back));
    loadLinkKey();
    EXPECT_FALSE(haveLinkKey());
}

}  // namespace
