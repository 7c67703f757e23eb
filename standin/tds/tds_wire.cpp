// The TDS 7.x wire format of the stand-in's listener: packet headers, the
// client's PRELOGIN, LOGIN7 and SQLBatch messages, the reply tokens.
#include "tds_wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

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

std::vector<Bytes> Packetize(std::uint8_t type, const Bytes& message, std::size_t packetSize, std::uint16_t spid) {
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
               static_cast<std::uint8_t>(spid >> 8),
               static_cast<std::uint8_t>(spid & 0xFF),
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
  lastDone_ = out_.size();
  U16(status);
  U16(curCmd);
  U64(rowCount);
}

void TokenWriter::EnvChangeTransaction(std::uint8_t type, std::uint64_t descriptor) {
  U8(0xE3);
  U16(1 + 1 + 8 + 1);
  U8(type);
  if (type == 8) {
    U8(8);
    U64(descriptor);
    U8(0);
  } else {
    U8(0);
    U8(8);
    U64(descriptor);
  }
}

void TokenWriter::ColumnMetadata(const std::vector<ColumnDesc>& columns) {
  U8(0x81);
  U16(static_cast<std::uint16_t>(columns.size()));
  for (const ColumnDesc& c : columns) {
    U32(0);       // user type
    U16(0x0001);  // nullable
    switch (c.kind) {
      case ColKind::Int:
        U8(0x26);  // INTN
        U8(static_cast<std::uint8_t>(c.length));
        break;
      case ColKind::Bit:
        U8(0x68);  // BITN
        U8(1);
        break;
      case ColKind::Float:
        U8(0x6D);  // FLTN
        U8(8);
        break;
      case ColKind::DateTime:
        U8(0x6F);  // DATETIMN
        U8(8);
        break;
      case ColKind::VarChar:
      case ColKind::Char:
        U8(c.kind == ColKind::Char ? 0xAF : 0xA7);  // BIGCHAR, BIGVARCHAR
        U16(c.length);
        Collation();
        break;
      case ColKind::NVarChar:
      case ColKind::NChar:
        U8(c.kind == ColKind::NChar ? 0xEF : 0xE7);  // NCHAR, NVARCHAR
        U16(static_cast<std::uint16_t>(c.length * 2));
        Collation();
        break;
    }
    BVarchar(c.name.substr(0, 128));
  }
}

void TokenWriter::Row(const std::vector<ColumnDesc>& columns, const std::vector<Value>& values) {
  U8(0xD1);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const ColumnDesc& c = columns[i];
    const Value& v = values[i];
    bool text = c.kind == ColKind::VarChar || c.kind == ColKind::Char || c.kind == ColKind::NVarChar ||
                c.kind == ColKind::NChar;
    if (v.kind == Value::Null) {
      if (text) {
        U16(0xFFFF);
      } else {
        U8(0);
      }
      continue;
    }
    switch (c.kind) {
      case ColKind::Int:
        U8(static_cast<std::uint8_t>(c.length));
        for (std::uint16_t b = 0; b < c.length; ++b)
          U8(static_cast<std::uint8_t>(static_cast<std::uint64_t>(v.i) >> (8 * b)));
        break;
      case ColKind::Bit:
        U8(1);
        U8(v.i != 0 ? 1 : 0);
        break;
      case ColKind::Float: {
        U8(8);
        std::uint64_t bits = 0;
        std::memcpy(&bits, &v.f, sizeof bits);
        U64(bits);
        break;
      }
      case ColKind::DateTime: {
        std::int32_t days = 0;
        std::uint32_t ticks = 0;
        DateTimeToWire(v.text, days, ticks);
        U8(8);
        U32(static_cast<std::uint32_t>(days));
        U32(ticks);
        break;
      }
      case ColKind::VarChar:
      case ColKind::Char: {
        std::string t = v.text.substr(0, c.length);
        if (c.kind == ColKind::Char && t.size() < c.length) t.append(c.length - t.size(), ' ');
        U16(static_cast<std::uint16_t>(t.size()));
        out_.insert(out_.end(), t.begin(), t.end());
        break;
      }
      case ColKind::NVarChar:
      case ColKind::NChar: {
        std::u16string u = FromCp1252(v.text).substr(0, c.length);
        if (c.kind == ColKind::NChar && u.size() < c.length) u.append(c.length - u.size(), u' ');
        U16(static_cast<std::uint16_t>(u.size() * 2));
        for (char16_t ch : u) U16(ch);
        break;
      }
    }
  }
}

