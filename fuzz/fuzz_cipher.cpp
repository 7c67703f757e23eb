// Fuzz target: DecryptHex on arbitrary text. The first input byte gives the
// length of a key taken from the bytes after it (0 means the configuration
// file's key); the rest is the "hexadecimal" text.
//
// Checked: 8 plain bytes per started group of 16 characters; the cipher
// state is all zero afterwards; encrypting the plain bytes again gives the
// text as the digit rule read it (a short last group completed with '0'),
// so no character was read from outside the text and none was skipped.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/cipher.h"
#include "fuzz_file.h"

namespace {

int DigitValue(char c) { return c >= 'A' && c <= 'F' ? c - 55 : c - 48; }

// The text as DecryptHex reads it, in canonical upper-case hexadecimal.
std::string Canonical(const std::string& hex) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string padded = hex;
  padded.resize((hex.size() + 15) / 16 * 16, '0');
  std::string out;
  for (std::size_t i = 0; i < padded.size(); i += 2) {
    unsigned byte =
        static_cast<unsigned>(16 * DigitValue(padded[i]) + DigitValue(padded[i + 1])) & 0xFFu;
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t keyLength = data[0] % 57;  // Blowfish keys reach 56 bytes
  if (keyLength + 1 > size) return 0;
  std::string key = keyLength == 0
                        ? std::string(config::kIniKey)
                        : std::string(reinterpret_cast<const char*>(data + 1), keyLength);
  std::string hex(reinterpret_cast<const char*>(data + 1 + keyLength), size - 1 - keyLength);

  std::string plain = config::DecryptHex(hex, key);
  if (plain.size() != (hex.size() + 15) / 16 * 8) fuzz::Fail("DecryptHex: wrong plain length");
  for (std::uint32_t word : config::CipherState) {
    if (word != 0) fuzz::Fail("DecryptHex: cipher state not cleared");
  }
  if (config::EncryptHex(plain, key) != Canonical(hex))
    fuzz::Fail("DecryptHex: not the inverse of EncryptHex");
  std::string text = config::PlainText(plain);
  if (text.size() > plain.size() || text.find('\0') != std::string::npos) {
    fuzz::Fail("PlainText: not the text up to the first zero byte");
  }
  return 0;
}
