// The Windows half of `make bench` (bench/run.sh drives it under wine64):
//   bench_runner rawcopy SRC DST          copies SRC to DST with 64 KiB
//                                         ReadFile/WriteFile calls, deletes DST,
//                                         prints the copy's microseconds
//   bench_runner extract SETUP PARENT     extracts SETUP's package into
//                                         PARENT\unpack\ with the launcher's
//                                         own CUnPack, removes it again, prints
//                                         the extraction's microseconds
//   bench_runner read FILE                reads FILE with 64 KiB ReadFile calls,
//                                         prints the microseconds
//   bench_runner sha256 FILE              the same, hashing the bytes with the
//                                         system's SHA-256 (bcrypt)
//   bench_runner verify SETUP             opens SETUP as the launcher holds its
//                                         image and times the launcher's own
//                                         signature check on that handle, wintrust's
//                                         loading included; prints microseconds
//                                         and the check's result
//   bench_runner stamp FILE               writes the performance counter to
//                                         FILE and ends at once
//   bench_runner run STAMP EXE [ARGS...]  runs EXE and prints four numbers:
//                                         wall microseconds, microseconds until
//                                         the counter a child wrote to STAMP
//                                         (-1 if none did), peak working set
//                                         bytes, exit code
// Numbers go to stdout, one line, so that the script needs no parsing.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "format/signature_answers.h"
#include "hardening/image_signature.h"
#include "package/unpack.h"
#include "tests/support/argument_quoting.h"

namespace {

const DWORD kCopyBytes = 64 * 1024;

LONGLONG Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return t.QuadPart;
}

long long Micros(LONGLONG ticks) {
  LARGE_INTEGER f;
  QueryPerformanceFrequency(&f);
  return static_cast<long long>(ticks * 1000000 / f.QuadPart);
}

int Fail(const char* what) {
  std::fprintf(stderr, "bench_runner: %s failed (error %lu)\n", what, GetLastError());
  return 1;
}

// Opening and closing are timed too, as they are part of every extraction.
int RawCopy(const wchar_t* source, const wchar_t* target) {
  std::vector<char> buffer(kCopyBytes);
  LONGLONG start = Now();
  HANDLE in = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
  if (in == INVALID_HANDLE_VALUE) return Fail("opening the source");
  HANDLE out = CreateFileW(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return Fail("creating the target");
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(in, buffer.data(), kCopyBytes, &got, nullptr)) return Fail("ReadFile");
    if (got == 0) break;
    if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got) return Fail("WriteFile");
  }
  CloseHandle(in);
  CloseHandle(out);
  long long elapsed = Micros(Now() - start);
  DeleteFileW(target);
  std::printf("%s\n", std::to_string(elapsed).c_str());
  return 0;
}

HANDLE OpenForReading(const wchar_t* path) {
  return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// What the signature check cannot do with less: read every byte once,
// optionally hashing them (hash null: read only).
int ReadAll(const wchar_t* path, BCRYPT_HASH_HANDLE hash) {
  std::vector<char> buffer(kCopyBytes);
  LONGLONG start = Now();
  HANDLE in = OpenForReading(path);
  if (in == INVALID_HANDLE_VALUE) return Fail("opening the file");
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), kCopyBytes, &got, nullptr)) return Fail("ReadFile");
    if (got == 0) break;
    if (hash && BCryptHashData(hash, reinterpret_cast<PUCHAR>(buffer.data()), got, 0) != 0) return Fail("hashing");
  }
  UCHAR digest[32] = {};
  if (hash && BCryptFinishHash(hash, digest, sizeof(digest), 0) != 0) return Fail("finishing the hash");
  CloseHandle(in);
  std::printf("%s\n", std::to_string(Micros(Now() - start)).c_str());
  return 0;
}

int Sha256(const wchar_t* path) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
      BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0)
    return Fail("opening SHA-256");
  int result = ReadAll(path, hash);
  BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return result;
}