void TokenWriter::ReturnStatus(std::int32_t status) {
  U8(0x79);
  U32(static_cast<std::uint32_t>(status));
}

void TokenWriter::ReturnInt(const std::string& name, std::int32_t value) {
  U8(0xAC);
  U16(0);  // parameter ordinal
  BVarchar(name);
  U8(0x01);  // output parameter
  U32(0);    // user type
  U16(0);    // flags
  U8(0x26);  // INTN of 4 bytes
  U8(4);
  U8(4);
  U32(static_cast<std::uint32_t>(value));
}

void TokenWriter::EndMore() {
  if (lastDone_ != std::string::npos) out_[lastDone_] = static_cast<std::uint8_t>(out_[lastDone_] & ~kDoneMore);
}

void TokenWriter::DoneToken(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount) {
  U8(token);
  lastDone_ = out_.size();
  U16(status);
  U16(curCmd);
  U64(rowCount);
}

std::int64_t DaysFrom1900(int year, int month, int day) {
  // Days from the civil calendar's epoch (H. Hinnant's algorithm), less
  // those of 1900-01-01.
  auto civil = [](std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    std::int64_t yoe = y - era * 400;
    std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
  };
  return civil(year, month, day) - civil(1900, 1, 1);
}

bool DateTimeToWire(const std::string& canonical, std::int32_t& days, std::uint32_t& ticks) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  if (canonical.size() != 23 ||
      std::sscanf(canonical.c_str(), "%4d-%2d-%2d %2d:%2d:%2d.%3d", &y, &mo, &d, &h, &mi, &s, &ms) != 7)
    return false;
  days = static_cast<std::int32_t>(DaysFrom1900(y, mo, d));
  // A datetime counts 1/300 s; the stored milliseconds are already
  // rounded to those steps (.000, .003, .007).
  ticks =
      static_cast<std::uint32_t>((h * 3600 + mi * 60 + s) * 300) + static_cast<std::uint32_t>((ms * 300 + 500) / 1000);
  return true;
}

std::string DateTimeFromWire(std::int32_t days, std::uint32_t ticks) {
  // The civil date of a day count (the inverse of DaysFrom1900).
  // H. Hinnant's civil_from_days counts from 0000-03-01; 1900-01-01 is its
  // day 693901.
  std::int64_t z = std::int64_t{days} + 693901;
  std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  std::int64_t doe = z - era * 146097;
  std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = yoe + era * 400;
  std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  std::int64_t mp = (5 * doy + 2) / 153;
  std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  std::uint64_t ms = (static_cast<std::uint64_t>(ticks) * 1000 + 150) / 300;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", static_cast<int>(y), static_cast<int>(m),
                static_cast<int>(d), static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
  return buf;
}

namespace {

// Reads the fields of a request, never past its end.
class Reader {
 public:
  Reader(const Bytes& msg, std::size_t pos) : msg_(msg), pos_(pos) {}
  [[nodiscard]] bool Has(std::size_t n) const { return pos_ + n <= msg_.size(); }
  [[nodiscard]] bool AtEnd() const { return pos_ >= msg_.size(); }
  [[nodiscard]] std::size_t pos() const { return pos_; }
  bool U8(std::uint8_t& v) {
    if (!Has(1)) return false;
    v = msg_[pos_++];
    return true;
  }
  bool U16(std::uint16_t& v) {
    if (!Has(2)) return false;
    v = Le16(msg_.data() + pos_);
    pos_ += 2;
    return true;
  }
  bool U32(std::uint32_t& v) {
    if (!Has(4)) return false;
    v = Le32(msg_.data() + pos_);
    pos_ += 4;
    return true;
  }
  bool Raw(std::size_t n, std::string& out) {
    if (!Has(n)) return false;
    out.assign(reinterpret_cast<const char*>(msg_.data() + pos_), n);
    pos_ += n;
    return true;
  }
  bool Skip(std::size_t n) {
    if (!Has(n)) return false;
    pos_ += n;
    return true;
  }
  // B_VARCHAR / US_VARCHAR: a character count and UCS-2LE.
  bool Chars(std::size_t n, std::string& out) {
    if (!Has(n * 2)) return false;
    out = ToCp1252(FromUcs2Le(msg_.data() + pos_, n * 2));
    pos_ += n * 2;
    return true;
  }

