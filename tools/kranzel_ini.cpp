// kranzel-ini: writes, reads and checks the encrypted configuration file
// (Files/Valdura.Ini) with exactly the cipher and the record reader that
// kranzel itself uses, so what it reports is what the tool will read.
//
// Exit codes: 0 done (check: no problem), 1 check found problems or get found
// no record, 2 bad arguments, a refused value, or a file that cannot be read
// or written.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "config/cipher.h"
#include "config/ini.h"
#include "config/ini_writer.h"
#include "platform/platform.h"

namespace {

constexpr int kOk = 0;
constexpr int kProblems = 1;
constexpr int kUsageError = 2;

const char kUsage[] =
    "kranzel-ini: write, read and check kranzel's encrypted configuration file\n"
    "\n"
    "Usage:\n"
    "  kranzel-ini encrypt TEXT        print TEXT encrypted as the file stores values\n"
    "  kranzel-ini decrypt HEX         print the plain text of an encrypted value\n"
    "                                  (upper-case hexadecimal, whole blocks of 16)\n"
    "  kranzel-ini set FILE KEY VALUE  store VALUE encrypted under KEY, replacing the\n"
    "                                  first record of KEY or adding one (creates FILE);\n"
    "                                  VALUE '-' reads the value from the first line of\n"
    "                                  standard input; a new FILE gets mode 0600\n"
    "                                  (on Windows its folder's ACL);\n"
    "                                  values kranzel would not use as given are\n"
    "                                  refused (over 96 characters; DATABASE: 1 to 32)\n"
    "  kranzel-ini get FILE KEY [--show-password]\n"
    "                                  print what kranzel reads for KEY; the PASS value\n"
    "                                  is printed only with --show-password\n"
    "  kranzel-ini check FILE          report what would make kranzel read wrong\n"
    "                                  credentials (LOGIN, PASS, DB_SYSTEM, DATABASE);\n"
    "                                  warns when group or others may read FILE\n"
    "                                  (on Windows: a group by the file's ACL)\n"
    "  kranzel-ini --help              print this text\n"
    "  kranzel-ini --version           print the version\n"
    "\n"
    "kranzel reads FILE as ../../Files/Valdura.Ini from its working directory.\n"
    "Exit codes: 0 done, 1 check found problems or get found no record,\n"
    "2 bad arguments, a refused value, or a file that cannot be read or written.\n";

int UsageError(const std::string& message) {
  std::cerr << "kranzel-ini: " << message << "\nTry 'kranzel-ini --help'.\n";
  return kUsageError;
}

int Failure(const std::string& message) {
  std::cerr << "kranzel-ini: " << message << "\n";
  return kUsageError;
}

std::string Where(const std::string& file, int line) {
  return line > 0 ? file + ":" + std::to_string(line) : file;
}

// The file holds the database password: say so when others than the
// account that owns it may read it (by its mode, or on Windows its ACL).
// Only a warning: a group of service accounts may be meant to.
void WarnIfReadableByOthers(const std::string& file) {
  const platform::FileReaders readers = platform::ReadersOf(file);
  if (!readers.known || readers.others.empty()) return;
  std::cerr << "kranzel-ini: warning: " << file << " (" << readers.summary << ") may be read by "
            << readers.others
            << ", and it holds the database password; make it readable by the account that runs "
               "kranzel only ("
            << readers.fix << ")\n";
}

// Whole blocks of 16 upper-case hexadecimal digits: what the file stores and
// the only text the tool decrypts to its plain value.
bool IsStoredHex(const std::string& hex) {
  if (hex.size() % 16 != 0) return false;
  for (char c : hex) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

int Encrypt(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("encrypt takes one TEXT");
  std::cout << config::EncryptHex(args[0], config::kIniKey) << "\n";
  return kOk;
}

int Decrypt(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("decrypt takes one HEX");
  if (!IsStoredHex(args[0])) {
    return UsageError(
        "decrypt takes upper-case hexadecimal digits (0-9, A-F) in whole blocks "
        "of 16, as the file stores values");
  }
  std::cout << config::PlainText(config::DecryptHex(args[0], config::kIniKey)) << "\n";
  return kOk;
}

int Set(const std::vector<std::string>& args) {
  if (args.size() != 3) return UsageError("set takes FILE KEY VALUE");
  const std::string& file = args[0];
  const std::string& key = args[1];
  std::string value = args[2];
  if (value == "-") {
    if (!std::getline(std::cin, value)) value.clear();
    if (!value.empty() && value.back() == '\r') value.pop_back();
  }
  std::string error;
  if (!config::ini::SetValue(file, key, value, error)) return Failure(error);
  if (key == "PASS") WarnIfReadableByOthers(file);
  std::vector<config::ini::Finding> findings;
  if (config::ini::Check(file, findings, error)) {
    // Keys still missing are expected while a file is being filled.
    for (const config::ini::Finding& f : findings) {
      if (f.line == 0) continue;
      std::cerr << "kranzel-ini: warning: " << Where(file, f.line) << ": " << f.message << "\n";
    }
  }
  return kOk;
}

int Get(const std::vector<std::string>& args) {
  bool showPassword = false;
  std::vector<std::string> rest;
  for (const std::string& arg : args) {
    if (arg == "--show-password") {
      showPassword = true;
    } else {
      rest.push_back(arg);
    }
  }
  if (rest.size() != 2) return UsageError("get takes FILE KEY [--show-password]");
  const std::string& file = rest[0];
  const std::string& key = rest[1];
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec))
    return Failure("cannot read " + file + ": a directory");
  // kranzel's own lookup: empty section, number 0.
  config::ini::LookupResult found = config::ini::Lookup("", key, 0, file);
  if (!found.opened) {
    // The reader refuses anything but a regular file without a word of why.
    std::string why;
    if (std::FILE* again = platform::OpenRegularFile(file, why)) std::fclose(again);
    return Failure("cannot open " + file + (why.empty() ? std::string() : ": " + why));
  }
  if (!found.matched) {
    std::cerr << "kranzel-ini: no record answers the lookup of " << key << "\n";
    return kProblems;
  }
  if (found.record.key != key) {
    std::cerr << "kranzel-ini: note: the lookup of " << key << " is answered by the record at "
              << Where(file, found.record.line) << " (key '" << found.record.key
              << "'); see 'kranzel-ini check " << file << "'\n";
  }
  if (key == "PASS" && !showPassword) {
    std::cout << "PASS is set (" << found.value.size() << " characters); "
              << "add --show-password to print it\n";
  } else {
    std::cout << found.value << "\n";
  }
  return kOk;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("check takes FILE");
  const std::string& file = args[0];
  std::vector<config::ini::Finding> findings;
  std::string error;
  if (!config::ini::Check(file, findings, error)) return Failure(error);
  WarnIfReadableByOthers(file);
  // Where an ACL decides, say whom it lets read the password.
  const platform::FileReaders readers = platform::ReadersOf(file);
  if (!readers.readers.empty()) std::cout << file << ": may be read by " << readers.readers << "\n";
  for (const config::ini::Finding& f : findings) {
    std::cout << Where(file, f.line) << ": " << f.message << "\n";
  }
  if (!findings.empty()) return kProblems;
  std::cout << file << ": ok\n";
  return kOk;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return UsageError("no command given");
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h" || command == "help") {
    std::cout << kUsage;
    return kOk;
  }
  if (command == "--version") {
    std::cout << "kranzel-ini " KRANZEL_VERSION "\n";
    return kOk;
  }
  if (command == "encrypt") return Encrypt(args);
  if (command == "decrypt") return Decrypt(args);
  if (command == "set") return Set(args);
  if (command == "get") return Get(args);
  if (command == "check") return Check(args);
  return UsageError("unknown command '" + command + "'");
}
