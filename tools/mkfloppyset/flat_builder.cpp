#include "mkfloppyset/flat_builder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>

#include "base/bytes.h"
#include "base/time.h"

namespace floppyset {
namespace {

namespace fs = std::filesystem;

constexpr size_t kHeaderSize = 292;
constexpr size_t kPathField = 32;
constexpr size_t kPathLimit = 260;  // the stored path and its NUL
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrArchive = 0x20;

FileTime WrittenTimeOf(const fs::path& path) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return {};
  const auto system = std::chrono::file_clock::to_sys(written);
  const auto ticks =
      std::chrono::duration_cast<std::chrono::nanoseconds>(system.time_since_epoch()).count() / 100;
  FileTime time = UnixSecondsToFileTime(0);
  time.value += static_cast<uint64_t>(ticks);
  return time;
}

uint32_t AttributesOf(const fs::path& path) {
  std::error_code error;
  const fs::perms perms = fs::status(path, error).permissions();
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  return kAttrArchive | (!error && (perms & write) == fs::perms::none ? kAttrReadOnly : 0);
}

// Every regular file below `directory`, as paths relative to it, in name order.
bool CollectFiles(const fs::path& directory, const std::string& prefix,
                  std::vector<std::pair<std::string, fs::path>>& files, std::string& error) {
  std::error_code code;
  std::vector<fs::directory_entry> items;
  for (const fs::directory_entry& item : fs::directory_iterator(directory, code)) {
    items.push_back(item);
  }
  if (code) {
    error = "cannot read the directory \"" + directory.string() + "\": " + code.message();
    return false;
  }
  std::sort(items.begin(), items.end());
  for (const fs::directory_entry& item : items) {
    const std::string relative = prefix + item.path().filename().string();
    if (item.is_directory(code)) {
      if (!CollectFiles(item.path(), relative + "\\", files, error)) return false;
    } else if (item.is_regular_file(code)) {
      files.emplace_back(relative, item.path());
    } else {
      error = "\"" + item.path().string() + "\" is neither a file nor a directory";
      return false;
    }
  }
  return true;
}

}  // namespace

bool BuildFlatImage(const std::string& directory, std::vector<uint8_t>& image, std::string& error,
                    int ansi_code_page) {
  std::vector<std::pair<std::string, fs::path>> files;
  if (!CollectFiles(directory, "", files, error)) return false;
  image.clear();
  for (const auto& [name, source] : files) {
    char32_t missing = 0;
    const std::optional<std::string> converted = Utf8ToCodePage(name, ansi_code_page, &missing);
    if (!converted) {
      error = "\"" + name + "\": " +
              (missing == 0xFFFD
                   ? std::string("not a UTF-8 name")
                   : "the character '" + EncodeUtf8(missing) + "' has no equivalent in code page " +
                         std::to_string(ansi_code_page));
      return false;
    }
    const std::string& relative = *converted;
    if (relative.size() >= kPathLimit) {
      error = "the path \"" + name + "\" is longer than 259 characters";
      return false;
    }
    std::error_code code;
    const uint64_t size = fs::file_size(source, code);
    if (code || size > 0xFFFFFFFFu) {
      error = "cannot read the size of \"" + source.string() + "\"";
      return false;
    }
    const size_t at = image.size();
    image.resize(at + kHeaderSize + size, 0);
    uint8_t* header = image.data() + at;
    const FileTime written = WrittenTimeOf(source);
    StoreLe32(header, AttributesOf(source));
    StoreLe64(header + 4, written.value);  // creation and access: the last write as well
    StoreLe64(header + 12, written.value);
    StoreLe64(header + 20, written.value);
    StoreLe32(header + 28, static_cast<uint32_t>(size));
    std::copy(relative.begin(), relative.end(), header + kPathField);
    std::ifstream in(source, std::ios::binary);
    in.read(reinterpret_cast<char*>(header + kHeaderSize), static_cast<std::streamsize>(size));
    if (static_cast<uint64_t>(in.gcount()) != size) {
      error = "cannot read \"" + source.string() + "\"";
      return false;
    }
  }
  image.resize(image.size() + kHeaderSize, 0);  // the closing record
  return true;
}

}  // namespace floppyset