 private:
  const Bytes& msg_;
  std::size_t pos_;
};

std::int64_t LeSigned(const std::string& b) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < b.size(); ++i)
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[i])) << (8 * i);
  if (b.size() < 8 && !b.empty() && (static_cast<unsigned char>(b.back()) & 0x80))
    v |= ~std::uint64_t{0} << (8 * b.size());
  return static_cast<std::int64_t>(v);
}

std::uint64_t LeUnsigned(const std::string& b) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < b.size() && i < 8; ++i)
    v |= static_cast<std::uint64_t>(static_cast<unsigned char>(b[i])) << (8 * i);
  return v;
}

// A scaled integer written out: 1250 with scale 2 is "12.50".
std::string Scaled(const std::string& magnitude, bool negative, int scale) {
  std::string digits = magnitude.empty() ? "0" : magnitude;
  if (scale > 0) {
    if (digits.size() <= static_cast<std::size_t>(scale))
      digits.insert(0, static_cast<std::size_t>(scale) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(scale), ".");
  }
  return (negative ? "-" : "") + digits;
}

// The decimal digits of a little-endian unsigned integer of up to 16 bytes.
std::string Digits(const std::string& le) {
  std::vector<std::uint32_t> limbs;  // base 2^32, little-endian
  for (std::size_t i = 0; i < le.size(); i += 4) {
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < 4 && i + k < le.size(); ++k)
      v |= static_cast<std::uint32_t>(static_cast<unsigned char>(le[i + k])) << (8 * k);
    limbs.push_back(v);
  }
  std::string out;
  auto zero = [&] {
    for (std::uint32_t l : limbs)
      if (l != 0) return false;
    return true;
  };
  while (!zero()) {
    std::uint64_t rem = 0;
    for (std::size_t i = limbs.size(); i-- > 0;) {
      std::uint64_t cur = (rem << 32) | limbs[i];
      limbs[i] = static_cast<std::uint32_t>(cur / 10);
      rem = cur % 10;
    }
    out.insert(out.begin(), static_cast<char>('0' + rem));
  }
  return out.empty() ? "0" : out;
}

