#include "report/json_report.h"

#include <cstdio>
#include <set>

#include "base/codepage.h"
#include "codec/crc32.h"
#include "image/disk_image.h"
#include "image/flat_image.h"
#include "image/image_check.h"
#include "workspace/workspace.h"

namespace floppyset {
namespace {

// A small writer that keeps the commas and the indentation (two blanks per level).
class JsonWriter {
 public:
  void Open(const char* key, char bracket) {
    Key(key);
    out_ += bracket;
    first_ = true;
    ++depth_;
  }
  void Close(char bracket) {
    --depth_;
    if (!first_) NewLine();
    out_ += bracket;
    first_ = false;
  }
  void Raw(const char* key, const std::string& value) {
    Key(key);
    out_ += value;
  }
  void String(const char* key, const std::string& utf8) { Raw(key, JsonString(utf8)); }
  void Number(const char* key, uint64_t value) { Raw(key, std::to_string(value)); }
  void Bool(const char* key, bool value) { Raw(key, value ? "true" : "false"); }
  std::string Finish() { return out_ + "\n"; }

 private:
  void Key(const char* key) {
    if (!first_) out_ += ',';
    if (depth_ > 0) NewLine();
    first_ = false;
    if (key) out_ += JsonString(key) + ": ";
  }
  void NewLine() { out_ += '\n' + std::string(2 * depth_, ' '); }

  std::string out_;
  bool first_ = true;
  int depth_ = 0;
};

std::string IsoTime(const CalendarTime& t, bool utc) {
  char text[48];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u%s", unsigned{t.year},
                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second}, utc ? "Z" : "");
  return text;
}

// A time the calendar cannot hold is null, as the text report shows it as zeros.
std::string IsoTimeOrNull(const std::optional<CalendarTime>& t, bool utc) {
  return t ? JsonString(IsoTime(*t, utc)) : "null";
}

std::string AttributeLetters(uint32_t attributes) {
  std::string letters;
  if (attributes & kAttrReadOnly) letters += 'R';
  if (attributes & kAttrHidden) letters += 'H';
  if (attributes & kAttrSystem) letters += 'S';
  if (attributes & kAttrArchive) letters += 'A';
  return letters;
}

