// The value cipher of the configuration file: Blowfish in electronic code
// book mode over one process-wide state, blocks carried as hexadecimal text.
//
// The state holds the key schedule only while an operation runs; every
// operation ends by clearing all 4168 bytes, through volatile stores the
// compiler must keep, so no key material outlives a call.
#include "config/cipher.h"

#include <cstddef>
#include <cstring>

#include "config/cipher_tables.h"

namespace config {

std::uint32_t CipherState[kCipherStateWords];

namespace {

constexpr int kRounds = 16;
constexpr int kPWords = kRounds + 2;  // P[0] .. P[17]
constexpr int kSBoxWords = 256;

std::uint32_t* P() { return CipherState; }
std::uint32_t* S(int box) {
  return CipherState + kPWords + static_cast<std::ptrdiff_t>(box) * kSBoxWords;
}

std::uint32_t F(std::uint32_t x) {
  const std::uint32_t* s0 = S(0);
  const std::uint32_t* s1 = S(1);
  const std::uint32_t* s2 = S(2);
  const std::uint32_t* s3 = S(3);
  return ((s0[x >> 24] + s1[(x >> 16) & 0xFF]) ^ s2[(x >> 8) & 0xFF]) + s3[x & 0xFF];
}

void EncryptBlock(std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t l = left;
  std::uint32_t r = right;
  const std::uint32_t* p = P();
  for (int i = 0; i < kRounds; ++i) {
    l ^= p[i];
    r ^= F(l);
    std::uint32_t t = l;
    l = r;
    r = t;
  }
  std::uint32_t t = l;
  l = r;
  r = t;
  r ^= p[kRounds];
  l ^= p[kRounds + 1];
  left = l;
  right = r;
}

void DecryptBlock(std::uint32_t& left, std::uint32_t& right) {
  std::uint32_t l = left;
  std::uint32_t r = right;
  const std::uint32_t* p = P();
  for (int i = kRounds + 1; i > 1; --i) {
    l ^= p[i];
    r ^= F(l);
    std::uint32_t t = l;
    l = r;
    r = t;
  }
  std::uint32_t t = l;
  l = r;
  r = t;
  r ^= p[1];
  l ^= p[0];
  left = l;
  right = r;
}

// Sets the state up from the key. Every byte of `key` is key material, taken
// unsigned and cyclically. An empty key contributes nothing (all-zero key
// words) rather than cycling through no bytes at all.
void SetUp(const std::string& key) {
  for (int box = 0; box < 4; ++box) {
    std::memcpy(S(box), cipher::kInitialS[box], sizeof cipher::kInitialS[box]);
  }
  std::size_t k = 0;
  for (int i = 0; i < kPWords; ++i) {
    std::uint32_t word = 0;
    for (int b = 0; b < 4; ++b) {
      std::uint32_t byte = 0;
      if (!key.empty()) {
        byte = static_cast<unsigned char>(key[k]);
        k = (k + 1) % key.size();
      }
      word = (word << 8) | byte;
    }
    P()[i] = cipher::kInitialP[i] ^ word;
  }
  std::uint32_t l = 0;
  std::uint32_t r = 0;
  for (int i = 0; i < kPWords; i += 2) {
    EncryptBlock(l, r);
    P()[i] = l;
    P()[i + 1] = r;
  }
  for (int box = 0; box < 4; ++box) {
    for (int i = 0; i < kSBoxWords; i += 2) {
      EncryptBlock(l, r);
      S(box)[i] = l;
      S(box)[i + 1] = r;
    }
  }
}

// Clears the whole state through volatile stores, which the compiler may not
// drop even though nothing reads the state afterwards.
void Clear() {
  volatile std::uint32_t* state = CipherState;
  for (int i = 0; i < kCipherStateWords; ++i) state[i] = 0;
}

// Holds the state for the length of one operation and clears it on every
// way out.
class StateScope {
 public:
  explicit StateScope(const std::string& key) { SetUp(key); }
  ~StateScope() { Clear(); }
  StateScope(const StateScope&) = delete;
  StateScope& operator=(const StateScope&) = delete;
};

// Eight bytes -> the halves: bytes 0-3 little-endian left, 4-7 right.
void LoadHalves(const unsigned char* block, std::uint32_t& left, std::uint32_t& right) {
  left = static_cast<std::uint32_t>(block[0]) | static_cast<std::uint32_t>(block[1]) << 8 |
         static_cast<std::uint32_t>(block[2]) << 16 | static_cast<std::uint32_t>(block[3]) << 24;
  right = static_cast<std::uint32_t>(block[4]) | static_cast<std::uint32_t>(block[5]) << 8 |
          static_cast<std::uint32_t>(block[6]) << 16 | static_cast<std::uint32_t>(block[7]) << 24;
}

void StoreHalves(std::uint32_t left, std::uint32_t right, unsigned char* block) {
  for (int i = 0; i < 4; ++i) {
    block[i] = static_cast<unsigned char>(left >> (8 * i));
    block[4 + i] = static_cast<unsigned char>(right >> (8 * i));
  }
}

// The value of one digit as the stored values are decoded: only 'A'-'F'
// count as letters; every other character is taken as code minus '0', so a
// lower-case letter gives a different (wrong) value. Only the value modulo
// 16 matters once a byte is formed modulo 256.
unsigned DigitValue(char c) {
  unsigned code = static_cast<unsigned char>(c);
  if (c >= 'A' && c <= 'F') return code - 55u;
  return code - 48u;
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string DecryptHex(const std::string& hex, const std::string& key) {
  StateScope scope(key);
  std::string out;
  out.reserve((hex.size() + 15) / 16 * 8);
  for (std::size_t pos = 0; pos < hex.size(); pos += 16) {
    unsigned char block[8];
    for (std::size_t i = 0; i < 8; ++i) {
      // A short last group reads its missing digits as '0', never past the text.
      std::size_t at = pos + 2 * i;
      char high = at < hex.size() ? hex[at] : '0';
      char low = at + 1 < hex.size() ? hex[at + 1] : '0';
      block[i] = static_cast<unsigned char>((16u * DigitValue(high) + DigitValue(low)) & 0xFFu);
    }
    std::uint32_t left, right;
    LoadHalves(block, left, right);
    DecryptBlock(left, right);
    StoreHalves(left, right, block);
    out.append(reinterpret_cast<const char*>(block), 8);
  }
  return out;
}

std::string EncryptHex(const std::string& plain, const std::string& key) {
  StateScope scope(key);
  std::string out;
  out.reserve((plain.size() + 7) / 8 * 16);
  for (std::size_t pos = 0; pos < plain.size(); pos += 8) {
    unsigned char block[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    for (std::size_t i = 0; i < 8 && pos + i < plain.size(); ++i) {
      block[i] = static_cast<unsigned char>(plain[pos + i]);
    }
    std::uint32_t left, right;
    LoadHalves(block, left, right);
    EncryptBlock(left, right);
    StoreHalves(left, right, block);
    for (unsigned char b : block) {
      out.push_back(kHexDigits[b >> 4]);
      out.push_back(kHexDigits[b & 0x0F]);
    }
  }
  return out;
}

std::string PlainText(const std::string& decrypted) {
  return decrypted.substr(0, decrypted.find('\0'));
}

}  // namespace config