// Reads one parameter's TYPE_INFO and value.
bool ReadTypedValue(Reader& r, Value& v, std::string& why) {
  std::uint8_t type = 0;
  if (!r.U8(type)) return false;
  auto fixed = [&](std::size_t n, std::string& bytes) { return r.Raw(n, bytes); };
  std::string b;
  switch (type) {
    case 0x1F:  // NULLTYPE
      v.kind = Value::Null;
      return true;
    case 0x30:  // INT1 (unsigned)
      if (!fixed(1, b)) return false;
      v.kind = Value::Int;
      v.i = static_cast<unsigned char>(b[0]);
      return true;
    case 0x32:  // BIT
    case 0x34:  // INT2
    case 0x38:  // INT4
    case 0x7F:  // INT8
      if (!fixed(type == 0x32 ? 1 : type == 0x34 ? 2 : type == 0x38 ? 4 : 8, b)) return false;
      v.kind = Value::Int;
      v.i = type == 0x32 ? (b[0] != 0 ? 1 : 0) : LeSigned(b);
      return true;
    case 0x3B:  // FLT4
    case 0x3E:  // FLT8
      if (!fixed(type == 0x3B ? 4 : 8, b)) return false;
      v.kind = Value::Float;
      if (type == 0x3B) {
        float f = 0;
        std::memcpy(&f, b.data(), 4);
        v.f = f;
      } else {
        std::memcpy(&v.f, b.data(), 8);
      }
      return true;
    case 0x3D:  // DATETIME
      if (!fixed(8, b)) return false;
      v.kind = Value::DateTime;
      v.text = DateTimeFromWire(static_cast<std::int32_t>(LeSigned(b.substr(0, 4))),
                                static_cast<std::uint32_t>(LeUnsigned(b.substr(4, 4))));
      return true;
    case 0x26:    // INTN
    case 0x68:    // BITN
    case 0x6D:    // FLTN
    case 0x6F:    // DATETIMN
    case 0x6E:    // MONEYN
    case 0x6A:    // DECIMALN
    case 0x6C:    // NUMERICN
    case 0x28:    // DATEN
    case 0x2A: {  // DATETIME2N
      std::uint8_t maxLen = 0, precision = 0, scale = 0;
      if (type != 0x28 && type != 0x2A && !r.U8(maxLen)) return false;
      if ((type == 0x6A || type == 0x6C) && !(r.U8(precision) && r.U8(scale))) return false;
      if (type == 0x2A && !r.U8(scale)) return false;
      std::uint8_t len = 0;
      if (!r.U8(len) || !r.Raw(len, b)) return false;
      if (len == 0) {
        v.kind = Value::Null;
        return true;
      }
      if (type == 0x26 || type == 0x68) {
        v.kind = Value::Int;
        v.i = len == 1 ? static_cast<unsigned char>(b[0]) : LeSigned(b);
      } else if (type == 0x6D) {
        v.kind = Value::Float;
        if (len == 4) {
          float f = 0;
          std::memcpy(&f, b.data(), 4);
          v.f = f;
        } else if (len == 8) {
          std::memcpy(&v.f, b.data(), 8);
        } else {
          return false;
        }
      } else if (type == 0x6F) {
        v.kind = Value::DateTime;
        if (len == 8) {
          v.text = DateTimeFromWire(static_cast<std::int32_t>(LeSigned(b.substr(0, 4))),
                                    static_cast<std::uint32_t>(LeUnsigned(b.substr(4, 4))));
        } else if (len == 4) {  // smalldatetime: days and minutes
          v.text = DateTimeFromWire(static_cast<std::int32_t>(LeUnsigned(b.substr(0, 2))),
                                    static_cast<std::uint32_t>(LeUnsigned(b.substr(2, 2)) * 60 * 300));
        } else {
          return false;
        }
      } else if (type == 0x6E) {
        // money: the high 4 bytes first; both in 1/10000.
        std::int64_t units =
            len == 8 ? static_cast<std::int64_t>((static_cast<std::uint64_t>(LeUnsigned(b.substr(0, 4))) << 32) |
                                                 LeUnsigned(b.substr(4, 4)))
                     : LeSigned(b);
        bool neg = units < 0;
        std::uint64_t mag = neg ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
        v.kind = Value::Decimal;
        v.text = Scaled(std::to_string(mag), neg, 4);
      } else if (type == 0x6A || type == 0x6C) {
        v.kind = Value::Decimal;
        v.text = Scaled(Digits(b.substr(1)), b[0] == 0, scale);
      } else {
        // date: 3 bytes of days since 0001-01-01; datetime2 first has the
        // time in 10^-scale seconds.
        std::size_t timeBytes = type == 0x2A ? b.size() - 3 : 0;
        std::uint64_t units = LeUnsigned(b.substr(0, timeBytes));
        std::int64_t days0001 = static_cast<std::int64_t>(LeUnsigned(b.substr(timeBytes, 3)));
        std::int64_t days = days0001 + DaysFrom1900(1, 1, 1);
        std::uint64_t pow = 1;
        for (int k = 0; k < scale; ++k) pow *= 10;
        std::uint64_t ms = units * 1000 / pow;
        v.kind = Value::DateTime;
        v.text = DateTimeFromWire(static_cast<std::int32_t>(days), 0).substr(0, 11);
        char buf[16];
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                      static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
        v.text += buf;
      }
      return true;
    }
    case 0xA5:    // BIGVARBINARY
    case 0xAD:    // BIGBINARY
    case 0xA7:    // BIGVARCHAR
    case 0xAF:    // BIGCHAR
    case 0xE7:    // NVARCHAR
    case 0xEF: {  // NCHAR
      std::uint16_t maxLen = 0;
      if (!r.U16(maxLen)) return false;
      bool chars = type != 0xA5 && type != 0xAD;
      if (chars && !r.Skip(5)) return false;  // collation
      bool wide = type == 0xE7 || type == 0xEF;
      std::string data;
      if (maxLen == 0xFFFF) {
        // PLP: a total length (all ones: NULL), then chunks up to a zero one.
        std::uint32_t lo = 0, hi = 0;
        if (!r.U32(lo) || !r.U32(hi)) return false;
        if (lo == 0xFFFFFFFF && hi == 0xFFFFFFFF) {
          v.kind = Value::Null;
          return true;
        }
        for (;;) {
          std::uint32_t n = 0;
          if (!r.U32(n)) return false;
          if (n == 0) break;
          std::string chunk;
          if (!r.Raw(n, chunk)) return false;
          data += chunk;
        }
      } else {
        std::uint16_t n = 0;
        if (!r.U16(n)) return false;
        if (n == 0xFFFF) {
          v.kind = Value::Null;
          return true;
        }
        if (!r.Raw(n, data)) return false;
      }
      if (wide) {
        if (data.size() % 2 != 0) return false;
        v.kind = Value::NText;
        v.text = ToCp1252(FromUcs2Le(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
      } else {
        v.kind = chars ? Value::Text : Value::Binary;
        v.text = std::move(data);
      }
      return true;
    }
    case 0x23:    // TEXT
    case 0x63:    // NTEXT
    case 0x22: {  // IMAGE
      std::uint32_t maxLen = 0;
      if (!r.U32(maxLen)) return false;
      if (type != 0x22 && !r.Skip(5)) return false;
      std::uint32_t n = 0;
      if (!r.U32(n)) return false;
      if (n == 0xFFFFFFFF) {
        v.kind = Value::Null;
        return true;
      }
      std::string data;
      if (!r.Raw(n, data)) return false;
      if (type == 0x63) {
        if (data.size() % 2 != 0) return false;
        v.kind = Value::NText;
        v.text = ToCp1252(FromUcs2Le(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
      } else {
        v.kind = type == 0x23 ? Value::Text : Value::Binary;
        v.text = std::move(data);
      }
      return true;
    }
    default:
      why = "RPC parameter of TDS type " + std::to_string(type) + ", which the listener does not read";
      return false;
  }
}

// Skips ALL_HEADERS; false when they overrun the message.
bool SkipAllHeaders(const Bytes& msg, std::size_t& pos, std::string& why, const char* what) {
  if (msg.size() < 4) {
    why = std::string(what) + " without ALL_HEADERS";
    return false;
  }
  std::size_t headers = Le32(msg.data());
  if (headers < 4 || headers > msg.size()) {
    why = std::string(what) + " ALL_HEADERS length " + std::to_string(headers) + " outside the message";
    return false;
  }
  pos = headers;
  return true;
}

}  // namespace

bool ParseRpc(const Bytes& msg, std::vector<RpcCall>& calls, std::string& why) {
  calls.clear();
  std::size_t start = 0;
  if (!SkipAllHeaders(msg, start, why, "RPC")) return false;
  Reader r(msg, start);
  for (;;) {
    RpcCall call;
    std::uint16_t nameLen = 0;
    if (!r.U16(nameLen)) {
      why = "RPC request without a procedure";
      return false;
    }
    if (nameLen == 0xFFFF) {
      std::uint16_t id = 0;
      if (!r.U16(id)) {
        why = "RPC procedure number cut short";
        return false;
      }
      call.procId = id;
    } else if (!r.Chars(nameLen, call.procName)) {
      why = "RPC procedure name outside the message";
      return false;
    }
    std::uint16_t options = 0;
    if (!r.U16(options)) {
      why = "RPC option flags cut short";
      return false;
    }
    for (;;) {
      if (r.AtEnd()) {
        calls.push_back(std::move(call));
        return true;
      }
      std::uint8_t nameChars = 0;
      r.U8(nameChars);
      if (nameChars == 0xFF || nameChars == 0xFE || nameChars == 0x80) break;  // the next call follows
      RpcParam p;
      std::uint8_t status = 0;
      if (!r.Chars(nameChars, p.name) || !r.U8(status)) {
        why = "RPC parameter cut short";
        return false;
      }
      p.output = (status & 0x01) != 0;
      if (!ReadTypedValue(r, p.value, why)) {
        if (why.empty()) why = "RPC parameter " + p.name + " outside the message";
        return false;
      }
      call.params.push_back(std::move(p));
    }
    calls.push_back(std::move(call));
    if (r.AtEnd()) return true;
  }
}

bool ParseTm(const Bytes& msg, TmRequest& out, std::string& why) {
  std::size_t start = 0;
  if (!SkipAllHeaders(msg, start, why, "transaction manager request")) return false;
  Reader r(msg, start);
  if (!r.U16(out.type)) {
    why = "transaction manager request without a type";
    return false;
  }
  out.beginAfter = false;
  if (out.type == 7 || out.type == 8) {
    std::uint8_t nameChars = 0, flags = 0;
    std::string name;
    if (r.U8(nameChars) && r.Chars(nameChars, name) && r.U8(flags)) out.beginAfter = (flags & 0x01) != 0;
  }
  return true;
}

}  // namespace tds
