// mkfloppyset: builds a setup program file from folders or disk images, or FAT12 floppy
// images from folders.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/codepage.h"
#include "base/time.h"
#include "mkfloppyset/fat12_builder.h"
#include "mkfloppyset/flat_builder.h"
#include "mkfloppyset/image_checks.h"
#include "mkfloppyset/package_writer.h"
#include "mkfloppyset/pe_stub.h"

namespace fs = std::filesystem;
using namespace floppyset;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    R"(Usage: mkfloppyset [OPTION...] -o SETUP.EXE FOLDER...
       mkfloppyset [OPTION...] -o SETUP.EXE IMAGE...
       mkfloppyset --fat12 [--split] -o OUTDIR FOLDER...

Makes a setup program that writes a set of 1.44 MB floppies, or unpacks their
files to the hard disk, on Windows; floppyset(1) reads it on Linux.

  mkfloppyset --split -o SETUP.EXE docs   docs spread over as many floppies
                                          as it needs
  mkfloppyset -o SETUP.EXE disk1 disk2    each folder unpacked to the hard
                                          disk (no floppies)
  mkfloppyset -o SETUP.EXE a.img b.img    a floppy set of these disk images

Inputs:
  --split                 spread each FOLDER over FAT12 floppies, each file
                          whole on one floppy, its folders repeated as needed
  --disks=N               with --split: exactly N floppies, filled evenly
  --flat                  an IMAGE file is a flat image (as made from a folder),
                          not a FAT12 floppy image
  --fat12                 write FAT12 floppy images OUTDIR/FOLDER.img instead of
                          a setup program (with --split: FOLDER-1.img ...)
  --oem-codepage=N        code page of the names on the floppies (default 437)
  --ansi-codepage=N       code page of the texts below and of the names of an
                          unpack set (default 1252); both: 437, 850, 852, 866,
                          1250, 1251, 1252

What the program says and does:
  --product=TEXT          product name shown in every window (default: none)
  --final-message=TEXT    text shown at the end (default: none)
  --installer=NAME        program started after unpacking (default: SETUP.EXE;
                          empty: none)
  --autostart[=0|1]       unpack to a temporary folder and start the installer
                          (default: 1)
  --unpack[=0|1]          unpack to the hard disk instead of writing floppies
                          (default: 0; always 1 for folders without --split)
  --verify[=0|1]          read every floppy back after writing it (default: 1)
  --boot-disk[=0|1]       the first floppy is a boot disk (default: 0)
  --dialog-style=N        0 plain windows, 1 windows with a banner (default: 0)
  --created=YYYY-MM-DDTHH:MM:SS
                          the date of the set, UTC (default: now)

How it is built:
  -o, --output=FILE       the setup program (or folder, with --fat12) to write
  --stub=PROGRAM.exe      the Windows program that carries the set (default:
                          share/floppyset/floppyset.exe beside this program)
  --archive=apst|lha      archive kind (default: apst, compressed)
  --dict=1024|2048|4096   compression window in bytes (default: 4096)
  -v, --verbose           list what went on which floppy
  -h, --help              show this help;  --version  show the version

Exit status: 0 done, 1 failed (nothing is written), 2 bad usage.
)";

struct Options {
  std::string output;
  std::string stub;
  bool fat12 = false;
  bool split = false;
  bool flat = false;
  bool verbose = false;
  unsigned disk_count = 0;
  int ansi_code_page = kAnsiCodePage;
  int oem_code_page = kOemCodePage;
  std::vector<std::string> inputs;
  PackageRecipe recipe;
};

void Say(const std::string& message) {
  std::fprintf(stderr, "mkfloppyset: %s\n", message.c_str());
}

int Fail(const std::string& message) {
  Say(message);
  return kExitFailure;
}

int UsageError(const std::string& message) {
  Say(message);
  std::fputs("Try 'mkfloppyset --help' for more information.\n", stderr);
  return kExitUsage;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Writes next to `path` and renames, so that a failure leaves nothing behind.
bool WriteFileWhole(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::path partial = path;
  partial += ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (out.flush()) {
      out.close();
      std::error_code error;
      fs::rename(partial, path, error);
      if (!error) return true;
    }
  }
  std::error_code ignored;
  fs::remove(partial, ignored);
  return false;
}

std::optional<uint32_t> ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// A flag with an optional "=0" or "=1".
std::optional<uint16_t> ParseFlag(const std::string& value, bool has_value) {
  if (!has_value) return 1;
  if (value == "0" || value == "1") return static_cast<uint16_t>(value[0] - '0');
  return std::nullopt;
}

