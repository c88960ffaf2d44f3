#include "bytes/file_bytes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace {

// A sink that cannot open keeps the system's reason, whichever way it was
// opened: the caller's message names it.
TEST(CFileSinkTest, AFailedOpenKeepsTheSystemsReason) {
  const std::string missing = "/nonexistent-folder-of-this-test/out.bin";
  CFileSink created(missing);
  CFileSink existing(missing, CFileSink::CExistingEmpty());
  for (const CFileSink* sink : {&created, &existing}) {
    EXPECT_FALSE(sink->IsOpen());
    EXPECT_EQ(sink->Errno(), ENOENT);
  }
}

}  // namespace
