// The TDS 7.x wire format as far as the stand-in's listener speaks it: the
// 8-byte packet header, the PRELOGIN and LOGIN7 requests a client sends, the
// tokens of the server's replies, and the text conversions between UCS-2LE
// (what travels) and Windows-1252 bytes (what the stand-in stores).
//
// Packet grammar (all multi-byte header fields big-endian):
//
//   packet  = type:1 status:1 length:2 spid:2 packet_id:1 window:1 data
//             length counts the header too; status bit 0x01 (EOM) marks the
//             last packet of a message
//   message = the data of consecutive packets of one type up to EOM
//
// Token fields are little-endian, except the TDS version in LOGINACK.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tds {

using Bytes = std::vector<std::uint8_t>;

// Packet types.
inline constexpr std::uint8_t kSqlBatch = 0x01;
inline constexpr std::uint8_t kRpc = 0x03;
inline constexpr std::uint8_t kTabularResult = 0x04;
inline constexpr std::uint8_t kAttention = 0x06;
inline constexpr std::uint8_t kTransactionManager = 0x0E;
inline constexpr std::uint8_t kLogin7 = 0x10;
inline constexpr std::uint8_t kPrelogin = 0x12;

inline constexpr std::uint8_t kStatusEom = 0x01;
inline constexpr std::size_t kHeaderSize = 8;
// The largest packet a TDS 7 peer may send (the packet size is a 16-bit
// field, and SQL Server caps the negotiated size at 32767).
inline constexpr std::size_t kMaxPacket = 32767;
inline constexpr std::size_t kDefaultPacket = 4096;

// DONE status bits.
inline constexpr std::uint16_t kDoneFinal = 0x0000;
inline constexpr std::uint16_t kDoneMore = 0x0001;
inline constexpr std::uint16_t kDoneError = 0x0002;
inline constexpr std::uint16_t kDoneCount = 0x0010;
inline constexpr std::uint16_t kDoneInXact = 0x0004;
inline constexpr std::uint16_t kDoneAttn = 0x0020;

// DONE CurCmd values (the statement kind the count belongs to).
inline constexpr std::uint16_t kCmdSelect = 0xC1;
inline constexpr std::uint16_t kCmdInsert = 0xC3;
inline constexpr std::uint16_t kCmdDelete = 0xC4;
inline constexpr std::uint16_t kCmdUpdate = 0xC5;

// Windows-1252 bytes to UTF-16 code units and back. Bytes 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D have no character in Windows-1252; they travel as U+0081...
// (as Windows converts them), so every byte survives the round trip. A code
// unit without a Windows-1252 byte becomes '?', as SQL Server stores an
// unmappable character in a varchar column.
std::u16string FromCp1252(const std::string& bytes);
std::string ToCp1252(const std::u16string& text);
// UCS-2LE bytes (even count) to UTF-16 code units.
std::u16string FromUcs2Le(const std::uint8_t* p, std::size_t n);

// The header of one packet. Returns false when `h` is not a plausible
// header: a length below the header size or above kMaxPacket.
struct PacketHeader {
  std::uint8_t type = 0;
  std::uint8_t status = 0;
  std::uint16_t length = 0;
};
bool ParseHeader(const std::uint8_t* h, PacketHeader& out);

// Splits a reply message into packets of at most `packetSize` bytes.
// `spid` is the session's number, carried in every header.
std::vector<Bytes> Packetize(std::uint8_t type, const Bytes& message, std::size_t packetSize, std::uint16_t spid);

// What a PRELOGIN request carries that the listener looks at.
struct Prelogin {
  int encryption = -1;  // the client's ENCRYPTION option, -1 when absent
};
// Parses a PRELOGIN option list; false with `why` set when an option points
// outside the message or the list has no terminator.
bool ParsePrelogin(const Bytes& msg, Prelogin& out, std::string& why);
// The PRELOGIN reply: version 16.0, encryption NOT_SUP (no TLS at all).
Bytes PreloginReply();

// What a LOGIN7 request carries that the listener looks at.
struct Login7 {
  std::uint32_t tdsVersion = 0;
  std::uint32_t packetSize = 0;
  std::string userName;  // Windows-1252
  std::string password;  // decoded, Windows-1252
  std::string appName;
  std::string database;
};
// Parses a LOGIN7 message; false with `why` set when it is shorter than its
// fixed part or a variable field lies outside it.
bool ParseLogin7(const Bytes& msg, Login7& out, std::string& why);

// Extracts the statement text of an SQLBatch message (TDS 7.2+: ALL_HEADERS
// first, then UCS-2LE text) as Windows-1252. False with `why` set when the
// headers overrun the message or the text has an odd byte count.
bool ParseBatch(const Bytes& msg, std::string& text, std::string& why);