std::optional<int64_t> ParseCreated(const std::string& text) {
  unsigned year, month, day, hour, minute, second;
  char tail;
  if (std::sscanf(text.c_str(), "%4u-%2u-%2uT%2u:%2u:%2u%c", &year, &month, &day, &hour, &minute,
                  &second, &tail) != 6) {
    return std::nullopt;
  }
  // Refuses fields out of range and days past the end of their month (2007-02-30).
  const CalendarTime time{static_cast<uint16_t>(year),
                          static_cast<uint16_t>(month),
                          0,
                          static_cast<uint16_t>(day),
                          static_cast<uint16_t>(hour),
                          static_cast<uint16_t>(minute),
                          static_cast<uint16_t>(second),
                          0};
  const std::optional<FileTime> file_time = CalendarToFileTime(time);
  if (!file_time) return std::nullopt;
  return FileTimeToUnixSeconds(*file_time);
}

// Applies one "--name[=value]" option; false with a reason for a bad one.
bool ApplyOption(Options& o, const std::string& name, const std::string& value, bool has_value,
                 std::string& error) {
  PackageHeader& h = o.recipe.header;
  auto flag = [&](uint16_t& field) {
    const std::optional<uint16_t> parsed = ParseFlag(value, has_value);
    if (parsed) field = *parsed;
    return parsed.has_value();
  };
  auto code_page = [&](int& page) {
    const std::optional<uint32_t> number = ParseNumber(value);
    if (number && IsKnownCodePage(static_cast<int>(*number))) page = static_cast<int>(*number);
    return number && IsKnownCodePage(static_cast<int>(*number));
  };
  bool ok = true;
  if (name == "--output")
    o.output = value, ok = has_value && !value.empty();
  else if (name == "--stub")
    o.stub = value, ok = has_value && !value.empty();
  else if (name == "--product")
    o.recipe.product_name = value, ok = has_value;
  else if (name == "--final-message")
    o.recipe.final_message = value, ok = has_value;
  else if (name == "--installer")
    o.recipe.installer_name = value, ok = has_value;
  else if (name == "--archive") {
    ok = value == "apst" || value == "lha";
    o.recipe.archive = value == "lha" ? ArchiveFormat::kLha : ArchiveFormat::kApst;
  } else if (name == "--dict") {
    ok = value == "1024" || value == "2048" || value == "4096";
    o.recipe.dictionary_bits = value == "1024" ? 4 : value == "2048" ? 5 : 6;
  } else if (name == "--dialog-style") {
    const std::optional<uint32_t> style = ParseNumber(value);
    if (style) h.DialogStyle = *style;
    ok = style.has_value();
  } else if (name == "--boot-disk")
    ok = flag(h.BootDisk);
  else if (name == "--verify")
    ok = flag(h.VerifyAfterWrite);
  else if (name == "--unpack")
    ok = flag(h.UnpackMode);
  else if (name == "--autostart")
    ok = flag(h.AutostartMode);
  else if (name == "--created") {
    const std::optional<int64_t> created = ParseCreated(value);
    if (created) o.recipe.created = *created;
    ok = created.has_value();
  } else if (name == "--disks") {
    const std::optional<uint32_t> count = ParseNumber(value);
    ok = count && *count >= 1 && *count <= 0xFFFF;
    if (ok) o.disk_count = *count;
  } else if (name == "--ansi-codepage")
    ok = code_page(o.ansi_code_page);
  else if (name == "--oem-codepage")
    ok = code_page(o.oem_code_page);
  else if (name == "--fat12" && !has_value)
    o.fat12 = true;
  else if (name == "--split" && !has_value)
    o.split = true;
  else if (name == "--flat" && !has_value)
    o.flat = true;
  else if (name == "--verbose" && !has_value)
    o.verbose = true;
  else {
    error = "unknown option " + name + (has_value ? "=" : "");
    return false;
  }
  if (!ok) error = "bad value for " + name + ": '" + value + "'";
  return ok;
}

// The header's texts in the ANSI code page; false naming the text and the character.
bool EncodeTexts(Options& o, std::string& error) {
  const std::pair<std::string*, const char*> texts[] = {
      {&o.recipe.product_name, "--product"},
      {&o.recipe.final_message, "--final-message"},
      {&o.recipe.installer_name, "--installer"}};
  for (const auto& [text, option] : texts) {
    char32_t missing = 0;
    const std::optional<std::string> encoded = Utf8ToCodePage(*text, o.ansi_code_page, &missing);
    if (!encoded) {
      char code[16];
      std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(missing));
      error = std::string(option) + ": " +
              (missing == 0xFFFD
                   ? std::string("not UTF-8 text")
                   : "the character '" + EncodeUtf8(missing) + "' (" + code +
                         ") has no equivalent in code page " + std::to_string(o.ansi_code_page));
      return false;
    }
    *text = *encoded;
  }
  return true;
}

