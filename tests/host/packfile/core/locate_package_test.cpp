// What list and extract read before they trust a package: headers and
// records, never the entries' data.
#include "tools/packfile/core/locate_package.h"

#include <sstream>

#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/memory_bytes.h"
#include "tests/support/pe_writer.h"

namespace {

// Counts the bytes delivered.
class CCountingSource : public CByteSource {
 public:
  explicit CCountingSource(CByteSource& base) : base_(base) {}
  std::uint64_t Size() const override { return base_.Size(); }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    std::size_t got = base_.ReadAt(offset, buffer, length);
    read += got;
    return got;
  }
  std::uint64_t read = 0;

 private:
  CByteSource& base_;
};

TEST(LocatePackageTest, ReadsHeadersAndRecordsOnly) {
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 10}, {"big.bin", 8 << 20}, {"c.txt", 3}});
  CMemorySource memory(file);
  CCountingSource counted(memory);
  std::ostringstream err;
  CDiagnostics diagnostics(err);
  CLocatorRead located;
  ASSERT_TRUE(LocatePackageOrSay(counted, "setup.exe", diagnostics, &located)) << err.str();
  EXPECT_EQ(WalkLikeLauncher(counted, located.headerOffset).entries.size(), 3u);
  EXPECT_LT(counted.read, 64u << 10) << "of an installer of " << file.size() << " bytes";
}

}  // namespace