// How a result column travels.
enum class ColKind { Int, Bit, Float, DateTime, VarChar, Char, NVarChar, NChar };
struct ColumnDesc {
  std::string name;
  ColKind kind = ColKind::VarChar;
  // Bytes of an Int (1, 2, 4, 8); characters of a text column (1..8000,
  // 1..4000 for the N types).
  std::uint16_t length = 8000;
};

// One value of a row or of a request's parameter.
struct Value {
  enum Kind { Null, Int, Float, Decimal, Text, NText, DateTime, Binary } kind = Null;
  std::int64_t i = 0;
  double f = 0;
  // Text, NText: Windows-1252; DateTime: yyyy-mm-dd hh:mm:ss.mmm; Decimal:
  // the number written out (-12.50); Binary: the bytes.
  std::string text;
};

// DATETIME's wire form: days since 1900-01-01 and 1/300 seconds since
// midnight. False when `canonical` is not yyyy-mm-dd hh:mm:ss.mmm.
bool DateTimeToWire(const std::string& canonical, std::int32_t& days, std::uint32_t& ticks);
std::string DateTimeFromWire(std::int32_t days, std::uint32_t ticks);
// Days since 1900-01-01 of a civil date (negative before it).
std::int64_t DaysFrom1900(int year, int month, int day);

// One procedure call of an RPC request.
struct RpcParam {
  std::string name;  // with its '@', may be empty (positional)
  bool output = false;
  Value value;
};
struct RpcCall {
  std::string procName;  // empty when called by number
  int procId = 0;        // 10 sp_executesql, 11 sp_prepare, 12 sp_execute, 13 sp_prepexec, 15 sp_unprepare...
  std::vector<RpcParam> params;
};
// Parses an RPC request (ALL_HEADERS, then one or more calls separated by
// the batch flag). False with `why` set when a field lies outside the
// message or a parameter has a type the listener does not read.
bool ParseRpc(const Bytes& msg, std::vector<RpcCall>& calls, std::string& why);

// A transaction manager request (packet type 14).
struct TmRequest {
  std::uint16_t type = 0;   // 5 begin, 7 commit, 8 rollback, 9 save; others unsupported
  bool beginAfter = false;  // commit/rollback: begin a new transaction right after
};
bool ParseTm(const Bytes& msg, TmRequest& out, std::string& why);

// Builds the tokens of a reply message.
class TokenWriter {
 public:
  // ENVCHANGE with text values (database 1, language 2, packet size 4).
  void EnvChange(std::uint8_t type, const std::string& newValue, const std::string& oldValue);
  // ENVCHANGE 7: the server's SQL collation (SQL_Latin1_General_CP1_CI_AS).
  void EnvChangeCollation();
  // LOGINACK for TDS 7.4.
  void LoginAck(const std::string& progName);
  // ERROR (or INFO with class <= 10). `message` is Windows-1252.
  void Error(std::int32_t number, std::uint8_t state, std::uint8_t cls, const std::string& message,
             const std::string& serverName);
  void Done(std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);
  // ENVCHANGE 8 (begin), 9 (commit) or 10 (rollback) of a transaction:
  // the descriptor is the new value on begin and the old one otherwise.
  void EnvChangeTransaction(std::uint8_t type, std::uint64_t descriptor);
  // COLMETADATA of a result set.
  void ColumnMetadata(const std::vector<ColumnDesc>& columns);
  // ROW: one value per column, in the column's type.
  void Row(const std::vector<ColumnDesc>& columns, const std::vector<Value>& values);
  // RETURNSTATUS of a procedure.
  void ReturnStatus(std::int32_t status);
  // RETURNVALUE of an int output parameter.
  void ReturnInt(const std::string& name, std::int32_t value);
  // DONEPROC (0xFE) or DONEINPROC (0xFF), laid out as DONE.
  void DoneToken(std::uint8_t token, std::uint16_t status, std::uint16_t curCmd, std::uint64_t rowCount);

  // Takes DONE_MORE off the last DONE, DONEPROC or DONEINPROC written:
  // it ends the reply.
  void EndMore();

  [[nodiscard]] const Bytes& bytes() const { return out_; }
  void Clear() {
    out_.clear();
    lastDone_ = std::string::npos;
  }

 private:
  void U8(std::uint8_t v) { out_.push_back(v); }
  void U16(std::uint16_t v);
  void U32(std::uint32_t v);
  void U64(std::uint64_t v);
  void BVarchar(const std::string& cp1252);   // 1-byte character count + UCS-2LE
  void UsVarchar(const std::string& cp1252);  // 2-byte character count + UCS-2LE
  void Collation();
  Bytes out_;
  std::size_t lastDone_ = std::string::npos;  // offset of the last DONE's status
};

}  // namespace tds
