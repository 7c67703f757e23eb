// The value cipher: published Blowfish vectors, agreement with an independent
// implementation, the digit rule, short hex texts and the cleared state.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/cipher.h"

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  return hex;
}

// Standard (big-endian) Blowfish bytes B0..B7 are this cipher's bytes
// B3 B2 B1 B0 B7 B6 B5 B4: each 4-byte half reversed.
std::string SwapHalves(const std::string& block) {
  std::string out = block;
  for (std::size_t i = 0; i + 4 <= out.size(); i += 4) {
    std::swap(out[i], out[i + 3]);
    std::swap(out[i + 1], out[i + 2]);
  }
  return out;
}

bool StateIsZero() {
  for (std::uint32_t word : config::CipherState) {
    if (word != 0) return false;
  }
  return true;
}

void FillState() {
  for (std::uint32_t& word : config::CipherState) word = 0xA5A5A5A5u;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Eric Young's ECB test vectors, then his variable-key vectors (keys of 1 to
// 9 bytes, the lengths around the configuration key's 7).
const Vector kVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
    {"F0", "FEDCBA9876543210", "F9AD597C49DB005E"},
    {"F0E1", "FEDCBA9876543210", "E91D21C1D961A6D6"},
    {"F0E1D2", "FEDCBA9876543210", "E9C2B70A1BC65CF3"},
    {"F0E1D2C3", "FEDCBA9876543210", "BE1E639408640F05"},
    {"F0E1D2C3B4", "FEDCBA9876543210", "B39E44481BDB1E6E"},
    {"F0E1D2C3B4A5", "FEDCBA9876543210", "9457AA83B1928C0D"},
    {"F0E1D2C3B4A596", "FEDCBA9876543210", "8BB77032F960629D"},
    {"F0E1D2C3B4A59687", "FEDCBA9876543210", "E87A244E2CC85E82"},
    {"F0E1D2C3B4A5968778", "FEDCBA9876543210", "15750E7A4F4EC577"},
};

TEST(CipherTest, PublishedVectorsWithLittleEndianHalves) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(std::string("key ") + v.key + " plain " + v.plain);
    std::string key = FromHex(v.key);
    std::string plain = SwapHalves(FromHex(v.plain));
    std::string cipher = ToHex(SwapHalves(FromHex(v.cipher)));
    EXPECT_EQ(config::EncryptHex(plain, key), cipher);
    EXPECT_EQ(config::DecryptHex(cipher, key), plain);
  }
}

TEST(CipherTest, StandardByteOrderWouldBeWrong) {
  // The halves are little-endian: feeding the vector's bytes unswapped must
  // not give the vector's cipher text.
  std::string key = FromHex("FEDCBA9876543210");
  EXPECT_NE(config::EncryptHex(FromHex("0123456789ABCDEF"), key), "0ACEAB0FC6A0A28D");
}

// Runs /usr/bin/python3 with pycryptodome as an independent Blowfish; returns
// false when either is missing.
bool PythonEncrypt(const std::vector<std::string>& texts, std::vector<std::string>& out) {
  const char* python = "/usr/bin/python3";
  if (access(python, X_OK) != 0) return false;
  char dir[] = "/tmp/kranzel_cipher_XXXXXX";
  if (mkdtemp(dir) == nullptr) return false;
  std::string script = std::string(dir) + "/bf.py";
  {
    std::ofstream f(script);
    f << "import sys\n"
         "try:\n"
         "    from Cryptodome.Cipher import Blowfish\n"
         "except ImportError:\n"
         "    print('SKIP'); sys.exit(0)\n"
         "c = Blowfish.new(b'QUENTAR', Blowfish.MODE_ECB)\n"
         "sw = lambda b: b''.join(b[i:i+4][::-1] for i in range(0, len(b), 4))\n"
         "for a in sys.argv[1:]:\n"
         "    p = bytes.fromhex(a[1:])\n"
         "    p += bytes(-len(p) % 8)\n"
         "    print('=' + sw(c.encrypt(sw(p))).hex().upper())\n";
  }
  std::string command = std::string(python) + " " + script;
  for (const std::string& t : texts) command += " =" + ToHex(t);
  std::FILE* p = popen(command.c_str(), "r");
  std::string text;
  if (p != nullptr) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    pclose(p);
  }
  std::remove(script.c_str());
  rmdir(dir);
  if (text.rfind("SKIP", 0) == 0 || text.empty()) return false;
  out.clear();
  std::size_t from = 0;
  while (from < text.size()) {
    std::size_t lf = text.find('\n', from);
    if (lf == std::string::npos) lf = text.size();
    out.push_back(text.substr(from + 1, lf - from - 1));  // drop the '='
    from = lf + 1;
  }
  return true;
}

TEST(CipherTest, AgreesWithIndependentBlowfish) {
  // Lengths 0, 1, 7, 8, 9 and 16, and bytes with the high bit set (the key
  // and the text are taken unsigned).
  const std::vector<std::string> texts = {
      "", "k", "kranzel", "geheim12", "geheim123", "0123456789abcdef", "P\xE4\xDFw\xF6rt\xFF!"};
  std::vector<std::string> expected;
  if (!PythonEncrypt(texts, expected)) {
    GTEST_SKIP() << "/usr/bin/python3 with Cryptodome (python3-pycryptodome) is missing";
  }
  ASSERT_EQ(expected.size(), texts.size());
  for (std::size_t i = 0; i < texts.size(); ++i) {
    SCOPED_TRACE("text of " + std::to_string(texts[i].size()) + " bytes");
    EXPECT_EQ(config::EncryptHex(texts[i], config::kIniKey), expected[i]);
    EXPECT_EQ(config::PlainText(config::DecryptHex(expected[i], config::kIniKey)), texts[i]);
  }
}

