#include "app_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "mkfloppyset/fat12_builder.h"
#include "mkfloppyset/flat_builder.h"
#include "mkfloppyset/pe_stub.h"

namespace floppyset::testing {

namespace fs = std::filesystem;

void WriteTree(const std::string& dir, const DiskFiles& files) {
  fs::create_directories(dir);
  for (const auto& [path, content] : files) {
    const fs::path target = fs::path(dir) / path;
    if (!path.empty() && path.back() == '/') {
      fs::create_directories(target);
      continue;
    }
    fs::create_directories(target.parent_path());
    WriteFileText(target.string(), content);
  }
  // Times last, so that making a file does not touch its directory's time afterwards.
  const timespec times[2] = {{kFixtureFileTime, 0}, {kFixtureFileTime, 0}};
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
  }
}

std::vector<uint8_t> BuildImage(const std::string& scratch, const DiskFiles& files, bool flat) {
  fs::remove_all(scratch);
  WriteTree(scratch, files);
  std::vector<uint8_t> image;
  std::string error;
  const bool built =
      flat ? BuildFlatImage(scratch, image, error) : BuildFat12Image(scratch, image, error);
  EXPECT_TRUE(built) << error;
  return image;
}

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(dir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const std::string& path) {
  return fs::is_directory(path);
}
bool IsFile(const std::string& path) {
  return fs::is_regular_file(path);
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  if (const char* old = std::getenv("TZ")) {
    old_ = old;
    had_old_ = true;
  }
  ::setenv("TZ", tz, 1);
  ::tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  if (had_old_) {
    ::setenv("TZ", old_.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}

AppTest::AppTest()
    : temp_dir(root / "tmp"),
      program_path(root / "setup.exe"),
      floppy_dir(root / "floppies"),
      drives(host, floppy_dir) {
  fs::create_directories(temp_dir);
  fs::create_directories(floppy_dir);
  host.SetTempDirectory(temp_dir);
  host.SetFreeBytes(uint64_t{1} << 40);
  state.ProgramPath = program_path;
}

PackageRecipe AppTest::Recipe(const std::string& product) {
  PackageRecipe recipe;
  recipe.product_name = product;
  recipe.archive = ArchiveFormat::kLha;
  recipe.header.AutostartMode = 0;
  recipe.created = kFixtureFileTime;
  return recipe;
}

void AppTest::MakeProgram(const PackageRecipe& recipe, const std::vector<DiskFiles>& disks) {
  ScopedTimeZone utc("UTC0");  // FAT12 times are local: make them the fixture's UTC time
  std::vector<std::vector<uint8_t>> images;
  for (const DiskFiles& files : disks) {
    images.push_back(BuildImage(root / "scratch", files, recipe.header.UnpackMode != 0));
  }
  fs::remove_all(root / "scratch");
  std::vector<uint8_t> program;
  std::string error;
  ASSERT_TRUE(BuildSetupProgram(MinimalPeStub(), recipe, images, program, error)) << error;
  WriteFileBytes(program_path, program);
}

ProgramOutcome AppTest::Run(const std::string& switches) {
  return RunProgram(state, host, ui, drives, program_path + " " + switches);
}

}  // namespace floppyset::testing