bool ParseArguments(int argc, char** argv, Options& o, std::string& error) {
  o.recipe.created = static_cast<int64_t>(std::time(nullptr));
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || arg == "-" || arg.empty() || arg[0] != '-') {
      o.inputs.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-o") {
      if (i + 1 == argc) {
        error = "-o needs a file name";
        return false;
      }
      o.output = argv[++i];
    } else if (arg == "-v") {
      o.verbose = true;
    } else if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      const bool has_value = equals != std::string::npos;
      if (!ApplyOption(o, arg.substr(0, equals), has_value ? arg.substr(equals + 1) : "", has_value,
                       error)) {
        return false;
      }
    } else {
      error = "unknown option " + arg;
      return false;
    }
  }
  if (o.output.empty())
    error = "no output given (-o)";
  else if (o.inputs.empty())
    error = o.fat12 || o.split ? "no folder given" : "no folder or disk image given";
  else if (o.disk_count != 0 && !o.split)
    error = "--disks needs --split";
  else if (o.flat && (o.split || o.fat12))
    error = "--flat is for flat image files, not with --split or --fat12";
  return error.empty();
}

std::string FolderName(const std::string& dir) {
  std::string name = fs::path(dir).lexically_normal().filename().string();
  if (name.empty() || name == ".")
    name = fs::absolute(dir).lexically_normal().parent_path().filename().string();
  return name.empty() ? "disk" : name;
}

bool SamePlace(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

// True when `path`, or the folder it would be made in, lies inside `folder`.
bool Inside(const fs::path& path, const fs::path& folder) {
  std::error_code error;
  const fs::path parent = fs::weakly_canonical(fs::absolute(path), error);
  const fs::path root = fs::weakly_canonical(fs::absolute(folder), error);
  if (error) return false;
  auto p = parent.begin();
  for (auto r = root.begin(); r != root.end(); ++r, ++p) {
    if (r->empty()) continue;  // a trailing separator
    if (p == parent.end() || *p != *r) return false;
  }
  return true;
}

// Refuses an output that is an input or lies inside an input folder, and inputs given twice.
bool CheckPlaces(const Options& o, const std::vector<fs::path>& outputs, std::string& error) {
  std::vector<std::string> inputs = o.inputs;
  if (!o.stub.empty()) inputs.push_back(o.stub);
  for (size_t i = 0; i < inputs.size(); ++i) {
    for (size_t j = 0; j < i; ++j) {
      if (SamePlace(inputs[i], inputs[j])) {
        error = "\"" + inputs[j] + "\" and \"" + inputs[i] + "\" are the same input";
        return false;
      }
    }
    for (const fs::path& out : outputs) {
      if (SamePlace(out, inputs[i]) || (fs::is_directory(inputs[i]) && Inside(out, inputs[i]))) {
        error = "the output \"" + out.string() + "\" would overwrite or lie inside the input \"" +
                inputs[i] + "\"";
        return false;
      }
    }
  }
  return true;
}

void Warn(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) Say("warning: " + warning);
}

void ListDisk(size_t number, const Fat12Disk& disk) {
  std::printf("disk %zu: %zu file%s\n", number, disk.files.size(),
              disk.files.size() == 1 ? "" : "s");
  for (const auto& [path, short_path] : disk.files) {
    std::printf("  %s  %s\n", short_path.c_str(), path.c_str());
  }
}

int MakeFat12Images(const Options& o) {
  Fat12Options fat{o.oem_code_page, nullptr};
  std::vector<std::string> warnings;
  fat.warnings = &warnings;
  std::vector<std::pair<fs::path, std::vector<uint8_t>>> images;
  for (const std::string& dir : o.inputs) {
    if (!fs::is_directory(dir)) return Fail("not a folder: " + dir);
    const std::string name = FolderName(dir);
    std::string error;
    if (o.split) {
      std::vector<Fat12Disk> disks;
      if (!SplitToFat12Images(dir, o.disk_count, disks, error, fat)) return Fail(error);
      for (size_t i = 0; i < disks.size(); ++i) {
        if (o.verbose) ListDisk(images.size() + 1, disks[i]);
        images.emplace_back(fs::path(o.output) / (name + "-" + std::to_string(i + 1) + ".img"),
                            std::move(disks[i].image));
      }
    } else {
      std::vector<uint8_t> image;
      if (!BuildFat12Image(dir, image, error, fat)) return Fail(error);
      images.emplace_back(fs::path(o.output) / (name + ".img"), std::move(image));
    }
  }
  std::vector<fs::path> outputs;
  for (const auto& [path, image] : images) {
    for (const fs::path& other : outputs) {
      if (other == path) return Fail("two folders would make the same image " + path.string());
    }
    outputs.push_back(path);
  }
  std::string error;
  if (!CheckPlaces(o, outputs, error)) return Fail(error);
  Warn(warnings);

  std::error_code code;
  const bool made_folder = fs::create_directories(o.output, code);
  if (code || !fs::is_directory(o.output)) return Fail("cannot make the folder " + o.output);
  for (size_t i = 0; i < images.size(); ++i) {
    if (WriteFileWhole(images[i].first, images[i].second)) continue;
    for (size_t j = 0; j < i; ++j) fs::remove(images[j].first, code);
    if (made_folder) fs::remove(o.output, code);
    return Fail("cannot write " + images[i].first.string());
  }
  return 0;
}

