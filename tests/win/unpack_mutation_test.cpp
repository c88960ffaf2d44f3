// Valid packages damaged at random, the way a broken or hostile file could
// be, then extracted: the extractor must end, keep to its work directory,
// log exactly what it wrote, and do what packfile's reader predicts (the
// header offset, then every file by name and bytes).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "format/package_reader.h"
#include "format/reading_rules.h"
#include "log_reader.h"
#include "package/unpack.h"
#include "package_files.h"
#include "tests/support/memory_bytes.h"
#include "tests/support/scratch_folder.h"

using test_support::CScratchFolder;
using test_support::ReadWholeFile;
using test_support::WriteWholeFile;

namespace {

const int kCases = 2500;
const DWORD kCaseTimeoutMs = 20000;

// Files directly in dir, and subfolders marked "<dir>".
std::map<std::wstring, std::string> ListDir(const std::wstring& dir) {
  std::map<std::wstring, std::string> entries;
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir + L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    entries[name] = folder ? "<dir>" : ReadWholeFile(dir + name);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return entries;
}

// Names that would leave the work directory, or name no file at all.
const char* const kHostileNames[] = {"..\\sentinel.txt", "../sentinel.txt", "..\\..\\outside\\keep.txt",
                                     "C:..\\sentinel.txt", "\\\\?\\C:\\x.txt", "sentinel.txt:ads", "..", ".", "",
                                     "\\", "/", ":", "CON", "nul.txt", ".. ", "a\r\nb"};

class CMutator {
 public:
  explicit CMutator(std::uint32_t seed) : rng_(seed) {}

  // One to three damages; most go to the entry records, which the walk trusts most.
  void Damage(const TestPackage& package, std::string* file) {
    for (int i = 1 + Pick(3); i > 0 && !file->empty(); --i) {
      const std::uint64_t length = file->size();
      const std::uint64_t record = RecordOffset(package, Pick(static_cast<std::uint32_t>(package.entries.size()) + 1));
      const std::uint64_t stub = length - package.certificateSize - kPackHeaderSize;
      const std::uint32_t kind = Pick(12);
      if (kind == 0) (*file)[Within(length)] ^= static_cast<char>(1 << Pick(8));
      if (kind == 1) file->resize(Within(length));
      if ((kind == 2 || kind == 3) && record + 4 <= length) {
        const std::int32_t counts[] = {0, 1, -1, INT32_MIN, INT32_MAX, 2, 7, static_cast<std::int32_t>(rng_())};
        Put32(file, record, static_cast<std::uint32_t>(counts[Pick(8)]));
      }
      if ((kind == 4 || kind == 5) && record + 16 <= length) Put64(file, record + 8, OddSize());
      if ((kind == 6 || kind == 7) && record + kPackHeaderSize <= length) DamageName(&(*file)[record + 24]);
      if (kind == 8 && stub + 16 <= length) Put64(file, stub + 8, Pick(2) ? OddSize() : Within(length + 64));
      if (kind == 9 && length >= 0x40 + kSecuritySizeAtPe32Plus + 4) {  // the security Size of either layout
        const std::uint32_t sizes[] = {0, 0x80000000u, 0xFFFFFFFFu, static_cast<std::uint32_t>(length), 8, rng_()};
        Put32(file, 0x40 + (package.image.pe32plus ? kSecuritySizeAtPe32Plus : kSecuritySizeAtPe32), sizes[Pick(6)]);
      }
      if (kind == 10 && length >= pe::kDosHeaderBytes) {
        Put32(file, pe::kPeOffsetAt, Pick(2) ? rng_() : static_cast<std::uint32_t>(Within(length + 8)));
      }
      if (kind == 11) file->append(1 + Pick(300), Pick(2) ? '\xFF' : static_cast<char>(rng_()));
    }
  }

 private:
  std::uint32_t Pick(std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng_); }
  std::uint64_t Random64() { return (std::uint64_t{rng_()} << 32) | rng_(); }
  std::uint64_t Within(std::uint64_t size) { return size ? Random64() % size : 0; }

  std::uint64_t OddSize() {
    const std::uint64_t sizes[] = {0, 1, 1023, 1024, 1025, 284, 1 << 20, 0x7FFFFFFFFFFFFFFFull,
                                   0x8000000000000000ull, ~0ull, Random64(), Random64() % 65536};
    return sizes[Pick(12)];
  }

  void DamageName(char* name) {
    const std::uint32_t how = Pick(4);
    if (how == 0) {
      const char* hostile = kHostileNames[Pick(sizeof(kHostileNames) / sizeof(kHostileNames[0]))];
      std::memset(name, 0, kPackNameSize);
      std::memcpy(name, hostile, std::strlen(hostile));
    } else if (how == 1) {  // a separator or a parent step inserted
      const char* inserts[] = {"\\", "/", ":", "..\\", "../"};
      const char* insert = inserts[Pick(5)];
      std::size_t at = Pick(12), n = std::strlen(insert);
      std::memmove(name + at + n, name + at, kPackNameSize - at - n);
      std::memcpy(name + at, insert, n);
    } else if (how == 2) {  // no terminator
      std::memset(name, 'a' + Pick(26), kPackNameSize);
    } else {
      for (int i = 0; i < 4; ++i) name[Pick(16)] = static_cast<char>(rng_());
    }
  }

