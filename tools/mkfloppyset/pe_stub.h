// The executable part of a setup program: a PE file padded with zeros to its SizeOfImage,
// with a correct PE checksum, behind which the package is appended.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace floppyset {

// The optional-header fields a stub must have; `checksum_offset` is the file offset of its
// CheckSum field.
struct PeLayout {
  uint32_t size_of_image = 0;
  uint32_t checksum = 0;
  size_t checksum_offset = 0;
};

// Checks that `program` is a PE file ("MZ", "PE\0\0", a PE32 or PE32+ optional header whose
// fields the setup program reads) and returns its layout; false with a reason otherwise.
bool ParsePeStub(const std::vector<uint8_t>& program, PeLayout& layout, std::string& error);

// A PE32 file of headers only (not runnable), for tests and for sets made without a stub.
std::vector<uint8_t> MinimalPeStub();

// The checksum Windows computes for PE files (CheckSumMappedFile): 16-bit one's-complement
// style sum of the file with the CheckSum field counted as zero, plus the file length.
uint32_t PeChecksum(const uint8_t* data, size_t size, size_t checksum_offset);

// Pads a valid stub with zeros to its SizeOfImage (refused when the file is longer), then
// stores its PE checksum in its CheckSum field. False with a reason when it cannot.
bool PrepareStub(std::vector<uint8_t>& program, uint32_t& checksum, std::string& error);

}  // namespace floppyset