// Reads or builds every image: folders split into FAT12 images or made flat images, image
// files checked.
bool LoadImages(Options& o, std::vector<std::vector<uint8_t>>& images,
                std::vector<std::string>& warnings, std::string& error) {
  bool any_fat = false, any_flat = false;
  Fat12Options fat{o.oem_code_page, &warnings};
  for (const std::string& input : o.inputs) {
    if (fs::is_directory(input)) {
      if (o.split) {
        std::vector<Fat12Disk> disks;
        if (!SplitToFat12Images(input, o.disk_count, disks, error, fat)) return false;
        for (Fat12Disk& disk : disks) {
          if (o.verbose) ListDisk(images.size() + 1, disk);
          images.push_back(std::move(disk.image));
        }
        any_fat = true;
        continue;
      }
      std::vector<uint8_t> image;
      if (!BuildFlatImage(input, image, error, o.ansi_code_page)) {
        error = input + ": " + error;
        return false;
      }
      images.push_back(std::move(image));
      any_flat = true;
      continue;
    }
    std::vector<uint8_t> image;
    if (!fs::is_regular_file(input) || !ReadFile(input, image)) {
      error = "cannot read the disk image " + input;
      return false;
    }
    std::string reason;
    if (!(o.flat ? CheckFlatImageBytes(image, reason) : CheckFat12FloppyImage(image, reason))) {
      error = input + " " + reason + (o.flat ? "" : " (--flat for a flat image)");
      return false;
    }
    (o.flat ? any_flat : any_fat) = true;
    images.push_back(std::move(image));
  }
  if (any_fat && any_flat) {
    error = "a set holds either floppy images or flat (unpack) images, not both";
    return false;
  }
  if (any_flat) o.recipe.header.UnpackMode = 1;
  return true;
}

// The folder this program lies in.
fs::path OwnFolder(const char* argv0) {
#ifdef _WIN32
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) return fs::path(path).parent_path();
#else
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) return self.parent_path();
#endif
  return fs::absolute(argv0).parent_path();
}

// The Win32 setup program installed with this one; empty when there is none.
std::string DefaultStub(const char* argv0) {
  const fs::path own = OwnFolder(argv0);
  for (const fs::path& candidate :
       {own / ".." / "share" / "floppyset" / "floppyset.exe", own / "floppyset.exe"}) {
    std::error_code error;
    if (fs::is_regular_file(candidate, error)) return candidate.lexically_normal().string();
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") break;
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("mkfloppyset " MKFLOPPYSET_VERSION);
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, options, error) || !EncodeTexts(options, error)) {
    return UsageError(error);
  }
  if (options.fat12) return MakeFat12Images(options);

  bool minimal_stub = false;
  if (options.stub.empty()) {
    options.stub = DefaultStub(argv[0]);
    minimal_stub = options.stub.empty();
  }
  if (!CheckPlaces(options, {options.output}, error)) return Fail(error);
  std::vector<std::vector<uint8_t>> images;
  std::vector<std::string> warnings;
  if (!LoadImages(options, images, warnings, error)) return Fail(error);
  Warn(warnings);
  std::vector<uint8_t> stub = MinimalPeStub();
  if (!minimal_stub && !ReadFile(options.stub, stub)) {
    return Fail("cannot read the stub " + options.stub);
  }
  std::vector<uint8_t> program;
  if (!BuildSetupProgram(std::move(stub), options.recipe, images, program, error)) {
    return Fail(minimal_stub ? error : options.stub + ": " + error);
  }
  if (!WriteFileWhole(options.output, program)) return Fail("cannot write " + options.output);
  if (minimal_stub) {
    Say("note: no floppyset.exe beside this program (share/floppyset/floppyset.exe); the set "
        "carries a minimal program that only floppyset(1) reads, not Windows (see --stub)");
  }
  return 0;
}
