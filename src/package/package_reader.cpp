#include "package/package_reader.h"

#include <algorithm>
#include <vector>

#include "base/bytes.h"
#include "base/path.h"
#include "ui/messages.h"

namespace floppyset {
namespace {

bool ReadExactly(File& file, void* buffer, size_t count) {
  return file.Read(buffer, count) == static_cast<int64_t>(count);
}

// Reads a stored string of `length` bytes; the text ends at its first NUL, and at most
// `limit` - 1 characters are kept.
bool ReadPackageString(File& file, uint16_t length, size_t limit, std::string& text) {
  std::vector<char> stored(length);
  if (!ReadExactly(file, stored.data(), stored.size())) return false;
  const auto end = std::find(stored.begin(), stored.end(), '\0');
  text.assign(stored.begin(), end);
  if (text.size() > limit - 1) text.resize(limit - 1);
  return true;
}

// Reads the header and the three strings at the package offset; false (and `state`
// untouched) when they do not lie within the file.
bool ReadHeaderAndStrings(RunState& state, File& program, const PeFields& pe) {
  const std::optional<uint64_t> file_size = program.Size();
  if (!file_size || pe.SizeOfImage > *file_size || !program.Seek(pe.SizeOfImage)) return false;
  uint8_t bytes[kPackageHeaderSize];
  if (!ReadExactly(program, bytes, sizeof bytes)) return false;
  const PackageHeader header = DecodePackageHeader(bytes);
  const uint64_t strings =
      uint64_t{header.ProductNameLength} + header.FinalMessageLength + header.InstallerNameLength;
  if (pe.SizeOfImage + kPackageHeaderSize + strings > *file_size) return false;

  std::string product, final_message, installer;
  if (!ReadPackageString(program, header.ProductNameLength, kTextLimit, product) ||
      !ReadPackageString(program, header.FinalMessageLength, kFinalMessageLimit, final_message) ||
      !ReadPackageString(program, header.InstallerNameLength, kTextLimit, installer)) {
    return false;
  }
  // The archive's first bytes, read where the copy starts from again.
  const uint64_t archive_offset = program.Tell();
  uint8_t head[kArchiveSignatureSize];
  const size_t head_size =
      static_cast<size_t>(std::min<uint64_t>(sizeof head, *file_size - archive_offset));
  if (!ReadExactly(program, head, head_size) || !program.Seek(archive_offset)) return false;
  state.PackagePlausible = JudgePackage(header, pe.SizeOfImage, *file_size, {head, head_size}) ==
                           PackageVerdict::kPlausible;
  state.Header = header;
  state.PackageUnpackMode = header.UnpackMode;
  state.PeCheckSum = pe.CheckSum;
  state.ProductName = std::move(product);
  state.FinalMessage = std::move(final_message);
  state.InstallerName = std::move(installer);
  state.PackageFound = true;
  return true;
}

// Without a package the header stays all zero and the strings empty.
void ForgetPackage(RunState& state) {
  state.Header = PackageHeader();
  state.PackageUnpackMode = 0;
  state.PeCheckSum = 0;
  state.ProductName.clear();
  state.FinalMessage.clear();
  state.InstallerName.clear();
  state.PackageFound = false;
  state.PackagePlausible = false;
}

}  // namespace

bool ReadPeFields(File& program, PeFields& fields) {
  uint8_t dos_header[kDosHeaderSize];
  if (!program.Seek(0) || !ReadExactly(program, dos_header, sizeof dos_header)) return false;
  uint8_t pe_headers[kPeHeadersSize];
  if (!program.Seek(LoadLe32(dos_header + kPeHeaderOffsetField)) ||
      !ReadExactly(program, pe_headers, sizeof pe_headers)) {
    return false;
  }
  const uint8_t* optional_header = pe_headers + kOptionalHeaderOffset;
  fields.SizeOfImage = LoadLe32(optional_header + kSizeOfImageField);
  fields.CheckSum = LoadLe32(optional_header + kCheckSumField);
  return true;
}

bool ReadPackageHeader(RunState& state, Host& host, Ui& ui) {
  ForgetPackage(state);
  const std::unique_ptr<File> program = host.OpenForRead(state.ProgramPath);
  PeFields pe;
  if (!program || !ReadPeFields(*program, pe) || !ReadHeaderAndStrings(state, *program, pe)) {
    return true;  // no package: start-up goes on and refuses the file
  }
  // Another program's bytes: neither their "sizes" nor their copy are worth the disk.
  if (state.RequirePlausiblePackage && !state.PackagePlausible) {
    ForgetPackage(state);
    return true;
  }
  // Summed in 64 bits: two sizes near 4 GiB must not wrap to a small demand.
  const uint64_t required = uint64_t{state.Header.ArchiveSpace} + state.Header.UnpackedSpace;
  if (!CheckTempSpace(host, ui, required)) return false;
  if (!state.WorkspaceDir.empty() && !CopyArchiveToWorkspace(state.WorkspaceDir, host, *program)) {
    // The package is intact; it is the copy that failed: say so rather than blame the file.
    const std::string cause = host.ErrorText();
    ShowStop(ui, FormatMessageId(kMsgCannotCopyPackage, ArchivePath(state.WorkspaceDir).c_str(),
                                 (cause.empty() ? LoadMessage(kMsgUnknownCause) : cause).c_str()));
    return false;
  }
  return true;
}

bool HoldsPlausiblePackage(Host& host, const std::string& program_path) {
  RunState probe;
  const std::unique_ptr<File> program = host.OpenForRead(program_path);
  PeFields pe;
  return program && ReadPeFields(*program, pe) && ReadHeaderAndStrings(probe, *program, pe) &&
         probe.PackagePlausible;
}

bool CheckTempSpace(Host& host, Ui& ui, uint64_t required) {
  const std::string root = host.VolumeRoot(host.TempDirectory());
  uint64_t free_bytes = 0;
  if (CheckFreeSpace(host, root, required, free_bytes)) return true;
  MessageRequest request;
  request.message_id = kMsgNoTempSpace;
  request.text =
      FormatMessageId(kMsgNoTempSpace, FormatSize(static_cast<int64_t>(required)).c_str(),
                      root.c_str(), FormatSize(static_cast<int64_t>(free_bytes)).c_str());
  request.caption = "SETUP";
  request.buttons = Buttons::kOk;
  request.icon = Icon::kStop;
  request.owner = Owner::kNone;
  ui.ShowMessage(request);
  return false;
}

}  // namespace floppyset
