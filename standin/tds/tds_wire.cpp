// The TDS 7.x wire format of the stand-in's listener: packet headers, the
// client's PRELOGIN, LOGIN7 and SQLBatch messages, the reply tokens.
#include "tds_wire.h"

#include <algorithm>

namespace tds {

namespace {

// Windows-1252 0x80..0x9F; 0 where the code page has no character (those
// bytes travel as the C1 control of the same value).
const char16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                            0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::uint16_t Le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The 5 collation bytes of SQL_Latin1_General_CP1_CI_AS: LCID 0x0409 with
// the ignore-case, ignore-kana and ignore-width flags, sort id 52 (code page
// 1252), as SQL Server sends them.
const std::uint8_t kCollation[5] = {0x09, 0x04, 0xD0, 0x00, 0x34};

}  // namespace

std::u16string FromCp1252(const std::string& bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    char16_t u = c;
    if (c >= 0x80 && c <= 0x9F && kHigh[c - 0x80] != 0) u = kHigh[c - 0x80];
    out.push_back(u);
  }
  return out;
}

std::string ToCp1252(const std::u16string& text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t u : text) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
      out.push_back(static_cast<char>(u));
      continue;
    }
    if (u >= 0x80 && u <= 0x9F) {  // only the five undefined bytes come this way
      out.push_back(kHigh[u - 0x80] == 0 ? static_cast<char>(u) : '?');
      continue;
    }
    const char16_t* hit = std::find(std::begin(kHigh), std::end(kHigh), u);
    out.push_back(hit != std::end(kHigh) ? static_cast<char>(0x80 + (hit - std::begin(kHigh))) : '?');
  }
  return out;
}

std::u16string FromUcs2Le(const std::uint8_t* p, std::size_t n) {
  std::u16string out;
  out.reserve(n / 2);
  for (std::size_t i = 0; i + 1 < n; i += 2) out.push_back(static_cast<char16_t>(Le16(p + i)));
  return out;
}

bool ParseHeader(const std::uint8_t* h, PacketHeader& out) {
  out.type = h[0];
  out.status = h[1];
  out.length = static_cast<std::uint16_t>((h[2] << 8) | h[3]);
  return out.length >= kHeaderSize && out.length <= kMaxPacket;
}

std::vector<Bytes> Packetize(std::uint8_t type, const Bytes& message, std::size_t packetSize) {
  std::size_t room = packetSize - kHeaderSize;
  std::vector<Bytes> packets;
  std::size_t pos = 0;
  std::uint8_t id = 1;
  do {
    std::size_t n = std::min(room, message.size() - pos);
    bool last = pos + n == message.size();
    std::size_t len = n + kHeaderSize;
    Bytes p = {type,
               static_cast<std::uint8_t>(last ? kStatusEom : 0),
               static_cast<std::uint8_t>(len >> 8),
               static_cast<std::uint8_t>(len & 0xFF),
               0x00,
               0x33,  // the SPID the listener gives every session
               id++,
               0x00};
    p.insert(p.end(), message.begin() + static_cast<std::ptrdiff_t>(pos),
             message.begin() + static_cast<std::ptrdiff_t>(pos + n));
    packets.push_back(std::move(p));
    pos += n;
  } while (pos < message.size());
  return packets;
}

bool ParsePrelogin(const Bytes& msg, Prelogin& out, std::string& why) {
  std::size_t i = 0;
  for (;;) {
    if (i >= msg.size()) {
      why = "PRELOGIN option list without terminator";
      return false;
    }
    std::uint8_t token = msg[i];
    if (token == 0xFF) return true;
    if (i + 5 > msg.size()) {
      why = "PRELOGIN option cut short";
      return false;
    }
    std::size_t offset = static_cast<std::size_t>((msg[i + 1] << 8) | msg[i + 2]);
    std::size_t length = static_cast<std::size_t>((msg[i + 3] << 8) | msg[i + 4]);
    if (offset + length > msg.size()) {
      why = "PRELOGIN option " + std::to_string(token) + " points outside the message";
      return false;
    }
    if (token == 0x01 && length >= 1) out.encryption = msg[offset];
    i += 5;
  }
}

Bytes PreloginReply() {
  // Options VERSION, ENCRYPTION, INSTOPT, THREADID (empty), MARS; then data.
  const std::uint8_t count = 5;
  std::size_t data = count * 5 + 1;
  const std::uint8_t lengths[count] = {6, 1, 1, 0, 1};
  Bytes out;
  std::size_t offset = data;
  for (std::uint8_t t = 0; t < count; ++t) {
    out.push_back(t);
    out.push_back(static_cast<std::uint8_t>(offset >> 8));
    out.push_back(static_cast<std::uint8_t>(offset & 0xFF));
    out.push_back(0);
    out.push_back(lengths[t]);
    offset += lengths[t];
  }
  out.push_back(0xFF);
  const std::uint8_t version[6] = {16, 0, 0x07, 0xD0, 0, 0};  // 16.0.2000
  out.insert(out.end(), version, version + 6);
  out.push_back(0x02);  // ENCRYPT_NOT_SUP
  out.push_back(0x00);  // INSTOPT: the default instance
  out.push_back(0x00);  // MARS off
  return out;
}