int Verify(const wchar_t* setup) {
  HANDLE file = OpenForReading(setup);
  if (file == INVALID_HANDLE_VALUE) return Fail("opening the installer");
  LONGLONG start = Now();
  DWORD answer = VerifyImageSignature(file, setup);
  DWORD result = SignatureAnswerRefuses(answer, 1) ? answer : 0;
  long long elapsed = Micros(Now() - start);
  CloseHandle(file);
  std::printf("%s %s\n", std::to_string(elapsed).c_str(), std::to_string(result).c_str());
  return 0;
}

// Times UnPackFiles alone: a whole launcher run also holds two process
// starts, whose jitter under Wine is as large as a 16 MiB extraction.
int Extract(const wchar_t* setup, const wchar_t* workParent) {
  CUnPack unpack(setup, workParent);
  LONGLONG start = Now();
  int found = unpack.UnPackFiles();
  long long elapsed = Micros(Now() - start);
  unpack.CleanUnPackDir();
  if (!found) return Fail("finding the package");
  std::printf("%s\n", std::to_string(elapsed).c_str());
  return 0;
}

int Stamp(const wchar_t* file) {
  LONGLONG now = Now();
  FILE* f = _wfopen(file, L"wb");
  if (!f) return Fail("writing the stamp");
  std::fputs(std::to_string(now).c_str(), f);
  return std::fclose(f) == 0 ? 0 : Fail("closing the stamp");
}

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  return GetProcessMemoryInfo(process, &counters, sizeof(counters)) ? counters.PeakWorkingSetSize : 0;
}

long long ReadStamp(const wchar_t* file) {
  FILE* f = _wfopen(file, L"rb");
  if (!f) return -1;
  long long value = -1;
  if (std::fscanf(f, "%lld", &value) != 1) value = -1;
  std::fclose(f);
  return value;
}

int Run(const wchar_t* stamp, int argc, wchar_t** argv) {
  DeleteFileW(stamp);
  std::wstring line = test_support::JoinArguments(argc, argv);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  LONGLONG start = Now();
  if (!CreateProcessW(argv[0], &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return Fail("CreateProcess");
  CloseHandle(process.hThread);
  // Wine can only report the peak of a process that is still alive, so it is
  // sampled while the process runs; the peak only grows.
  SIZE_T peak = 0;
  while (WaitForSingleObject(process.hProcess, 10) == WAIT_TIMEOUT)
    peak = std::max(peak, PeakWorkingSet(process.hProcess));
  LONGLONG end = Now();
  peak = std::max(peak, PeakWorkingSet(process.hProcess));
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  long long child = ReadStamp(stamp);
  long long toChild = child < 0 ? -1 : Micros(child - start);
  std::printf("%s %s %s %s\n", std::to_string(Micros(end - start)).c_str(), std::to_string(toChild).c_str(),
              std::to_string(static_cast<unsigned long long>(peak)).c_str(), std::to_string(code).c_str());
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // Plain \n line ends, as the shell that reads the numbers expects.
  _setmode(_fileno(stdout), _O_BINARY);
  std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"rawcopy" && argc == 4) return RawCopy(argv[2], argv[3]);
  if (command == L"extract" && argc == 4) return Extract(argv[2], argv[3]);
  if (command == L"stamp" && argc == 3) return Stamp(argv[2]);
  if (command == L"read" && argc == 3) return ReadAll(argv[2], nullptr);
  if (command == L"sha256" && argc == 3) return Sha256(argv[2]);
  if (command == L"verify" && argc == 3) return Verify(argv[2]);
  if (command == L"run" && argc >= 4) return Run(argv[2], argc - 3, argv + 3);
  std::fputs("usage: bench_runner rawcopy SRC DST | extract SETUP PARENT | stamp FILE | run STAMP EXE [ARGS...] | read FILE | sha256 FILE | verify SETUP\n", stderr);
  return 2;
}
