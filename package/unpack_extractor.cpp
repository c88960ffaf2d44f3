#include <string.h>

#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "format/package_walk.h"
#include "framework/file.h"
#include "package/entry_file_name.h"
#include "package/unpack.h"

namespace {

const wchar_t kLogSourceUnPackFiles[] = L"" UNPACK_LOG_SOURCE_UNPACK_FILES;
const UINT kChunkBytes = 1024;

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

// The package as the walk reads it, from where the file stands: writes
// each entry it can into the work directory, logging every file and failure.
class CEntryWriter {
 public:
  CEntryWriter(CUnPack& unpack, CFile& package, CFileException& error)
      : m_unpack(unpack), m_package(package), m_error(error) {}

  BOOL ReadRecord(PACKFILE_HEADER* record, size_t* got) {
    UINT read = 0;
    BOOL done = m_package.Read(record, sizeof(*record), &read, &m_error);
    *got = read;
    if (!done) CUtility::FileException(m_error);
    return done;
  }
  int64_t Written() const { return m_written; }
  BOOL Entry(const PACKFILE_HEADER& record);

  int m_written = 0;
  // An entry was not written though the walk went on past it (a refused
  // name is no failure).
  BOOL m_failed = FALSE;
  // A record carried a name the launcher writes.
  BOOL m_named = FALSE;

 private:
  CUnPack& m_unpack;
  CFile& m_package;
  CFileException& m_error;
};

// Writes the entry whose record was just read. FALSE when the walk must
// end: a read, write or seek failure (logged), or a work directory that
// this run could not make and hold (logged by GetUnPackDir).
BOOL CEntryWriter::Entry(const PACKFILE_HEADER& record) {
  CFileException& error = m_error;
  wchar_t name[kEntryFileNameUnits];
  if (!EntryFileName(record, name)) {
    error.SetCause(CFileException::IncorrectPath, name);
    CUtility::FileException(error);
    return SkipEntryData(m_package, record.size, error);
  }
  m_named = TRUE;
  CString dir = m_unpack.GetUnPackDir();
  if (!m_unpack.HoldsUnPackDir()) return FALSE;
  // The log names the file by the work directory's path; the file itself is
  // made through the held directory's handle, which no link can redirect.
  CString target = dir + name;
  // Created as an open by name would create it; the count line shows that.
  name[CreatedNameLength(name, static_cast<size_t>(::lstrlenW(name)))] = L'\0';
  CString created = dir + name;
  // A path that programs could not open by name is skipped like a bad name.
  BOOL tooLong = target.GetLength() >= MAX_PATH;
  CHandle file;
  // Made before its line is logged: whoever reads the line finds the file.
  DWORD createError = tooLong ? 0 : m_unpack.CreateUnPackFile(name, &file);
  CUtility::Log(L"[%s] " UNPACK_LOG_FILE_NAME "%s", kLogSourceUnPackFiles, target.GetString());
  if (tooLong) {
    error.SetCause(CFileException::IncorrectPath, target);
    CUtility::FileException(error);
    return SkipEntryData(m_package, record.size, error);
  }

  CFile out;
  if (createError) {
    m_failed = TRUE;
    error.SetOsError(static_cast<LONG>(createError), target);
    ::SetLastError(createError);
    CUtility::FileException(error);
    return SkipEntryData(m_package, record.size, error);
  }
  ULONGLONG length = 0;
  if (!out.AdoptForWriting(static_cast<CHandle&&>(file), created, &error) ||
      !CopyEntryData(m_package, out, record.size, error) || !out.GetLength(&length, &error)) {
    CUtility::FileException(error);
    return FALSE;
  }
  ++m_written;
  CUtility::Log(L"[%s] " UNPACK_LOG_COUNT "%d" UNPACK_LOG_COUNT_LEN "%d" UNPACK_LOG_COUNT_FILE "%s",
                kLogSourceUnPackFiles, m_written, static_cast<int>(length), created.GetString());
  return TRUE;
}

// Reads record after record until the package ends, returning the files
// written; *complete is TRUE when the walk met the package's end, every
// entry with a valid name written; *named when any record had such a name.
int UnPackEntries(CUnPack& unpack, CFile& package, CFileException& error, BOOL* complete, BOOL* named) {
  PACKFILE_HEADER record = {};
  CEntryWriter writer(unpack, package, error);
  const WalkStep end = WalkRecords(writer, &record);
  *complete = end != WalkStep::kEntry && !writer.m_failed;
  *named = writer.m_named;
  return writer.m_written;
}

}  // namespace

int CUnPack::UnPackFiles() {
  m_dwExtractError = ERROR_INVALID_DATA;
  m_bFoundPackage = FALSE;
  ULONGLONG headerOffset = FindHeader();
  if (headerOffset == 0) return 0;

  CFileException error;
  CFile package;
  if (!OpenSource(package, SourcePath(), &error)) {
    CUtility::FileException(error);
    return 0;
  }
  int written = 0;
  BOOL complete = FALSE;
  // An offset beyond the signed range is a seek before the start: cause 9.
  if (package.Seek(static_cast<LONGLONG>(headerOffset), CFile::begin, nullptr, &error)) {
    written = UnPackEntries(*this, package, error, &complete, &m_bFoundPackage);
  } else {
    CUtility::FileException(error);
  }
  if (complete) m_dwExtractError = 0;
  // The failure's own reason where the system gave one (a full disk, say).
  if (!complete && error.m_lOsError > 0) m_dwExtractError = static_cast<DWORD>(error.m_lOsError);
  CUtility::Log(L"[%s] " UNPACK_LOG_TOTAL "%d" UNPACK_LOG_TOTAL_END, kLogSourceUnPackFiles, written);
  return 1;
}