bool ParseLogin7(const Bytes& msg, Login7& out, std::string& why) {
  const std::size_t kFixed = 94;
  if (msg.size() < kFixed) {
    why = "LOGIN7 shorter than its fixed part (" + std::to_string(msg.size()) + " bytes)";
    return false;
  }
  const std::uint8_t* p = msg.data();
  out.tdsVersion = Le32(p + 4);
  out.packetSize = Le32(p + 8);
  // (offset, length in characters) pairs of the variable part, in order:
  // host, user, password, application, server, extension, library,
  // language, database.
  auto field = [&](std::size_t at, std::string& value, bool password) {
    std::size_t offset = Le16(p + at);
    std::size_t chars = Le16(p + at + 2);
    if (offset + chars * 2 > msg.size()) {
      why = "LOGIN7 field at " + std::to_string(at) + " points outside the message";
      return false;
    }
    Bytes raw(p + offset, p + offset + chars * 2);
    if (password) {
      // Each byte travels with its nibbles swapped and XORed with 0xA5.
      for (std::uint8_t& b : raw) {
        b = static_cast<std::uint8_t>(b ^ 0xA5);
        b = static_cast<std::uint8_t>((b << 4) | (b >> 4));
      }
    }
    value = ToCp1252(FromUcs2Le(raw.data(), raw.size()));
    return true;
  };
  std::string host, server;
  return field(36, host, false) && field(40, out.userName, false) && field(44, out.password, true) &&
         field(48, out.appName, false) && field(52, server, false) && field(68, out.database, false);
}

bool ParseBatch(const Bytes& msg, std::string& text, std::string& why) {
  if (msg.size() < 4) {
    why = "SQLBatch without ALL_HEADERS";
    return false;
  }
  std::size_t headers = Le32(msg.data());
  if (headers < 4 || headers > msg.size()) {
    why = "SQLBatch ALL_HEADERS length " + std::to_string(headers) + " outside the message";
    return false;
  }
  std::size_t n = msg.size() - headers;
  if (n % 2 != 0) {
    why = "SQLBatch text of an odd byte count";
    return false;
  }
  text = ToCp1252(FromUcs2Le(msg.data() + headers, n));
  return true;
}

void TokenWriter::U16(std::uint16_t v) {
  out_.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out_.push_back(static_cast<std::uint8_t>(v >> 8));
}

void TokenWriter::U32(std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void TokenWriter::U64(std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void TokenWriter::BVarchar(const std::string& cp1252) {
  std::u16string u = FromCp1252(cp1252.substr(0, 255));
  U8(static_cast<std::uint8_t>(u.size()));
  for (char16_t c : u) U16(c);
}

void TokenWriter::UsVarchar(const std::string& cp1252) {
  std::u16string u = FromCp1252(cp1252.substr(0, 65535));
  U16(static_cast<std::uint16_t>(u.size()));
  for (char16_t c : u) U16(c);
}

void TokenWriter::Collation() { out_.insert(out_.end(), kCollation, kCollation + 5); }

void TokenWriter::EnvChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue) {
  TokenWriter body;
  body.U8(type);
  body.BVarchar(newValue);
  body.BVarchar(oldValue);
  U8(0xE3);
  U16(static_cast<std::uint16_t>(body.out_.size()));
  out_.insert(out_.end(), body.out_.begin(), body.out_.end());
}

void TokenWriter::EnvChangeCollation() {
  U8(0xE3);
  U16(1 + 1 + 5 + 1);
  U8(7);
  U8(5);
  Collation();
  U8(0);
}

void TokenWriter::LoginAck(const std::string& progName) {
  TokenWriter body;
  body.U8(1);                                                // SQL_TSQL
  const std::uint8_t version[4] = {0x74, 0x00, 0x00, 0x04};  // TDS 7.4, big-endian
  body.out_.insert(body.out_.end(), version, version + 4);
  body.BVarchar(progName);
  const std::uint8_t prog[4] = {16, 0, 0x07, 0xD0};
  body.out_.insert(body.out_.end(), prog, prog + 4);
  U8(0xAD);
  U16(static_cast<std::uint16_t>(body.out_.size()));
  out_.insert(out_.end(), body.out_.begin(), body.out_.end());
}

void TokenWriter::Error(std::int32_t number, std::uint8_t state, std::uint8_t cls, const std::string& message,
                        const std::string& serverName) {
  TokenWriter body;
  body.U32(static_cast<std::uint32_t>(number));
  body.U8(state);
  body.U8(cls);
  // A token's length is 16 bits: a very long message is cut to fit.
  body.UsVarchar(message.substr(0, 30000));
  body.BVarchar(serverName);
  body.BVarchar("");
  body.U32(1);  // line number
  U8(cls > 10 ? 0xAA : 0xAB);
  U16(static_cast<std::uint16_t>(body.out_.size()));
  out_.insert(out_.end(), body.out_.begin(), body.out_.end());
}

void TokenWriter::Done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
  U8(0xFD);
  U16(status);
  U16(curCmd);
  U64(rowCount);
}

void TokenWriter::ColumnMetadata(const std::vector<std::string>& names, const std::vector<std::uint16_t>& maxLengths) {
  U8(0x81);
  U16(static_cast<std::uint16_t>(names.size()));
  for (std::size_t i = 0; i < names.size(); ++i) {
    U32(0);       // user type
    U16(0x0001);  // nullable
    U8(0xA7);     // BIGVARCHARTYPE
    U16(maxLengths[i]);
    Collation();
    BVarchar(names[i]);
  }
}

void TokenWriter::Row(const std::vector<std::string>& values, const std::vector<bool>& isNull) {
  U8(0xD1);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (isNull[i]) {
      U16(0xFFFF);
      continue;
    }
    U16(static_cast<std::uint16_t>(values[i].size()));
    out_.insert(out_.end(), values[i].begin(), values[i].end());
  }
}

}  // namespace tds
