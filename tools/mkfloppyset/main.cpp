// mkfloppyset: builds a setup program file from a stub and disk images, or FAT12 floppy
// images from directories.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/time.h"
#include "mkfloppyset/fat12_builder.h"
#include "mkfloppyset/flat_builder.h"
#include "mkfloppyset/package_writer.h"
#include "mkfloppyset/pe_stub.h"

namespace fs = std::filesystem;
using namespace floppyset;

namespace {

constexpr size_t kFloppyImageSize = 1474560;

constexpr char kUsage[] =
    R"(Usage:
  mkfloppyset -o OUT.exe [options] IMAGE...
  mkfloppyset --fat12 -o OUTDIR DIR...

Builds a setup program: the stub, padded to its SizeOfImage and given its PE checksum,
followed by the setup package (header, product name, final message, installer name and an
archive holding one disk image per floppy, named image00.tii, image01.tii, ...).

IMAGE is a 1.44 MB FAT12 floppy image file, or a directory, which is stored as a flat image
for unpacking to hard disk (UnpackMode is then set). A package holds one kind only.

Options:
  -o, --output=FILE         the setup program to write (required)
  --stub=PROGRAM.exe        the PE program to carry the package (default: a minimal PE
                            of headers only, not runnable, for tests)
  --product=TEXT            product name (default: empty)
  --final-message=TEXT      text shown at the end of a run (default: none)
  --installer=NAME          installer started by autostart (default: SETUP.EXE;
                            empty: none)
  --archive=apst|lha        archive kind (default: apst, imploded members)
  --dict=1024|2048|4096     implode dictionary size (default: 4096)
  --dialog-style=N          DialogStyle: 0 plain windows, 1 banner windows (default: 0)
  --boot-disk[=0|1]         BootDisk (default: 0)
  --verify[=0|1]            VerifyAfterWrite (default: 1)
  --unpack[=0|1]            UnpackMode: unpack to hard disk instead of writing floppies
                            (default: 0; always 1 for directory images)
  --autostart[=0|1]         AutostartMode (default: 1)
  --created=YYYY-MM-DDTHH:MM:SS
                            creation time, UTC (default: now)
  --fat12                   make FAT12 images instead: each DIR becomes OUTDIR/DIR.img
  -h, --help                this text

Exit status: 0 on success, 1 on bad input (the reason is written to stderr).
)";

struct Options {
  std::string output;
  std::string stub;
  bool fat12 = false;
  std::vector<std::string> inputs;
  PackageRecipe recipe;
};

int Fail(const std::string& message) {
  std::fprintf(stderr, "mkfloppyset: %s\n", message.c_str());
  return 1;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out.flush());
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

// Applies one "--name=value" option; false with a reason for a bad one.
bool ApplyOption(Options& o, const std::string& name, const std::string& value, bool has_value,
                 std::string& error) {
  PackageHeader& h = o.recipe.header;
  auto flag = [&](uint16_t& field) {
    const std::optional<uint16_t> parsed = ParseFlag(value, has_value);
    if (parsed) field = *parsed;
    return parsed.has_value();
  };
  bool ok = true;
  if (name == "--output")
    o.output = value, ok = has_value;
  else if (name == "--stub")
    o.stub = value, ok = has_value;
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
  } else if (name == "--fat12" && !has_value)
    o.fat12 = true;
  else {
    error = "unknown option " + name + " (see mkfloppyset --help)";
    return false;
  }
  if (!ok) error = "bad value for " + name + ": '" + value + "' (see mkfloppyset --help)";
  return ok;
}

bool ParseArguments(int argc, char** argv, Options& o, std::string& error) {
  o.recipe.created = static_cast<int64_t>(std::time(nullptr));
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-o") {
      if (i + 1 == argc) {
        error = "-o needs a file name";
        return false;
      }
      o.output = argv[++i];
    } else if (arg.rfind("--", 0) == 0) {
      const size_t equals = arg.find('=');
      const bool has_value = equals != std::string::npos;
      if (!ApplyOption(o, arg.substr(0, equals), has_value ? arg.substr(equals + 1) : "", has_value,
                       error)) {
        return false;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + arg + " (see mkfloppyset --help)";
      return false;
    } else {
      o.inputs.push_back(arg);
    }
  }
  if (o.output.empty())
    error = "no output given (-o)";
  else if (o.inputs.empty())
    error = o.fat12 ? "no directory given" : "no disk image given";
  return error.empty();
}

int MakeFat12Images(const Options& o) {
  std::error_code ec;
  fs::create_directories(o.output, ec);
  for (const std::string& dir : o.inputs) {
    if (!fs::is_directory(dir)) return Fail("not a directory: " + dir);
    std::vector<uint8_t> image;
    std::string error;
    if (!BuildFat12Image(dir, image, error)) return Fail(dir + ": " + error);
    std::string name = fs::path(dir).lexically_normal().filename().string();
    if (name.empty() || name == ".")
      name = fs::path(dir).lexically_normal().parent_path().filename().string();
    const std::string out = (fs::path(o.output) / (name + ".img")).string();
    if (!WriteFile(out, image)) return Fail("cannot write " + out);
  }
  return 0;
}

// Reads every IMAGE: files as FAT12 floppy images, directories as flat images.
bool LoadImages(Options& o, std::vector<std::vector<uint8_t>>& images, std::string& error) {
  bool any_file = false, any_directory = false;
  for (const std::string& input : o.inputs) {
    std::vector<uint8_t> image;
    if (fs::is_directory(input)) {
      any_directory = true;
      if (!BuildFlatImage(input, image, error)) {
        error = input + ": " + error;
        return false;
      }
    } else {
      any_file = true;
      if (!fs::is_regular_file(input) || !ReadFile(input, image)) {
        error = "cannot read disk image " + input;
        return false;
      }
      if (image.size() > kFloppyImageSize) {
        error =
            input + " is larger than a 1.44 MB floppy (" + std::to_string(image.size()) + " bytes)";
        return false;
      }
    }
    images.push_back(std::move(image));
  }
  if (any_file && any_directory) {
    error = "a package holds either FAT12 image files or directories, not both";
    return false;
  }
  if (any_directory) o.recipe.header.UnpackMode = 1;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  Options options;
  std::string error;
  if (!ParseArguments(argc, argv, options, error)) return Fail(error);
  if (options.fat12) return MakeFat12Images(options);

  std::vector<std::vector<uint8_t>> images;
  if (!LoadImages(options, images, error)) return Fail(error);
  std::vector<uint8_t> stub = MinimalPeStub();
  if (!options.stub.empty() && !ReadFile(options.stub, stub)) {
    return Fail("cannot read stub " + options.stub);
  }
  std::vector<uint8_t> program;
  if (!BuildSetupProgram(std::move(stub), options.recipe, images, program, error)) {
    return Fail(options.stub.empty() ? error : options.stub + ": " + error);
  }
  if (!WriteFile(options.output, program)) return Fail("cannot write " + options.output);
  return 0;
}
