#include "tools/packfile/core/verify.h"

#include <cstring>

#include "format/package_layout.h"
#include "format/package_reader.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "format/signature_answers.h"
#include "tools/packfile/core/launcher_refusal.h"
#include "tools/packfile/core/name_list.h"
#include "tools/packfile/core/package_facts.h"
#include "tools/packfile/core/shown_name.h"

namespace {

// Repeated findings of one kind stop after a few, then one line says how many more.
constexpr int kMaxRepeats = 5;

constexpr std::uint16_t kCertificateRevision = 0x0200;
constexpr std::uint16_t kCertificateTypePkcs7 = 0x0002;

using std::to_string;

class CChecker {
 public:
  CChecker(CByteSource& file, bool checkSum, bool allowUnknownLauncher, CVerifyReport* report)
      : file_(file), checkSum_(checkSum), allowUnknownLauncher_(allowUnknownLauncher), report_(report) {}

  void Run();

 private:
  void Add(CheckId check, Severity severity, std::string text) {
    report_->findings.push_back(CFinding{check, severity, std::move(text)});
  }
  // Adds a repeated finding unless enough of them were shown; counts the rest.
  void AddRepeated(CheckId check, Severity severity, std::string text, int* shown);
  void AddMore(CheckId check, Severity severity, int shown);
  std::string EntryLabel(std::size_t k) const;

  bool CheckCertificateTable();
  bool CheckStubHeader();
  void CheckLocator();
  void CheckEntries();
  void CheckEntryCounts();
  void CheckStopAfterLast();
  void CheckLauncherWalk();
  void CheckFiller();
  void CheckNames();
  void CheckSequenceAndTotal();
  void CheckCheckSum();
  void CheckLauncher();

