// The value cipher of the configuration file: Blowfish (64-bit blocks, 16
// rounds, variable key), electronic code book, blocks carried as upper-case
// hexadecimal text. A block's two 32-bit halves are little-endian: bytes 0-3
// are the left half with byte 0 least significant, bytes 4-7 the right half.
#pragma once

#include <cstdint>
#include <string>

namespace config {

// Process-wide: the one cipher state (the config folder's only other
// process-wide state is ReadIniValue's four result fields, ini.h): P-array
// (words 0-17) and the four S-boxes (words 18-273, 274-529, 530-785,
// 786-1041). It is set up from the key at the start of each operation and
// cleared to zero at its end, so no key material stays in memory between
// calls.
constexpr int kCipherStateWords = 1042;
extern std::uint32_t CipherState[kCipherStateWords];

// Decrypts hexadecimal text `hex` under `key` (every character is key
// material). Returns the plain bytes: 8 for every started group of 16
// digits (a short last group reads its missing digits as '0'). Digits decode
// as 'A'-'F' -> code-55, anything else -> code-48 (so lower-case letters give
// other values), byte = (16*h + l) mod 256. The plain value is the result up
// to its first zero byte (see PlainText). Always succeeds.
std::string DecryptHex(const std::string& hex, const std::string& key);

// Encrypts `plain` under `key`; the last block is padded with zero bytes.
// Returns 16 upper-case hex digits for every started 8 bytes ("" for "").
std::string EncryptHex(const std::string& plain, const std::string& key);

// Texts and keys are taken by their length, every byte counting (unsigned);
// the callers hand over terminated texts, so they hold no zero byte. An empty
// key contributes all-zero key words.

// The text of a decrypted buffer up to its first zero byte.
std::string PlainText(const std::string& decrypted);

// The fixed key under which the configuration file's values are stored.
inline constexpr const char* kIniKey = "QUENTAR";

}  // namespace config