std::string Crc32Text(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

// `lost`: the file would not come out whole (cut, or skipped for its name). `crc` is that of
// the bytes an unpack writes.
void FileObject(JsonWriter& json, const std::string& path, uint32_t size, uint32_t crc,
                const std::string& mtime, uint32_t attributes, bool lost,
                const std::string& dos_path = {}) {
  json.Open(nullptr, '{');
  json.String("path", path);
  if (!dos_path.empty() && dos_path != path) json.String("dos_path", dos_path);
  json.Number("size", size);
  json.String("crc32", Crc32Text(crc));
  json.Raw("mtime", mtime);
  json.String("attributes", AttributeLetters(attributes));
  if (lost) json.Bool("cut", true);
  json.Close('}');
}

// The paths of the files an image would lose, as stored.
std::set<std::string> LostPaths(const ImageCheck& check) {
  std::set<std::string> paths;
  for (const FileLoss& loss : check.files) paths.insert(loss.path);
  return paths;
}

// Depth first as the /L report; paths join directories with '/'. Directories that hold
// nothing are kept for their own list.
class FatFiles : public FatTreeVisitor {
 public:
  FatFiles(JsonWriter& json, const DiskImage& image, int oem, const std::set<std::string>& lost)
      : json_(json), image_(image), oem_(oem), lost_(lost) {}
  void File(const DirectoryEntry& file) override {
    const std::string name = HostEntryName(file);
    uint32_t crc = 0xFFFFFFFFu;
    for (const auto& [start, length] : image_.FileRuns(file)) crc = Crc32Update(start, length, crc);
    FileObject(json_, Prefix(true) + image_.HostName(file), file.size(), crc ^ 0xFFFFFFFFu,
               IsoTimeOrNull(DosDateTimeToCalendar(file.date(), file.time()), false),
               file.attributes(), lost_.count(Prefix(false) + name) != 0,
               DosPrefix() + CodePageToUtf8(name, oem_));
    Filled();
  }
  bool Directory(const DirectoryEntry& directory, WalkBlock block) override {
    if (block != WalkBlock::kNone) return false;
    Filled();
    const std::string name = HostEntryName(directory);
    walked_.push_back({Prefix(true) + image_.HostName(directory) + '/', Prefix(false) + name + '/',
                       DosPrefix() + CodePageToUtf8(name, oem_) + '/', false});
    return true;
  }
  void Leave(const DirectoryEntry&) override {
    if (!walked_.back().filled) {
      const std::string& path = walked_.back().utf8;
      empty_.push_back(path.substr(0, path.size() - 1));
    }
    walked_.pop_back();
  }
  const std::vector<std::string>& empty_directories() const { return empty_; }

 private:
  struct Walked {
    std::string utf8, stored, dos;  // the path ending in '/': as unpacked, as stored, as 8.3
    bool filled;                    // something was found in it
  };
  std::string DosPrefix() const { return walked_.empty() ? "" : walked_.back().dos; }
  // The path of the directory walked, ending in '/' (or empty): in UTF-8, or as stored.
  std::string Prefix(bool utf8) const {
    if (walked_.empty()) return "";
    return utf8 ? walked_.back().utf8 : walked_.back().stored;
  }
  void Filled() {
    if (!walked_.empty()) walked_.back().filled = true;
  }

  JsonWriter& json_;
  const DiskImage& image_;
  const int oem_;
  const std::set<std::string>& lost_;
  std::vector<Walked> walked_;
  std::vector<std::string> empty_;
};

void FlatFiles(JsonWriter& json, const FlatImage& image, int ansi,
               const std::set<std::string>& lost) {
  for (const FlatRecord* record = image.FirstRecord(); record; record = image.NextRecord(record)) {
    std::string path(record->RelativePath());
    for (char& c : path) {
      if (c == '\\') c = '/';
    }
    const uint32_t crc = Crc32Update(record->Data(), record->DataSize(), 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
    FileObject(json, CodePageToUtf8(path, ansi), record->DataSize(), crc,
               IsoTimeOrNull(FileTimeToCalendar(record->WrittenTime()), true), record->Attributes(),
               lost.count(path) != 0);
  }
}

// The fields of one image up to its open file list; the caller lists the files and closes.
void OpenImageObject(JsonWriter& json, uint32_t index, const uint8_t* data, size_t size,
                     uint32_t used, const ImageCheck& check) {
  json.Open(nullptr, '{');
  json.Number("index", index + 1);
  json.Number("size", size);
  json.Number("used_size", used);
  json.String("crc32", Crc32Text(Crc32Update(data, size, 0xFFFFFFFFu) ^ 0xFFFFFFFFu));
  json.String("condition", check.sound() ? "intact" : "damaged");
  if (!check.reason.empty()) json.String("damage", check.reason);
  json.Open("files", '[');
}

const char* ConditionName(ImageCondition condition) {
  switch (condition) {
    case ImageCondition::kIntact:
      return "intact";
    case ImageCondition::kDamaged:
      return "damaged";
    case ImageCondition::kMissing:
      break;
  }
  return "missing";
}

void ImageObject(JsonWriter& json, const RunState& state, Host& host, uint32_t index,
                 JsonCodePages pages) {
  if (!state.ImageIntact(index)) {
    // Nothing of it is read: only what became of it.
    const ImageAccount& image = state.Images[index];
    json.Open(nullptr, '{');
    json.Number("index", index + 1);
    json.String("condition", ConditionName(image.condition));
    json.String("reason", image.reason);
    json.Close('}');
    return;
  }
  const std::string path = DiskImagePath(state.WorkspaceDir, index);
  std::vector<std::string> empty_directories;  // flat images have files only
  if (state.PackageUnpackMode != 0) {
    const FlatImage image(host, path);
    const ImageCheck check = CheckFlatImage(image);
    OpenImageObject(json, index, image.data(), image.size(), static_cast<uint32_t>(image.size()),
                    check);
    FlatFiles(json, image, pages.ansi, LostPaths(check));
  } else {
    DiskImage image(host, path);
    // Paths as an unpack into a UTF-8 file system gives them: long names where kept.
    image.SetNameCodePage(pages.oem);
    const ImageCheck check = CheckDiskImage(image);
    OpenImageObject(json, index, image.data(), image.size(), image.UsedImageSize(), check);
    const std::set<std::string> lost = LostPaths(check);
    FatFiles files(json, image, pages.oem, lost);
    image.WalkTree(files);
    empty_directories = files.empty_directories();
  }
  json.Close(']');
  json.Open("empty_directories", '[');
  for (const std::string& directory : empty_directories) json.String(nullptr, directory);
  json.Close(']');
  json.Close('}');
}

void ProductFields(JsonWriter& json, const RunState& state, JsonCodePages pages) {
  const PackageHeader& h = state.Header;
  json.String("product", CodePageToUtf8(state.ProductName, pages.ansi));
  json.Number("disk_count", h.DiskCount);
  json.Raw("created",
           CalendarToFileTime(h.CreationTime) ? JsonString(IsoTime(h.CreationTime, true)) : "null");
  json.Open("package", '{');
  json.String("archive", h.ArchiveKind == 0 ? "lha" : "apst");
  json.String("images", state.PackageUnpackMode == 0 ? "fat12" : "flat");
  json.Number("dialog_style", h.DialogStyle);
  json.Bool("boot_disk", h.BootDisk != 0);
  json.Bool("verify", h.VerifyAfterWrite != 0);
  json.Bool("unpack", state.PackageUnpackMode != 0);
  json.Bool("autostart", h.AutostartMode != 0);
  json.String("installer", CodePageToUtf8(state.InstallerName, pages.ansi));
  json.Close('}');
}

// The members every document starts with: the layout's version and the file it describes.
void Identity(JsonWriter& json, const RunState& state, JsonCodePages pages) {
  json.Number("schema", kJsonSchema);
  json.String("file", MixedToUtf8(state.ProgramPath, pages.ansi));
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + '"';
}

std::string JsonReport(const RunState& state, Host& host, JsonCodePages pages) {
  JsonWriter json;
  json.Open(nullptr, '{');
  Identity(json, state, pages);
  // A set that is not whole still gives its reports, with what became of each image.
  const bool whole = (state.ReportFlags & kFlagList) ? state.SetSound() : state.SetWhole();
  json.Bool("ok", whole);
  json.Bool("setup", true);
  if (!whole) {
    json.String("error", "the set is not whole and sound: " + DescribeSetDamage(state.Images));
    json.Number("exit_status", 1);
  }
  if (state.ReportFlags & kFlagAuth) {
    json.Open("integrity", '{');
    json.Bool("executable", state.Header.ExpectedExeChecksum == state.PeCheckSum);
    json.Bool("package", state.Header.ExpectedPackageChecksum == state.PackageChecksum);
    json.Close('}');
  }
  if (state.ReportFlags & kFlagProduct) ProductFields(json, state, pages);
  if (state.ReportFlags & kFlagList) {
    json.Open("images", '[');
    for (uint32_t index = 0; index < state.Header.DiskCount; ++index) {
      ImageObject(json, state, host, index, pages);
    }
    json.Close(']');
  }
  json.Close('}');
  return json.Finish();
}

std::string JsonFailure(const RunState& state, bool setup, const std::string& reason,
                        int exit_status, JsonCodePages pages) {
  JsonWriter json;
  json.Open(nullptr, '{');
  Identity(json, state, pages);
  json.Bool("ok", false);
  json.Bool("setup", setup);
  json.String("error", reason);
  json.Number("exit_status", static_cast<uint64_t>(exit_status));
  if (state.PackageFound) ProductFields(json, state, pages);
  json.Close('}');
  return json.Finish();
}

}  // namespace floppyset
