#include "cli/password_input.h"

#include <iostream>
#include <string>

#include "engine/error.h"
#include "engine/password.h"
#include "engine/path_text.h"
#include "imagefile/file_io.h"

namespace kavun::cli {
namespace {

std::string StripOneNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  return text;
}

// One line of standard input without its line end, held to the password file's limit and free
// of NUL bytes (no text has them: /dev/zero or a binary file piped in by mistake). Reading stops
// at the line's end, past the limit or at a NUL byte, so that an endless input costs nothing.
std::string ReadPasswordLine() {
  std::string line;
  std::streambuf* in = std::cin.rdbuf();
  bool any = false;
  for (int c = in->sbumpc(); c != std::char_traits<char>::eof(); c = in->sbumpc()) {
    any = true;
    if (c == '\n') break;
    if (c == '\0') {
      throw Error(ErrorKind::Other, "",
                  "the password on standard input contains a NUL byte (byte " +
                      std::to_string(line.size() + 1) +
                      "); is standard input a binary file or a device? Give the password as text");
    }
    if (line.size() == kMaxPasswordFileBytes) {
      throw Error(ErrorKind::Other, "",
                  "the password line on standard input is longer than " +
                      std::to_string(kMaxPasswordFileBytes) +
                      " bytes (1 MiB); is standard input the right file?");
    }
    line += static_cast<char>(c);
  }
  if (!any) throw Error(ErrorKind::NoPassword, "", "on standard input");
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

std::string ReadPassword(const Options& o) {
  std::string utf8;
  if (o.PasswordFile) {
    // A regular file only (a FIFO or /dev/zero would never end), and a small one.
    utf8 = StripOneNewline(ReadRegularFile(PathFromUtf8(*o.PasswordFile), kMaxPasswordFileBytes));
  } else if (o.PasswordStdin) {
    utf8 = ReadPasswordLine();
  } else {
    std::cerr << "kavun-cli: warning: a password given with --password can be seen by other "
                 "users in the process list; prefer --password-file or --password-stdin\n";
    utf8 = *o.PasswordText;
  }
  if (utf8.empty()) {
    // Used as designed, but most likely a mistake (an unset variable, an empty file).
    std::cerr << "kavun-cli: warning: the password is empty; the picture is scrambled with the "
                 "key of the empty password, which anyone can undo\n";
  }
  try {
    return PasswordToCp932(utf8);
  } catch (const Error& e) {
    throw o.PasswordFile ? e.WithPath(*o.PasswordFile) : e;
  }
}

}  // namespace kavun::cli
