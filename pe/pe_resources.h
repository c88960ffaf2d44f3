// The resources of a PE image: the type / name / language tree flattened into
// a list, so that tests can check what a built launcher carries. Portable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "pe/pe_image.h"

// Resource types used here.
constexpr std::uint32_t kRtIcon = 3;
constexpr std::uint32_t kRtString = 6;
constexpr std::uint32_t kRtGroupIcon = 14;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kRtManifest = 24;

struct CPeResource {
  std::uint32_t type = 0;      // 0 when the type is named
  std::uint32_t id = 0;        // 0 when the resource is named
  std::uint32_t language = 0;  // the language tag, e.g. 1033
  std::vector<std::uint8_t> data;
};

// Every resource of the image, in directory order. False with `error` set
// when the resource directory is malformed (the list then holds what was
// read before). An image without resources gives an empty list.
bool ReadPeResources(CByteSource& source, const CPeImage& image, std::vector<CPeResource>* resources,
                     std::string* error);

// The resources of one type and id, in any language.
std::vector<const CPeResource*> FindPeResources(const std::vector<CPeResource>& resources, std::uint32_t type,
                                                std::uint32_t id);

// String `id` from the string tables (the text without its length prefix),
// with the block's language in `language`. False when no block holds it.
bool FindPeString(const std::vector<CPeResource>& resources, std::uint32_t id, std::u16string* text,
                  std::uint32_t* language);
