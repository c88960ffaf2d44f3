#include "package/work_directory.h"

#include "diagnostics/log.h"
#include "hardening/handle_relative.h"
#include "hardening/held_path.h"
#include "hardening/protected_directory.h"
#include "hardening/shared_folder_file.h"
#include "hardening/tree_removal.h"

namespace {

// A neighbour who fills the names tried cannot fill them all: each try is a
// fresh draw from four billion.
const int kSiblingTries = 8;

// The kind of volume parent lies on; unknown for anything but a drive path.
UINT DriveTypeOf(const wchar_t* parent) {
  if (!parent[0] || parent[1] != L':') return DRIVE_UNKNOWN;
  wchar_t root[] = {parent[0], L':', L'\\', L'\0'};
  return ::GetDriveTypeW(root);
}

// WorkParentRefusal for a folder on the system: a remote one is refused
// before it is asked anything, so no request leaves the machine.
DWORD ParentRefusal(const wchar_t* parent) {
  UINT driveType = DriveTypeOf(parent);
  DWORD refusal = WorkParentRefusal(parent, driveType, FILE_ATTRIBUTE_DIRECTORY);
  return refusal ? refusal : WorkParentRefusal(parent, driveType, ::GetFileAttributesW(parent));
}

BOOL IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'); }

struct CSiblingSweep {
  const CString* parent;
};

DWORD ClearIfOwnSibling(void* context, HANDLE, const wchar_t* name, int length, DWORD) {
  CString component(name, length);
  if (length != kWorkDirSiblingUnits || !IsWorkDirSiblingName(component)) return 0;
  CString path = *static_cast<CSiblingSweep*>(context)->parent + component + L"\\";
  DWORD error = ClearLauncherLeftover(path);
  // Somebody else's is no concern of this run; a launcher's own is told.
  if (error != ERROR_ALREADY_EXISTS) CUtility::FileError(path, error);
  return 0;
}

}  // namespace

DWORD WorkParentRefusal(const wchar_t* parent, UINT driveType, DWORD attributes) {
  if (!parent[0]) return ERROR_PATH_NOT_FOUND;
  // The longer name, its backslash and the terminator within 260 units.
  if (::lstrlenW(parent) + kWorkDirSiblingUnits + 2 > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  // A file server can change a file after the launcher wrote it.
  if ((parent[0] == L'\\' && parent[1] == L'\\') || driveType == DRIVE_REMOTE) return ERROR_BAD_NETPATH;
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_PATH_NOT_FOUND;
  return 0;
}

BOOL IsWorkDirSiblingName(const wchar_t* name) {
  // Only the names this launcher makes: its own letters, in its own case.
  const int prefix = static_cast<int>(sizeof(kWorkDirName) / sizeof(wchar_t)) - 1;
  if (::lstrlenW(name) != kWorkDirSiblingUnits || name[prefix] != L'.') return FALSE;
  for (int i = 0; i < kWorkDirSiblingUnits; ++i)
    if (i < prefix ? name[i] != kWorkDirName[i] : i > prefix && !IsHexDigit(name[i])) return FALSE;
  return TRUE;
}

CWorkDirectory::CWorkDirectory(const wchar_t* parent) : m_strParent(parent) {}

CWorkDirectory::~CWorkDirectory() {
  if (!m_bKeep) Remove();
}

CString CWorkDirectory::ChooseParent() const {
  if (!m_strParent.IsEmpty()) return m_strParent;
  // Room for a path longer than the limit, so that it is refused as such.
  wchar_t temp[2 * MAX_PATH] = {};
  DWORD length = ::GetTempPathW(2 * MAX_PATH, temp);
  if (length && length < 2 * MAX_PATH && !ParentRefusal(temp)) return CString(temp);
  // The user's TEMP cannot serve: the machine's own Temp can, from the
  // kernel, never from a variable the user sets.
  wchar_t windows[MAX_PATH + 1] = {};
  ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  CString parent(windows);
  parent += L"\\Temp\\";
  return parent;
}

DWORD CWorkDirectory::CreateNamed(const CString& parent, const wchar_t* name) {
  DWORD error = 0;
  CreateHeldProtectedDirectory(parent, name, &m_hHeld, &error);
  return error;
}

DWORD CWorkDirectory::CreateSibling(const CString& parent) {
  DWORD error = ERROR_ALREADY_EXISTS;
  CString name;
  for (int attempt = 0; attempt < kSiblingTries && error == ERROR_ALREADY_EXISTS; ++attempt) {
    if (!UnforeseeableName(kWorkDirName, &name)) return ERROR_INVALID_FUNCTION;
    m_strPath = parent + name + L"\\";
    error = CreateNamed(parent, name);
  }
  return error;
}

void CWorkDirectory::ClearOwnSiblings(const CString& parent) const {
  CHandle folder(::CreateFileW(parent, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  CSiblingSweep sweep = {&parent};
  if (folder.IsValid()) ForEachEntry(folder.Get(), ClearIfOwnSibling, &sweep);
}

const CString& CWorkDirectory::Create() {
  if (!m_strPath.IsEmpty()) return m_strPath;
  CString parent = ChooseParent();
  m_strPath = parent + kWorkDirName + L"\\";
  DWORD error = ParentRefusal(parent);
  if (!error) {
    ClearOwnSiblings(parent);
    // Whatever is at the name stays unless it is a launcher's own that can
    // go as a whole; either way the line tells.
    DWORD inTheWay = 0;
    if (::GetFileAttributesW(parent + kWorkDirName) != INVALID_FILE_ATTRIBUTES) {
      inTheWay = ClearLauncherLeftover(m_strPath);
      CUtility::FileError(m_strPath, inTheWay);
    }
    error = inTheWay ? ERROR_ALREADY_EXISTS : CreateNamed(parent, kWorkDirName);
    if (error == ERROR_ALREADY_EXISTS) {
      // Put there since it was looked at.
      if (!inTheWay) CUtility::FileError(m_strPath, error);
      error = CreateSibling(parent);
    }
  }
  m_dwError = error;
  if (error) CUtility::FileError(m_strPath, error);
  return m_strPath;
}

void CWorkDirectory::Remove() {
  if (!m_hHeld.IsValid()) return;
  if (DWORD error = RemoveHeldTree(&m_hHeld, m_strPath)) CUtility::FileError(m_strPath, error);
}

CString CWorkDirectory::HeldPath(DWORD* error) const {
  CString path;
  *error = m_hHeld.IsValid() ? PathOfDirectory(m_hHeld.Get(), m_strPath, &path) : m_dwError;
  return path;
}

BOOL CWorkDirectory::Opens(const wchar_t* path) const {
  return m_hHeld.IsValid() && PathOpensDirectory(path, m_hHeld.Get());
}
