#include "diagnostics/utility.h"
#include "framework/handle.h"
#include "hardening/pinned_directory.h"
#include "hardening/protected_directory.h"
#include "hardening/reparse_point.h"
#include "package/unpack.h"

namespace {

const wchar_t kWorkDirName[] = L"unpack";

// Deletes one entry found in the work directory, following the attribute
// rule: a plain directory (attributes exactly 16) is passed over, a link is
// unlinked, anything else goes to the file deletion, whose failure (a
// directory with more attributes, a read-only file) is ignored.
void RemoveEntry(const CString& dir, const WIN32_FIND_DATAW& found) {
  if (found.dwFileAttributes == FILE_ATTRIBUTE_DIRECTORY) return;
  CString path = dir + found.cFileName;
  if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    RemoveLinkOnly(path);
    return;
  }
  ::DeleteFileW(path);
}

}  // namespace

CString CUnPack::WorkParent() const {
  if (!m_strWorkParent.IsEmpty()) return m_strWorkParent;
  wchar_t temp[MAX_PATH + 1] = {};
  // On failure, and for a path longer than the buffer, the buffer stays empty
  // and the work directory is relative to the current directory.
  ::GetTempPathW(MAX_PATH, temp);
  return CString(temp);
}

CString CUnPack::GetUnPackDir() {
  if (!m_strUnPackDir.IsEmpty()) return m_strUnPackDir;
  CString parent = WorkParent();
  m_strUnPackDir = parent + kWorkDirName + L"\\";
  if (CUtility::FileExists(m_strUnPackDir)) CleanUnPackDir();
  // Anything still at the path (a leftover held open, a link, a file) makes
  // the creation fail: it is never reused, and nothing is extracted or run.
  if (CreateHeldProtectedDirectory(parent, kWorkDirName, &m_hUnPackDir, &m_dwUnPackDirError)) {
    m_dwUnPackDirError = 0;
  } else {
    CFileException error;
    error.SetOsError(static_cast<LONG>(m_dwUnPackDirError), m_strUnPackDir);
    ::SetLastError(m_dwUnPackDirError);
    CUtility::FileException(error);
  }
  return m_strUnPackDir;
}

void CUnPack::DeleteUnPackDirFiles() {
  WIN32_FIND_DATAW found = {};
  CFindHandle find(::FindFirstFileW(m_strUnPackDir + L"*", &found));
  if (!find.IsValid()) return;
  do {
    RemoveEntry(m_strUnPackDir, found);
  } while (::FindNextFileW(find.Get(), &found));
}

void CUnPack::CleanUnPackDir() {
  if (m_strUnPackDir.IsEmpty()) return;
  if (m_hUnPackDir.IsValid()) {
    // This run's own directory, held since its creation: nobody can have
    // swapped it. The hold ends only now, as a held directory cannot go.
    DeleteUnPackDirFiles();
    m_hUnPackDir.Reset();
  } else {
    // An earlier run's leftover. Entering a link would enumerate, and
    // delete, whatever it points to.
    if (IsReparsePoint(m_strUnPackDir)) {
      RemoveLinkOnly(m_strUnPackDir);
      return;
    }
    CPinnedDirectory pin;
    if (pin.Hold(m_strUnPackDir, nullptr)) DeleteUnPackDirFiles();
  }
  ::RemoveDirectoryW(m_strUnPackDir);
}
