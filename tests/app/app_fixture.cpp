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

constexpr int64_t kFileTime = 981173106;  // 2001-02-03 04:05:06 UTC

void WriteTree(const std::string& dir, const DiskFiles& files) {
  fs::create_directories(dir);
  for (const auto& [path, content] : files) {
    const fs::path target = fs::path(dir) / path;
    fs::create_directories(path.back() == '/' ? target : target.parent_path());
    if (path.back() != '/') WriteFileText(target.string(), content);
  }
  // Times last, so that making a file does not touch its directory's time afterwards.
  const timespec times[2] = {{kFileTime, 0}, {kFileTime, 0}};
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    ::utimensat(AT_FDCWD, entry.path().c_str(), times, 0);
  }
}

std::vector<uint8_t> BuildImage(const std::string& scratch, const DiskFiles& files, bool flat) {
  SetTimeZone("UTC0");  // FAT12 times are local: make them the files' UTC time
  fs::remove_all(scratch);
  WriteTree(scratch, files);
  std::vector<uint8_t> image;
  std::string error;
  EXPECT_TRUE(flat ? BuildFlatImage(scratch, image, error) : BuildFat12Image(scratch, image, error))
      << error;
  fs::remove_all(scratch);
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

void SetTimeZone(const char* tz) {
  ::setenv("TZ", tz, 1);
  ::tzset();
}

App::App() {
  fs::create_directories(temp_dir);
  fs::create_directories(floppy_dir);
  host.SetTempDirectory(temp_dir);
  host.SetFreeBytes(uint64_t{1} << 40);
  state.ProgramPath = program_path;
}

PackageRecipe App::Recipe() {
  PackageRecipe recipe;
  recipe.product_name = "Demo Product";
  recipe.archive = ArchiveFormat::kLha;
  recipe.header.AutostartMode = 0;
  recipe.created = kFileTime;
  return recipe;
}

void App::MakeProgram(const PackageRecipe& recipe, const std::vector<DiskFiles>& disks) {
  std::vector<std::vector<uint8_t>> images;
  for (const DiskFiles& files : disks) {
    images.push_back(BuildImage(root / "scratch", files, recipe.header.UnpackMode != 0));
  }
  std::vector<uint8_t> program;
  std::string error;
  ASSERT_TRUE(BuildSetupProgram(MinimalPeStub(), recipe, images, program, error)) << error;
  WriteFileBytes(program_path, program);
}

}  // namespace floppyset::testing
