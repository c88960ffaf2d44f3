// The entry of test programs that CTest runs as one test each (the Windows
// tests under Wine, the end-to-end programs): a program whose cases all
// passed or skipped, with at least one skipped, ends with kSkippedExitCode,
// which CTest reports as skipped instead of passed.
#include <gtest/gtest.h>

#include <cstdio>

namespace {
const int kSkippedExitCode = 77;
}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  int result = RUN_ALL_TESTS();
  const ::testing::UnitTest& unit = *::testing::UnitTest::GetInstance();
  if (result == 0 && unit.skipped_test_count() > 0) {
    std::printf("%d of %d cases skipped: reported to CTest as skipped\n", unit.skipped_test_count(),
                unit.total_test_count());
    return kSkippedExitCode;
  }
  return result;
}
