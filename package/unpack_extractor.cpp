#include <string.h>

#include "diagnostics/utility.h"
#include "format/reading_rules.h"
#include "framework/file.h"
#include "package/entry_file_name.h"
#include "package/unpack.h"

namespace {

const wchar_t kSource[] = L"CUnPack::UnPackFiles";
const UINT kChunkBytes = 1024;
const UINT kCreateExclusive = CFile::modeWrite | CFile::modeCreate | CFile::typeBinary | CFile::shareExclusive;

// Copies size bytes in 1,024-byte chunks. A package that ends inside the
// entry gives a shorter file; reading on would deliver nothing more, and a
// hostile size must not keep the loop turning. FALSE with error filled when
// a read or a write fails (a short write is cause 13).
BOOL CopyEntryData(CFile& package, CFile& out, ULONGLONG size, CFileException& error) {
  BYTE buffer[kChunkBytes];
  memset(buffer, 0, sizeof(buffer));
  const ULONGLONG chunks = size / kChunkBytes;
  const UINT remainder = static_cast<UINT>(size % kChunkBytes);
  for (ULONGLONG chunk = 0; chunk <= chunks; ++chunk) {
    UINT want = chunk < chunks ? kChunkBytes : remainder;
    UINT got = 0;
    if (!package.Read(buffer, want, &got, &error) || !out.Write(buffer, got, &error)) return FALSE;
    if (got < want) break;
  }
  return TRUE;
}

// Moves past an entry's data that is not written. FALSE, logging a failed
// seek, when the walk cannot go on; data past any file's end ends it too.
BOOL SkipEntryData(CFile& package, ULONGLONG size, CFileException& error) {
  if (size > static_cast<ULONGLONG>(MAXLONGLONG)) {
    error.SetCause(CFileException::SeekFailed, package.GetFilePath());
  } else if (package.Seek(static_cast<LONGLONG>(size), CFile::current, nullptr, &error)) {
    return TRUE;
  }
  CUtility::FileException(error);
  return FALSE;
}

// Writes the entry whose record was just read into the work directory.
// FALSE when the walk must end: a read, write or seek failure (logged), or
// a work directory that this run could not make and hold (logged by
// GetUnPackDir).
BOOL UnPackEntry(CUnPack& unpack, CFile& package, const PACKFILE_HEADER& record, CFileException& error,
                 int* written) {
  wchar_t name[kEntryFileNameUnits];
  if (!EntryFileName(record, name)) {
    error.SetCause(CFileException::IncorrectPath, name);
    CUtility::FileException(error);
    return SkipEntryData(package, record.size, error);
  }
  CString dir = unpack.GetUnPackDir();
  // Files are written by name: only into a directory that cannot have
  // become a link to somewhere else.
  if (!unpack.HoldsUnPackDir()) return FALSE;
  CString target = dir + name;
  CUtility::Log(L"[%s] UnPack file name:%s", kSource, target.GetString());

  CFile out;
  if (!out.Open(target, kCreateExclusive, &error)) {
    CUtility::FileException(error);
    return SkipEntryData(package, record.size, error);
  }
  ULONGLONG length = 0;
  if (!CopyEntryData(package, out, record.size, error) || !out.GetLength(&length, &error)) {
    CUtility::FileException(error);
    return FALSE;
  }
  ++*written;
  CUtility::Log(L"[%s] UnPack count:%d len:%d File:%s", kSource, *written, static_cast<int>(length),
                out.GetFilePath().GetString());
  return TRUE;
}

// Reads record after record until the package ends, returning the files written.
int UnPackEntries(CUnPack& unpack, CFile& package, CFileException& error) {
  PACKFILE_HEADER record;
  memset(&record, 0, sizeof(record));
  int written = 0;
  for (;;) {
    UINT got = 0;
    if (!package.Read(&record, sizeof(record), &got, &error)) {
      CUtility::FileException(error);
      break;
    }
    if (NextWalkStep(got, record, written) != WalkStep::kEntry) break;
    if (!UnPackEntry(unpack, package, record, error, &written)) break;
  }
  return written;
}

}  // namespace

int CUnPack::UnPackFiles() {
  ULONGLONG headerOffset = FindHeader();
  if (headerOffset == 0) return 0;

  CFileException error;
  CFile package;
  if (!OpenSource(package, SourcePath(), &error)) {
    CUtility::FileException(error);
    return 0;
  }
  int written = 0;
  // An offset beyond the signed range is a seek before the start: cause 9.
  if (package.Seek(static_cast<LONGLONG>(headerOffset), CFile::begin, nullptr, &error)) {
    written = UnPackEntries(*this, package, error);
  } else {
    CUtility::FileException(error);
  }
  CUtility::Log(L"[%s] UnPack total %d files.", kSource, written);
  return 1;
}
