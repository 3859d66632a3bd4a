// A fresh directory under the system temp directory, removed with everything in it; and the
// file and shell helpers of the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace floppyset::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteFileText(const std::string& path, const std::string& text);
int RunShell(const std::string& command);             // its exit status, -1 when it could not run
std::string ShellOutput(const std::string& command);  // its standard output

}  // namespace floppyset::testing