TEST(CipherTest, RoundTripAndLengths) {
  for (std::size_t length : {0u, 1u, 7u, 8u, 9u, 16u, 96u}) {
    std::string plain;
    for (std::size_t i = 0; i < length; ++i) plain.push_back(static_cast<char>('a' + i % 26));
    std::string hex = config::EncryptHex(plain, config::kIniKey);
    EXPECT_EQ(hex.size(), (length + 7) / 8 * 16) << length;
    std::string decrypted = config::DecryptHex(hex, config::kIniKey);
    EXPECT_EQ(decrypted.size(), hex.size() / 2);
    EXPECT_EQ(config::PlainText(decrypted), plain) << length;
  }
  // Nine characters: the second block is padded with seven zero bytes.
  std::string nine =
      config::DecryptHex(config::EncryptHex("123456789", config::kIniKey), config::kIniKey);
  EXPECT_EQ(nine, std::string("123456789") + std::string(7, '\0'));
  // Eight characters get no block of padding.
  EXPECT_EQ(config::EncryptHex("12345678", config::kIniKey).size(), 16u);
  EXPECT_EQ(config::DecryptHex("", config::kIniKey), "");
  EXPECT_EQ(config::EncryptHex("", config::kIniKey), "");
}

TEST(CipherTest, WrongKeyDoesNotDecrypt) {
  std::string hex = config::EncryptHex("geheim", config::kIniKey);
  EXPECT_NE(config::PlainText(config::DecryptHex(hex, "QUENTAS")), "geheim");
  EXPECT_NE(config::PlainText(config::DecryptHex(hex, "QUENTA")),
            "geheim");  // every key byte counts
}

TEST(CipherTest, StateClearedAfterEveryOperation) {
  FillState();
  config::EncryptHex("geheim", config::kIniKey);
  EXPECT_TRUE(StateIsZero());
  FillState();
  config::DecryptHex("0123456789ABCDEF0123", config::kIniKey);
  EXPECT_TRUE(StateIsZero());
  FillState();
  config::DecryptHex("", config::kIniKey);
  EXPECT_TRUE(StateIsZero());
  FillState();
  config::EncryptHex("", "");
  EXPECT_TRUE(StateIsZero());
}

TEST(CipherTest, LowerCaseHexDoesNotDecrypt) {
  std::string hex = config::EncryptHex("kranzel-login", config::kIniKey);
  std::string lower = hex;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(lower, hex) << "test value has no letters";
  EXPECT_NE(config::PlainText(config::DecryptHex(lower, config::kIniKey)), "kranzel-login");
}

TEST(CipherTest, DigitRuleDecodesOtherCharactersByCodeMinus48) {
  // 'a' is 49: "aa" = 16*49+49 = 833 mod 256 = 0x41; "0G" = 71-48 = 0x17;
  // "0 " = 32-48 = -16 mod 256 = 0xF0; a byte 0xE9 as low digit = 0xB9 (the
  // same whether the platform's char is signed or not).
  const std::string tail = "00000000000000";
  EXPECT_EQ(config::DecryptHex("aa" + tail, config::kIniKey),
            config::DecryptHex("41" + tail, config::kIniKey));
  EXPECT_EQ(config::DecryptHex("0a" + tail, config::kIniKey),
            config::DecryptHex("31" + tail, config::kIniKey));
  EXPECT_EQ(config::DecryptHex("0G" + tail, config::kIniKey),
            config::DecryptHex("17" + tail, config::kIniKey));
  EXPECT_EQ(config::DecryptHex("0 " + tail, config::kIniKey),
            config::DecryptHex("F0" + tail, config::kIniKey));
  EXPECT_EQ(config::DecryptHex("0\xE9" + tail, config::kIniKey),
            config::DecryptHex("B9" + tail, config::kIniKey));
}

TEST(CipherTest, ShortLastGroupReadsMissingDigitsAsZero) {
  // A hex text cut anywhere decrypts as if padded with '0' digits: the
  // reader neither reads its terminator nor beyond it. The texts are heap
  // strings of exactly their length, so a read beyond shows under ASan.
  std::string full = config::EncryptHex("abcdefghijklmnopq", config::kIniKey);  // 48 digits
  for (std::size_t length = 1; length < full.size(); ++length) {
    if (length % 16 == 0) continue;
    std::string cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
    cut.shrink_to_fit();
    std::string padded = cut + std::string(16 - length % 16, '0');
    std::string decrypted = config::DecryptHex(cut, config::kIniKey);
    EXPECT_EQ(decrypted.size(), (length + 15) / 16 * 8) << length;
    EXPECT_EQ(decrypted, config::DecryptHex(padded, config::kIniKey)) << length;
  }
}

TEST(CipherTest, PlainTextEndsAtFirstZeroByte) {
  EXPECT_EQ(config::PlainText(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(config::PlainText("abc"), "abc");
  EXPECT_EQ(config::PlainText(std::string(8, '\0')), "");
}

}  // namespace