  std::mt19937 rng_;
};

// Checks the extraction's lines against each other and the work directory:
// names inside it, counts in step, a total equal to the count lines, and
// every file there named by a line with its length. Counts what it saw.
struct CLogCheck {
  int written = 0, refused = 0, failed = 0;

  ::testing::AssertionResult operator()(const std::vector<std::wstring>& messages, const std::wstring& work,
                                        DWORD result) {
    static const std::wregex name(LR"(\[CUnPack::UnPackFiles\] UnPack file name:([\s\S]*))");
    static const std::wregex count(LR"(\[CUnPack::UnPackFiles\] UnPack count:(-?\d+) len:(-?\d+) File:([\s\S]*))");
    static const std::wregex total(LR"(\[CUnPack::UnPackFiles\] UnPack total (-?\d+) files\.)");
    static const std::wregex refusal(LR"(\[CUtility::FileException\] [\s\S]* contains an incorrect path\.)");
    std::map<std::wstring, long long> length;  // per file: last count line's len, -1 when it then failed
    std::wstring pending;
    int files = 0, totals = -1;
    for (const std::wstring& m : messages) {
      std::wsmatch match;
      if (totals >= 0) return ::testing::AssertionFailure() << "a line after the total";
      if (std::regex_match(m, match, name)) {
        std::wstring path = match[1].str();
        if (path.compare(0, work.size(), work) != 0 || path.find_first_of(L"\\/:", work.size()) != std::wstring::npos)
          return ::testing::AssertionFailure() << "an output outside the work directory";
        pending = path.substr(0, path.find_last_not_of(L". ") + 1);  // as Windows names the file
        length[pending] = -1;
      } else if (std::regex_match(m, match, count)) {
        if (std::stoi(match[1].str()) != ++files || match[3].str() != pending)
          return ::testing::AssertionFailure() << "a count line out of step";
        length[pending] = std::stoll(match[2].str());
        pending.clear();
      } else if (std::regex_match(m, match, total)) {
        totals = std::stoi(match[1].str());
        if (totals != files) return ::testing::AssertionFailure() << "a total unlike the count lines";
      } else if (m.rfind(L"[CUtility::FileException] ", 0) == 0) {
        ++(std::regex_match(m, refusal) && pending.empty() ? refused : failed);
      } else if (m.rfind(L"[CUnPack::FindHeader] ", 0) != 0) {
        return ::testing::AssertionFailure() << "an unknown line";
      }
    }
    written += files;
    if ((result == 1) != (totals >= 0)) return ::testing::AssertionFailure() << "result " << result;
    for (const auto& [file, content] : ListDir(work)) {
      auto logged = length.find(work + file);
      if (logged == length.end()) return ::testing::AssertionFailure() << "a file that no line names";
      if (logged->second >= 0 && static_cast<std::int32_t>(content.size()) != static_cast<std::int32_t>(logged->second))
        return ::testing::AssertionFailure() << "a length unlike its line";
    }
    return ::testing::AssertionSuccess();
  }
};

// The prediction reads names as Windows-1252; the extractor converts them in
// its thread's ANSI code page, so the thread gets a locale whose code page
// that is, whatever the machine's default.
const LCID kWindows1252Locale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

DWORD WINAPI Extract(LPVOID unpack) {
  if (!SetThreadLocale(kWindows1252Locale)) return 9;
  return static_cast<DWORD>(static_cast<CUnPack*>(unpack)->UnPackFiles());
}

// A name as the file system tells files apart: trailing dots and blanks
// dropped, letters without case.
std::wstring FileSystemKey(std::wstring name) {
  name.erase(name.find_last_not_of(L". ") + 1);
  if (!name.empty()) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
  return name;
}

std::map<std::wstring, std::string> KeyedByFileSystem(const std::map<std::wstring, std::string>& listing) {
  std::map<std::wstring, std::string> files;
  for (const auto& [name, content] : listing) files[FileSystemKey(name)] = content;
  return files;
}

// The work directory as packfile's reader predicts it: the entries the walk
// marks as written, each with the bytes the file delivered for it; a later
// entry of the same name replaces the earlier file.
std::map<std::wstring, std::string> PredictedFiles(const std::string& file) {
  std::map<std::wstring, std::string> files;
  CMemorySource bytes(file.data(), file.size());
  const CLocatorRead located = LocateLikeLauncher(bytes);
  if (!located.found) return files;
  for (const CWalkEntry& entry : WalkLikeLauncher(bytes, located.headerOffset).entries) {
    if (!entry.written) continue;
    wchar_t name[kPackNameSize + 1] = {};
    MultiByteToWideChar(1252, 0, entry.record.name, static_cast<int>(RecordNameLength(entry.record)), name,
                        kPackNameSize);
    files[FileSystemKey(name)] = file.substr(entry.recordOffset + kPackHeaderSize, entry.delivered);
  }
  return files;
}

