// packfile list as a process would show it: names made to fool a terminal,
// and one JSON document even for a file it refuses.
#include <filesystem>

#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/pe_writer.h"

namespace fs = std::filesystem;

namespace {

TEST(PackfileListTest, NamesAreShownWithControlCharactersEscaped) {
  CScratchFolder dir_;
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()),
                            {{"run.bat", 3}, {"a\x1b[2Jb.txt", 4}, {"fake\n          1024  row.txt", 5}});
  WriteWholeFile(dir_ / "odd.exe", file);
  CRun list = RunPackfile({"list", dir_ / "odd.exe"});
  ASSERT_EQ(list.code, 0) << list.err;
  EXPECT_EQ(list.out.find('\x1b'), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("a\\x1B[2Jb.txt"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("fake\\x0A "), std::string::npos) << list.out;
  CRun verify = RunPackfile({"verify", dir_ / "odd.exe"});
  EXPECT_EQ(verify.out.find('\x1b'), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("(fake\\x0A "), std::string::npos) << verify.out;
  CRun extract = RunPackfile({"extract", dir_ / "odd.exe", dir_ / "out"});
  EXPECT_EQ(extract.code, 1);
  EXPECT_EQ(extract.err.find('\x1b'), std::string::npos) << extract.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

// A cut download: the reasons on standard error, one document on standard
// output that says the same under "error", exit code 1.
TEST(PackfileListTest, JsonOnACutFileIsOneDocumentWithTheError) {
  CScratchFolder dir_;
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 3}, {"setup.exe", 5000}});
  file.resize(file.size() - 400);
  WriteWholeFile(dir_ / "cut.exe", file);
  CRun list = RunPackfile({"list", "--json", dir_ / "cut.exe"});
  EXPECT_EQ(list.code, 1);
  EXPECT_NE(list.out.find("{\"schema\":\"packfile-list/3\",\"file\":"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("\"error\":\"" + dir_ / "cut.exe" + ": "), std::string::npos) << list.out;
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(list.out, std::string(PACKFILE_SCHEMAS) + "/list.schema.json", &why)) << why;
}

}  // namespace