  CByteSource& file_;
  bool checkSum_;
  bool allowUnknownLauncher_;
  CVerifyReport* report_;
  CPeImage image_;
  CPackageFacts facts_;
};

void CChecker::AddRepeated(CheckId check, Severity severity, std::string text, int* shown) {
  if (++*shown <= kMaxRepeats) Add(check, severity, std::move(text));
}

void CChecker::AddMore(CheckId check, Severity severity, int shown) {
  if (shown > kMaxRepeats) Add(check, severity, "... and " + to_string(shown - kMaxRepeats) + " more like it");
}

std::string CChecker::EntryLabel(std::size_t k) const {
  // A garbage name would drown the line it belongs to.
  constexpr std::size_t kShown = 60;
  std::string name = RecordName(facts_.entries[k].record);
  if (name.size() > kShown) name = name.substr(0, kShown) + "...";
  return ::EntryLabel(k, name);
}

bool CChecker::CheckCertificateTable() {
  const CPeDataDirectory& table = facts_.security;
  if (table.size == 0) {
    Add(CheckId::kCertificateTable, Severity::kOk, "unsigned: no certificate table");
    return true;
  }
  std::string where = "the certificate table (offset " + to_string(table.virtualAddress) + ", " +
                      to_string(table.size) + " bytes)";
  if (!CertificateTableEndsFile(table.virtualAddress, static_cast<std::int32_t>(table.size), facts_.fileLength)) {
    report_->tableDamage = SignatureDamage::kTableNotAtEnd;
    Add(CheckId::kCertificateTable, Severity::kFailure,
        where + " does not end the file (" + to_string(facts_.fileLength) + " bytes): " +
            LauncherRefusalText(SignatureDamage::kTableNotAtEnd));
    return false;
  }
  if (table.virtualAddress % 8 != 0) {
    Add(CheckId::kCertificateTable, Severity::kFailure, where + " does not start on a multiple of 8");
  }
  std::uint8_t header[8];
  std::uint32_t length = 0;
  std::uint16_t revision = 0, type = 0;
  if (ReadExact(file_, table.virtualAddress, header, sizeof(header))) {
    std::memcpy(&length, header, 4);
    std::memcpy(&revision, header + 4, 2);
    std::memcpy(&type, header + 6, 2);
  }
  if (length < 8 || length > table.size) {
    report_->tableDamage = SignatureDamage::kUnreadable;
    Add(CheckId::kCertificateTable, Severity::kFailure,
        where + ": its first certificate's length does not fit: " + LauncherRefusalText(report_->tableDamage));
    return false;
  }
  if (revision != kCertificateRevision || type != kCertificateTypePkcs7) {
    Add(CheckId::kCertificateTable, Severity::kWarning, where + ": not a revision 2.0 PKCS #7 certificate");
  }
  Add(CheckId::kCertificateTable, Severity::kOk, where + " ends the file");
  return true;
}

bool CChecker::CheckStubHeader() {
  if (!facts_.hasStub) {
    Add(CheckId::kStubHeader, Severity::kFailure, "no room for a stub header before offset " + to_string(facts_.contentEnd));
    return false;
  }
  const PACKFILE_HEADER& stub = facts_.stub;
  std::string at = "stub header at " + to_string(facts_.stubOffset);
  if (facts_.contentEnd <= PeImageDataEnd(image_) && !LooksLikeStub(stub, facts_.stubOffset, 0)) {
    Add(CheckId::kStubHeader, Severity::kFailure,
        "no package: nothing follows the image's data (a launcher without a package, or another program)");
    return false;
  }
  if (stub.size == 0) {
    Add(CheckId::kStubHeader, Severity::kFailure, at + ": header offset 0, no package");
    return false;
  }
  if (stub.size > facts_.stubOffset) {
    Add(CheckId::kStubHeader, Severity::kFailure, at + ": header offset " + to_string(stub.size) + " lies after it");
    return false;
  }
  std::uint64_t imageEnd = PeImageDataEnd(image_);
  if (stub.size < imageEnd) {
    Add(CheckId::kStubHeader, Severity::kFailure,
        at + ": header offset " + to_string(stub.size) + " lies inside the image, whose data ends at " +
            to_string(imageEnd));
  }
  if (stub.count != 0 || stub.sequence != 1 || stub.total != stub.size || !RecordNameZeroFilled(stub)) {
    Add(CheckId::kStubHeader, Severity::kWarning,
        at + ": count " + to_string(stub.count) + ", sequence " + to_string(stub.sequence) + ", total " +
            to_string(stub.total) + " (a builder writes 0, 1, the header offset and a zero-filled name)");
  }
  Add(CheckId::kStubHeader, Severity::kOk, at + ": header offset " + to_string(stub.size));
  return true;
}

void CChecker::CheckLocator() {
  CLocatorRead read = LocateLikeLauncher(file_);
  std::string what = "a launcher reads certificate size " + to_string(read.certificateSize) + " at byte " +
                     to_string(read.certificateSizeAt) + " of the PE headers (" +
                     (read.magic == pe::kPe32PlusMagic ? "PE32+" : "PE32") + ")";
  if (read.found && read.stubOffset == facts_.stubOffset && read.headerOffset == facts_.stub.size) {
    Add(CheckId::kLocator, Severity::kOk, what + " and finds the stub header");
    return;
  }
  // The security entry sits at that byte in a regular image, so a difference
  // means an edited entry or too few data directories: name both readings.
  if (static_cast<std::uint32_t>(read.certificateSize) != facts_.security.size) {
    what += ", but the image's security entry gives " + to_string(facts_.security.size);
  }
  what += read.found ? "; it reads the stub header at " + to_string(read.stubOffset) + " and takes header offset " +
                           to_string(read.headerOffset)
                     : ": " + read.failure;
  Add(CheckId::kLocator, Severity::kFailure, what);
}

void CChecker::CheckEntries() {
  std::size_t n = facts_.entries.size();
  if (facts_.overrun) {
    const CLaidEntry& last = facts_.entries.back();
    Add(CheckId::kEntries, Severity::kFailure,
        EntryLabel(n - 1) + " at " + to_string(last.recordOffset) + ": its " + to_string(last.record.size) +
            " bytes run past the stub header at " + to_string(facts_.stubOffset));
    return;
  }
  Add(CheckId::kEntries, Severity::kOk,
      to_string(n) + " entries laid end to end from " + to_string(facts_.stub.size) + " to " +
          to_string(facts_.entriesEnd) + ", then " + to_string(facts_.stubOffset - facts_.entriesEnd) +
          " filler bytes");
}

void CChecker::CheckEntryCounts() {
  const std::size_t n = facts_.entries.size();
  int failures = 0, warnings = 0;
  for (std::size_t k = 0; k < n; ++k) {
    std::int32_t count = facts_.entries[k].record.count;
    if (static_cast<std::int64_t>(count) <= static_cast<std::int64_t>(k)) {
      AddRepeated(CheckId::kEntryCounts, Severity::kFailure,
                  EntryLabel(k) + " has count " + to_string(count) + ": a launcher stops before it", &failures);
    } else if (static_cast<std::int64_t>(count) != static_cast<std::int64_t>(n)) {
      AddRepeated(CheckId::kEntryCounts, Severity::kWarning,
                  EntryLabel(k) + " has count " + to_string(count) + ", not the " + to_string(n) + " entries laid",
                  &warnings);
    }
  }
  AddMore(CheckId::kEntryCounts, Severity::kFailure, failures);
  AddMore(CheckId::kEntryCounts, Severity::kWarning, warnings);
  if (failures == 0 && warnings == 0) {
    Add(CheckId::kEntryCounts, Severity::kOk, "every entry has count " + to_string(n));
  }
}

void CChecker::CheckStopAfterLast() {
  if (facts_.overrun) return;
  std::int32_t next = 0;
  ReadExact(file_, facts_.entriesEnd, &next, sizeof(next));
  std::string text = "the four bytes after the last entry (at " + to_string(facts_.entriesEnd) +
                     ") read as count " + to_string(next);
  auto n = static_cast<std::int64_t>(facts_.entries.size());
  if (next > n) {
    Add(CheckId::kStopAfterLast, Severity::kFailure, text + ", greater than " + to_string(n) + ": not a stop");
  } else {
    Add(CheckId::kStopAfterLast, Severity::kOk, text + ": a launcher stops there");
  }
}

void CChecker::CheckLauncherWalk() {
  CLauncherWalk walk = WalkLikeLauncher(file_, facts_.stub.size);
  report_->launcherEntries = walk.written;
  std::string did = "a launcher extracts " + to_string(walk.written) + " entries and stops at offset " +
                    to_string(walk.stopOffset) + ", " + DescribeWalkStop(walk);
  bool exact = walk.stop == WalkStep::kCount && !facts_.overrun && walk.entries.size() == facts_.entries.size() &&
               walk.stopOffset == facts_.entriesEnd;
  if (exact) {
    Add(CheckId::kLauncherWalk, Severity::kOk, did);
  } else {
    Add(CheckId::kLauncherWalk, Severity::kFailure,
        did + "; the package lays out " + to_string(facts_.entries.size()) + " entries ending at " +
            to_string(facts_.entriesEnd));
  }
}

void CChecker::CheckFiller() {
  if (facts_.overrun) return;
  std::uint64_t length = facts_.stubOffset - facts_.entriesEnd;
  if (length >= kPackHeaderSize) return;  // not a filler: the entry checks said why
  std::vector<std::uint8_t> filler(length);
  ReadExact(file_, facts_.entriesEnd, filler.data(), filler.size());
  bool allFF = true, allZero = true;
  for (std::uint8_t byte : filler) {
    allFF = allFF && byte == kFillerByte;
    allZero = allZero && byte == 0;
  }
  std::string text = to_string(length) + " filler bytes";
  if (!allFF && !allZero) {
    Add(CheckId::kFiller, Severity::kWarning, text + " mix values (a builder writes only 0xFF or only zeros)");
  }
  bool aligned = (facts_.stubOffset + kPackHeaderSize) % 8 == 0;
  if (!aligned && facts_.security.size == 0) {
    Add(CheckId::kFiller, Severity::kWarning,
        "the stub header does not end on a multiple of 8: signing would pad between it and the certificate table");
  } else if (aligned && (allFF || allZero)) {
    Add(CheckId::kFiller, Severity::kOk, text + "; the stub header ends on a multiple of 8");
  }
}

void CChecker::CheckNames() {
  std::vector<std::string> names;
  int unterminated = 0, unfilled = 0;
  for (std::size_t k = 0; k < facts_.entries.size(); ++k) {
    const PACKFILE_HEADER& record = facts_.entries[k].record;
    names.push_back(RecordName(record));
    if (!RecordNameTerminated(record)) {
      AddRepeated(CheckId::kNames, Severity::kFailure, EntryLabel(k) + ": the name has no terminating zero",
                  &unterminated);
    } else if (!RecordNameZeroFilled(record)) {
      AddRepeated(CheckId::kNames, Severity::kWarning, EntryLabel(k) + ": the name is not zero-filled", &unfilled);
    }
  }
  AddMore(CheckId::kNames, Severity::kFailure, unterminated);
  AddMore(CheckId::kNames, Severity::kWarning, unfilled);
  int errors = 0, warnings = 0;
  for (const CNameIssue& issue : CheckNameList(names)) {
    AddRepeated(CheckId::kNames, issue.error ? Severity::kFailure : Severity::kWarning,
                EntryLabel(issue.index) + " " + issue.text, issue.error ? &errors : &warnings);
  }
  AddMore(CheckId::kNames, Severity::kFailure, errors);
  AddMore(CheckId::kNames, Severity::kWarning, warnings);
  if (unterminated + unfilled + errors + warnings == 0) {
    Add(CheckId::kNames, Severity::kOk, "every name is a bare, distinct Windows file name");
  }
  if (HasRunBat(names)) {
    Add(CheckId::kRunBat, Severity::kOk, "run.bat present");
  } else {
    Add(CheckId::kRunBat, Severity::kWarning, "no run.bat: only the program form can use this package");
  }
}

void CChecker::CheckSequenceAndTotal() {
  std::uint64_t total = 0;
  int wrong = 0;
  for (std::size_t k = 0; k < facts_.entries.size(); ++k) {
    const PACKFILE_HEADER& record = facts_.entries[k].record;
    total += record.size;
    if (record.sequence != k + 2 || record.total != total) {
      AddRepeated(CheckId::kSequenceAndTotal, Severity::kWarning,
                  EntryLabel(k) + " has sequence " + to_string(record.sequence) + " and total " +
                      to_string(record.total) + ", not " + to_string(k + 2) + " and " + to_string(total),
                  &wrong);
    }
  }
  AddMore(CheckId::kSequenceAndTotal, Severity::kWarning, wrong);
  if (wrong == 0) Add(CheckId::kSequenceAndTotal, Severity::kOk, "sequences and running totals as written");
}

void CChecker::CheckCheckSum() {
  std::uint32_t sum = 0;
  if (!ComputePeChecksum(file_, image_.checkSumOffset, &sum)) {
    Add(CheckId::kCheckSum, Severity::kFailure, "could not read the whole file to sum it");
  } else if (sum != image_.checkSum) {
    Add(CheckId::kCheckSum, Severity::kFailure,
        "PE CheckSum is " + to_string(image_.checkSum) + ", the file sums to " + to_string(sum));
  } else {
    Add(CheckId::kCheckSum, Severity::kOk, "PE CheckSum " + to_string(sum) + " is right");
  }
}

// A package appended to another program is never extracted: whatever its
// layout, such a file installs nothing.
void CChecker::CheckLauncher() {
  report_->launcher = IdentifyLauncher(file_, image_);
  std::string text = DescribeLauncher(report_->launcher);
  if (report_->launcher.ours) {
    Add(CheckId::kLauncher, Severity::kOk, text);
  } else if (allowUnknownLauncher_) {
    Add(CheckId::kLauncher, Severity::kWarning,
        text + ": accepted as a custom stub (--allow " + kAllowUnknownLauncher + ")");
  } else {
    Add(CheckId::kLauncher, Severity::kFailure,
        text + ": a package appended to it is never extracted (--allow " + kAllowUnknownLauncher +
            " accepts a custom stub)");
  }
}

void CChecker::Run() {
  std::string error;
  if (!ReadPeImage(file_, &image_, &error)) {
    Add(CheckId::kImage, Severity::kFailure, "not a PE image: " + error);
    return;
  }
  Add(CheckId::kImage, Severity::kOk,
      std::string(image_.pe32plus ? "PE32+" : "PE32") + " image, its data ends at " +
          to_string(PeImageDataEnd(image_)));
  CheckLauncher();
  facts_ = ReadPackageFacts(file_, image_);
  if (checkSum_) CheckCheckSum();
  if (!CheckCertificateTable() || !CheckStubHeader()) return;
  CheckLocator();
  CheckEntries();
  CheckEntryCounts();
  CheckStopAfterLast();
  CheckLauncherWalk();
  CheckFiller();
  CheckNames();
  CheckSequenceAndTotal();
}

}  // namespace

