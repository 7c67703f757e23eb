// A raw TDS client of the stand-in's listener, for what no driver does:
// packets a driver would never send, and a session that logs in and then
// sits idle while the real clients work.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>

namespace e2e {

inline std::string Ucs2(const std::string& ascii) {
  std::string out;
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

// A LOGIN7 message for TDS 7.4 naming only `user` and `password` (empty:
// none, and the listener then has no credentials to check).
inline std::string Login7(const std::string& user, const std::string& password) {
  std::string u = Ucs2(user);
  // Every byte of the password has its nibbles swapped and is XORed with 0xA5.
  std::string p = Ucs2(password);
  for (char& c : p) {
    auto b = static_cast<unsigned char>(c);
    c = static_cast<char>((((b << 4) | (b >> 4)) & 0xFF) ^ 0xA5);
  }
  std::string m(94, '\0');
  m[4] = 0x04, m[7] = 0x74;  // TDS 7.4
  m[9] = 0x10;               // packet size 4096
  auto after = [](std::size_t chars) { return static_cast<char>(94 + 2 * chars); };
  // Every field empty, pointing at the end of the fixed part, but the user
  // name there and the password after it.
  for (int at = 36; at < 48; at += 4) m[static_cast<std::size_t>(at)] = after(0);
  m[42] = static_cast<char>(user.size());
  m[44] = after(user.size()), m[46] = static_cast<char>(password.size());
  for (int at = 48; at < 94; at += 4)
    m[static_cast<std::size_t>(at)] = after(user.size() + password.size());
  m += u + p;
  m[0] = static_cast<char>(m.size());
  return m;
}

class RawClient {
 public:
  explicit RawClient(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    timeval tv{20, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~RawClient() { close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;
  [[nodiscard]] bool connected() const { return connected_; }

  void SendRaw(const std::string& bytes) {
    (void)send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }
  void SendPacket(std::uint8_t type, const std::string& payload, bool eom = true) {
    std::size_t len = payload.size() + 8;
    std::string p = {static_cast<char>(type),
                     static_cast<char>(eom ? 1 : 0),
                     static_cast<char>(len >> 8),
                     static_cast<char>(len & 0xFF),
                     0,
                     0,
                     1,
                     0};
    SendRaw(p + payload);
  }
  void EndWrites() { shutdown(fd_, SHUT_WR); }
  // The reply message (packets up to EOM); empty when the listener closed
  // the connection instead.
  std::string Reply() {
    std::string msg;
    for (;;) {
      std::string h = Read(8);
      if (h.size() < 8) return "";
      std::size_t len = (static_cast<unsigned char>(h[2]) << 8) | static_cast<unsigned char>(h[3]);
      std::string data = Read(len - 8);
      if (data.size() < len - 8) return "";
      msg += data;
      if (h[1] & 1) return msg;
    }
  }
  // Sends LOGIN7 with `user` and `password`; true when the LOGINACK came.
  bool LogIn(const std::string& user = "", const std::string& password = "") {
    SendPacket(0x10, Login7(user, password));
    std::string r = Reply();
    return !r.empty() && r.find('\xad') != std::string::npos;
  }
  // True when the listener has closed the connection by now (nothing to
  // read yet is not a close).
  bool ClosedWithoutWaiting() {
    char c;
    ssize_t k = recv(fd_, &c, 1, MSG_DONTWAIT);
    return k == 0 || (k < 0 && errno == ECONNRESET);
  }
  // True when the listener closed the connection: end of file, or a reset
  // when it closed with our bytes still unread (not a receive timeout).
  bool ClosedByListener() {
    char c;
    ssize_t k = recv(fd_, &c, 1, 0);
    return k == 0 || (k < 0 && errno == ECONNRESET);
  }

 private:
  std::string Read(std::size_t n) {
    std::string out;
    char buf[4096];
    while (out.size() < n) {
      ssize_t k = recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
      if (k <= 0) break;
      out.append(buf, static_cast<std::size_t>(k));
    }
    return out;
  }
  int fd_ = -1;
  bool connected_ = false;
};

}  // namespace e2e
