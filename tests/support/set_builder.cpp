#include "support/set_builder.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "mkfloppyset/fat12_builder.h"
#include "mkfloppyset/flat_builder.h"
#include "mkfloppyset/pe_stub.h"
#include "support/temp_dir.h"

namespace floppyset::testing {

namespace fs = std::filesystem;

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

Bytes BuildImage(const std::string& scratch, const DiskFiles& files, bool flat) {
  SetTimeZone("UTC0");  // FAT12 times are local: make them the files' UTC time
  fs::remove_all(scratch);
  WriteTree(scratch, files);
  Bytes image;
  std::string error;
  EXPECT_TRUE(flat ? BuildFlatImage(scratch, image, error) : BuildFat12Image(scratch, image, error))
      << error;
  fs::remove_all(scratch);
  return image;
}

PackageRecipe DemoRecipe() {
  PackageRecipe recipe;
  recipe.product_name = "Demo Product";
  recipe.archive = ArchiveFormat::kLha;
  recipe.header.AutostartMode = 0;
  recipe.created = kFileTime;
  return recipe;
}

void WriteProgram(const std::string& path, const PackageRecipe& recipe,
                  const std::vector<DiskFiles>& disks, const std::string& scratch) {
  std::vector<Bytes> images;
  for (const DiskFiles& files : disks) {
    images.push_back(BuildImage(scratch, files, recipe.header.UnpackMode != 0));
  }
  Bytes program;
  std::string error;
  EXPECT_TRUE(BuildSetupProgram(MinimalPeStub(), recipe, images, program, error)) << error;
  WriteFileBytes(path, program);
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

Bytes ProgramImage(uint32_t size_of_image, uint32_t checksum) {
  Bytes image(size_of_image, 0);
  image[0] = 'M', image[1] = 'Z', image[0x80] = 'P', image[0x81] = 'E';
  PutLe(image, 60, 0x80);
  PutLe(image, 0x80 + 24 + 56, size_of_image);
  PutLe(image, 0x80 + 24 + 64, checksum);
  return image;
}

Bytes ImageLike(size_t size, unsigned seed) {
  Bytes data(size, 0);
  for (size_t i = 0; i < size; ++i) {
    if ((i / 4096 + seed) % 3 == 0) data[i] = static_cast<uint8_t>("FLOPPYSET "[(i + seed) % 10]);
    if ((i / 4096 + seed) % 3 == 1) data[i] = static_cast<uint8_t>(i * seed >> 3);
  }
  return data;
}

}  // namespace floppyset::testing
