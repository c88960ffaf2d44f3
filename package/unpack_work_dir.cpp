#include "diagnostics/utility.h"
#include "framework/handle.h"
#include "hardening/handle_relative.h"
#include "hardening/held_path.h"
#include "hardening/protected_directory.h"
#include "hardening/tree_removal.h"
#include "package/unpack.h"

namespace {

const wchar_t kWorkDirName[] = L"unpack";

// The kind of volume parent lies on; unknown for anything but a drive path.
UINT DriveTypeOf(const wchar_t* parent) {
  if (!parent[0] || parent[1] != L':') return DRIVE_UNKNOWN;
  wchar_t root[] = {parent[0], L':', L'\\', L'\0'};
  return ::GetDriveTypeW(root);
}

}  // namespace

DWORD WorkParentRefusal(const wchar_t* parent, UINT driveType) {
  if (!parent[0]) return ERROR_PATH_NOT_FOUND;
  // The work directory, its backslash and the terminator within 260 units.
  if (::lstrlenW(parent) + static_cast<int>(sizeof(kWorkDirName) / sizeof(wchar_t)) + 1 > MAX_PATH)
    return ERROR_FILENAME_EXCED_RANGE;
  // A file server can change a file after the launcher wrote it.
  if ((parent[0] == L'\\' && parent[1] == L'\\') || driveType == DRIVE_REMOTE) return ERROR_BAD_NETPATH;
  return 0;
}

CString CUnPack::WorkParent() const {
  if (!m_strWorkParent.IsEmpty()) return m_strWorkParent;
  // Room for a path longer than the limit, so that its refusal names it.
  wchar_t temp[2 * MAX_PATH] = {};
  DWORD length = ::GetTempPathW(2 * MAX_PATH, temp);
  return length < 2 * MAX_PATH ? CString(temp) : CString();
}

CString CUnPack::GetUnPackDir() {
  if (!m_strUnPackDir.IsEmpty()) return m_strUnPackDir;
  CString parent = WorkParent();
  m_strUnPackDir = parent + kWorkDirName + L"\\";
  DWORD error = WorkParentRefusal(parent, DriveTypeOf(parent));
  // A leftover that stays (held open, a link that cannot be removed as a
  // link, a file) is never reused: the creation then fails on it.
  if (!error) error = RemoveTreeAt(m_strUnPackDir);
  if (!error) CreateHeldProtectedDirectory(parent, kWorkDirName, &m_hUnPackDir, &error);
  m_dwUnPackDirError = error;
  if (error) {
    CFileException report;
    report.SetOsError(static_cast<LONG>(error), m_strUnPackDir);
    ::SetLastError(error);
    CUtility::FileException(report);
  }
  return m_strUnPackDir;
}

void CUnPack::CleanUnPackDir() {
  if (m_hUnPackDir.IsValid()) RemoveHeldTree(&m_hUnPackDir, m_strUnPackDir);
}

DWORD CUnPack::CreateUnPackFile(const wchar_t* name, CHandle* created) {
  // Without a held directory the name, having no root, names nothing.
  return CreateFileBelow(m_hUnPackDir.Get(), name, created);
}

BOOL CUnPack::HasExtracted(const wchar_t* name) const {
  return !m_dwExtractError && m_hUnPackDir.IsValid() && IsPlainFileBelow(m_hUnPackDir.Get(), name);
}

CString CUnPack::HeldDirPath(DWORD* error) const {
  CString path;
  *error = m_hUnPackDir.IsValid() ? PathOfDirectory(m_hUnPackDir.Get(), m_strUnPackDir, &path) : m_dwUnPackDirError;
  return path;
}

BOOL CUnPack::IsHeldDir(const wchar_t* path) const {
  return m_hUnPackDir.IsValid() && PathOpensDirectory(path, m_hUnPackDir.Get());
}