// The names on which the work directory and the prediction disagree.
::testing::AssertionResult SameFiles(const std::map<std::wstring, std::string>& written,
                                     const std::map<std::wstring, std::string>& predicted) {
  std::wstring differ;
  auto w = written.begin();
  auto p = predicted.begin();
  while (w != written.end() || p != predicted.end()) {
    if (p == predicted.end() || (w != written.end() && w->first < p->first)) {
      differ += L" written, not predicted: " + (w++)->first;
    } else if (w == written.end() || p->first < w->first) {
      differ += L" predicted, not written: " + (p++)->first;
    } else {
      if (w->second != p->second) differ += L" other bytes: " + w->first;
      ++w, ++p;
    }
  }
  if (differ.empty()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the launcher and packfile's prediction differ:" << differ;
}

TEST(UnPackMutationTest, DamagedPackagesNeverLeaveTheWorkDirectory) {
  CScratchFolder dir;
  const std::wstring source = dir / L"setup.exe", parent = dir / L"temp\\", work = parent + L"unpack\\";
  ASSERT_TRUE(CreateDirectoryW(parent.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dir / L"outside").c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(parent + L"sentinel.txt", "sentinel"));
  ASSERT_TRUE(WriteWholeFile(dir / L"outside\\keep.txt", "keep"));
  const auto outside = ListDir(dir / L"outside\\");
  const auto beside = ListDir(parent);

  std::vector<TestPackage> bases(4);
  std::vector<std::string> built;
  for (unsigned k = 0; k < bases.size(); ++k) {
    bases[k].image.pe32plus = k % 2 == 1;
    bases[k].image.fileSize = 0x400 * (1 + k);
    bases[k].certificateSize = k >= 2 ? 16 + 8 * k : 0;
    bases[k].entries = {{"run.bat", 15}, {"a.txt", 1024}, {"b.bin", 1023u + 100u * k}, {"c.dat", 0}, {"d.txt", 2049}};
    bases[k].entries.resize(2 + k);
    built.push_back(BuildPackage(bases[k]));
  }
  CMutator mutator(20240611);
  CLogCheck check;
  int extracted = 0, empty = 0;
  auto start = std::chrono::steady_clock::now();

  for (int c = 0; c < kCases && !HasFailure(); ++c) {
    SCOPED_TRACE("case " + std::to_string(c));
    const std::size_t k = static_cast<std::size_t>(c) % bases.size();
    std::string file = built[k];
    mutator.Damage(bases[k], &file);
    ASSERT_TRUE(WriteWholeFile(source, file));
    for (const auto& entry : ListDir(work)) DeleteFileW((work + entry.first).c_str());
    RemoveDirectoryW(work.c_str());

    CUnPack unpack(source.c_str(), parent.c_str());
    CMemorySource bytes(file.data(), file.size());
    ASSERT_EQ(unpack.FindHeader(), LocateLikeLauncher(bytes).headerOffset) << "the header offset";
    ASSERT_TRUE(DeleteLogFile());
    HANDLE thread = CreateThread(nullptr, 0, Extract, &unpack, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    if (WaitForSingleObject(thread, kCaseTimeoutMs) != WAIT_OBJECT_0) {
      std::fprintf(stderr, "case %d: the extraction did not end\n", c);
      std::abort();  // the thread still uses this frame
    }
    DWORD result = 9;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);

    auto besideNow = ListDir(parent);
    besideNow.erase(L"unpack");
    ASSERT_EQ(besideNow, beside) << "something changed beside the work directory";
    ASSERT_EQ(ListDir(dir / L"outside\\"), outside);
    ASSERT_EQ(ListDir(dir.FolderW()).size(), 3u) << "something new beside the package";
    const int before = check.written;
    ASSERT_TRUE(check(LogMessages(), work, result));
    ASSERT_TRUE(SameFiles(KeyedByFileSystem(ListDir(work)), PredictedFiles(file)));
    extracted += check.written > before;
    empty += result == 0;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%d cases in %.1f s: %d wrote files, %d refused names, %d other file errors, %d found nothing\n",
              kCases, seconds, extracted, check.refused, check.failed, empty);
  // The damage reached every kind of outcome, so the checks above saw each.
  EXPECT_GT(extracted, kCases / 10);
  EXPECT_GT(check.refused, kCases / 50);
  EXPECT_GT(check.failed, kCases / 200);
  EXPECT_GT(empty, kCases / 50);
  DeleteLogFile();
}

}  // namespace
