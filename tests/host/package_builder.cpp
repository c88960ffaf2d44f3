#include "package_builder.h"

#include <memory>

#include "format/package_writer.h"
#include "gtest/gtest.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"

Bytes BuildPackage(const Bytes& image, const std::vector<CTestEntry>& entries, const std::string& launcherName) {
  CMemorySource imageSource(image);
  CPeImage pe;
  std::string error;
  EXPECT_TRUE(ReadPeImage(imageSource, &pe, &error)) << error;
  std::vector<std::unique_ptr<CPatternSource>> sources;
  CPackageContents contents;
  contents.image = &imageSource;
  contents.launcherName = launcherName;
  contents.checkSumOffset = pe.checkSumOffset;
  for (std::size_t k = 0; k < entries.size(); ++k) {
    sources.push_back(std::make_unique<CPatternSource>(entries[k].size, static_cast<std::uint8_t>(k)));
    contents.entries.push_back(CPackEntry{entries[k].name, sources.back().get()});
  }
  CMemorySink sink;
  EXPECT_TRUE(WritePackage(contents, sink, nullptr, &error)) << error;
  return sink.Bytes();
}