bool CVerifyReport::Passed() const {
  for (const CFinding& finding : findings) {
    if (finding.severity == Severity::kFailure) return false;
  }
  return true;
}

bool CVerifyReport::Failed(CheckId check) const {
  for (const CFinding& finding : findings) {
    if (finding.check == check && finding.severity == Severity::kFailure) return true;
  }
  return false;
}

bool IsLayoutCheck(CheckId check) {
  switch (check) {
    case CheckId::kImage:
    case CheckId::kCertificateTable:
    case CheckId::kStubHeader:
    case CheckId::kLocator:
    case CheckId::kEntries:
    case CheckId::kEntryCounts:
    case CheckId::kStopAfterLast:
    case CheckId::kLauncherWalk:
      return true;
    default:
      return false;
  }
}

const char* CheckName(CheckId check) {
  switch (check) {
    case CheckId::kImage: return "image";
    case CheckId::kLauncher: return "launcher";
    case CheckId::kCertificateTable: return "certificate-table";
    case CheckId::kStubHeader: return "stub-header";
    case CheckId::kLocator: return "locator";
    case CheckId::kEntries: return "entries";
    case CheckId::kEntryCounts: return "entry-counts";
    case CheckId::kStopAfterLast: return "stop-after-last";
    case CheckId::kLauncherWalk: return "launcher-walk";
    case CheckId::kFiller: return "filler";
    case CheckId::kNames: return "names";
    case CheckId::kRunBat: return "run-bat";
    case CheckId::kSequenceAndTotal: return "sequence-and-total";
    case CheckId::kCheckSum: return "checksum";
    case CheckId::kSignature: return "signature";
    case CheckId::kSignatureDigest: return "signature-digest";
    case CheckId::kSignatureAlgorithm: return "signature-algorithm";
    case CheckId::kSigner: return "signer";
    case CheckId::kTimestamp: return "timestamp";
    case CheckId::kCertificateChain: return "certificate-chain";
  }
  return "";
}

CVerifyReport VerifyPackage(CByteSource& file, bool checkSum, bool allowUnknownLauncher) {
  CVerifyReport report;
  CChecker(file, checkSum, allowUnknownLauncher, &report).Run();
  return report;
}
