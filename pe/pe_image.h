// What a PE/COFF image's headers say: enough for packfile (checksum, security
// entry, where the image ends) and for tests of image properties. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "pe/pe_layout.h"

// Data directory indexes used here.
constexpr int kPeResourceDirectory = static_cast<int>(pe::kResourceDirectory);
constexpr int kPeSecurityDirectory = static_cast<int>(pe::kSecurityDirectory);

constexpr std::uint16_t kPeMachineI386 = 0x014C;
constexpr std::uint16_t kPeMachineAmd64 = 0x8664;

struct CPeDataDirectory {
  std::uint32_t virtualAddress = 0;  // for the security entry: a file offset
  std::uint32_t size = 0;
};

struct CPeSection {
  std::string name;  // up to 8 characters, without padding
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t sizeOfRawData = 0;
  std::uint32_t pointerToRawData = 0;
  std::uint32_t characteristics = 0;
};

struct CPeImage {
  std::uint32_t peOffset = 0;  // e_lfanew
  // File header.
  std::uint16_t machine = 0;
  std::uint32_t timeDateStamp = 0;
  std::uint16_t sizeOfOptionalHeader = 0;
  std::uint16_t characteristics = 0;
  // Optional header.
  std::uint16_t magic = 0;
  bool pe32plus = false;
  std::uint8_t majorLinkerVersion = 0, minorLinkerVersion = 0;
  std::uint32_t addressOfEntryPoint = 0;
  std::uint64_t imageBase = 0;
  std::uint32_t sectionAlignment = 0, fileAlignment = 0;
  std::uint16_t majorOsVersion = 0, minorOsVersion = 0;
  std::uint16_t majorImageVersion = 0, minorImageVersion = 0;
  std::uint16_t majorSubsystemVersion = 0, minorSubsystemVersion = 0;
  std::uint32_t sizeOfImage = 0, sizeOfHeaders = 0, checkSum = 0;
  std::uint16_t subsystem = 0, dllCharacteristics = 0;
  std::uint64_t stackReserve = 0, stackCommit = 0, heapReserve = 0, heapCommit = 0;
  std::uint32_t numberOfRvaAndSizes = 0;
  std::vector<CPeDataDirectory> directories;  // those present, at most 16
  std::vector<CPeSection> sections;
  // File offsets of fields that packfile rewrites.
  std::uint64_t checkSumOffset = 0;
  std::uint64_t securityEntryOffset = 0;  // 0 when the image has no such entry
};

// Parses the headers; false with `error` set (image undefined) when the
// source is not a PE image or its headers are cut short.
bool ReadPeImage(CByteSource& source, CPeImage* image, std::string* error);

// A data directory entry; zeros when the image has fewer entries.
CPeDataDirectory PeDirectory(const CPeImage& image, int index);

// End of the image's headers and section data in the file: where data that was
// appended to the image (a package, a certificate table) can begin.
std::uint64_t PeImageDataEnd(const CPeImage& image);

// The file offset of a relative virtual address; false when no section holds
// it in its raw data.
bool PeRvaToFileOffset(const CPeImage& image, std::uint32_t rva, std::uint64_t* offset);
