// CUnPack: finds the package appended to the launcher, extracts its entries
// into the work directory on a worker thread, and removes that directory
// again. The package is input that the elevated launcher must not trust.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/handle.h"

// Why a work directory in parent (with its backslash) must not be used: too
// long for the 260-unit current directory (ERROR_FILENAME_EXCED_RANGE), on
// another machine (a UNC path, or driveType DRIVE_REMOTE: ERROR_BAD_NETPATH),
// or no parent at all (ERROR_PATH_NOT_FOUND); 0 when it may. driveType is the
// volume's kind as GetDriveTypeW reports it for the parent's root.
DWORD WorkParentRefusal(const wchar_t* parent, UINT driveType);

class CUnPack {
 public:
  // Reads the running executable, through the file held since the process
  // began (CImageFile), and works under the temporary directory.
  CUnPack();
  // Reads sourcePath, opened by name, instead of the running executable
  // (null: the running executable), and puts the work directory in
  // workParent, which ends with a backslash (null: the temporary directory).
  CUnPack(const wchar_t* sourcePath, const wchar_t* workParent);
  CUnPack(const CUnPack&) = delete;
  CUnPack& operator=(const CUnPack&) = delete;

  // Extracts on a worker thread and waits for it without a time limit; the
  // thread handle is released once the thread has ended. What was extracted
  // is not reported: the run goes on to the command either way.
  void Run();
  // Starts the worker thread unless one is held; no thread is held when the
  // system cannot create one.
  void StartThread();
  // The worker's entry: UnPackFiles on the object passed; 0 for null.
  static DWORD WINAPI ThreadProc(LPVOID param);

  // Writes every entry of the package into the work directory, logging each
  // file and the total. 0 when there is no package or the file cannot be
  // opened; 1 otherwise, also when a read, write or seek failure ended the
  // walk early (its file error line is logged and nothing is left open).
  // Any failure but a refused entry name is kept for LaunchRefusal.
  int UnPackFiles();
  // The file offset of the first entry record, taken from the stub header
  // before the certificate table; 0 (with its log lines) when there is none
  // or the file cannot be read, and when the running image is signed but no
  // longer matches its signature (see ImageRefusal).
  ULONGLONG FindHeader();
  // Why the running image was refused (the signature verification's
  // result), 0 while it was not: a refused run extracts and launches nothing.
  DWORD ImageRefusal() const { return m_dwImageRefusal; }

  // The work directory with its trailing backslash. The first call refuses
  // a parent too long for the current directory or on a remote volume,
  // removes what an earlier run left there (its whole tree, never through a
  // link), creates the directory afresh and holds it (see HoldsUnPackDir);
  // when any of it fails, the file error line naming the path and the
  // reason is logged and the path still returned.
  CString GetUnPackDir();
  // TRUE when this run created the work directory itself and holds it, so
  // that nobody else can have placed, swapped or renamed it: the only kind
  // of directory the launcher extracts into and starts a command in.
  BOOL HoldsUnPackDir() const { return m_hUnPackDir.IsValid(); }
  // Why the work directory is not held: the system error of its creation
  // (ERROR_ALREADY_EXISTS for anything left at the path, a link included,
  // which the file error line shows as access denied); 0 while held.
  DWORD UnPackDirError() const { return m_dwUnPackDirError; }
  // Removes the held work directory with everything in it, through the
  // handle (links inside are unlinked, never entered), letting go of the
  // hold just before the directory itself goes. Does nothing while no
  // directory is held; the path is kept.
  void CleanUnPackDir();

  // Creates name in the held work directory, relative to the handle, as a
  // new file open for writing. 0 or the system's error.
  DWORD CreateUnPackFile(const wchar_t* name, CHandle* created);
  // TRUE when this run's extraction ran to its end and left name in the
  // held work directory as a plain file with one name.
  BOOL HasExtracted(const wchar_t* name) const;
  // Why nothing in the work directory may run: the directory's error, or
  // the extraction's (a package not found or not read to its end); 0 when
  // this run extracted it all into the directory it holds.
  DWORD LaunchRefusal() const { return m_dwUnPackDirError ? m_dwUnPackDirError : m_dwExtractError; }
  // TRUE once the locator found a package (a header offset other than 0).
  BOOL FoundPackage() const { return m_bFoundPackage; }
  // The held work directory's own path, from its handle (no link on it),
  // with its backslash; empty, with the reason in *error, when none.
  CString HeldDirPath(DWORD* error) const;
  // TRUE when path opens the directory this run holds.
  BOOL IsHeldDir(const wchar_t* path) const;

 private:
  // The file to read: the one given, or the running executable's path.
  CString SourcePath() const;
  // Opens the file to read for reading; path is SourcePath()'s, the name in
  // file error records. Failures as CFile::Open's, and for the running
  // executable CImageFile::Open's.
  BOOL OpenSource(CFile& file, const CString& path, CFileException* error) const;
  // FALSE, with the file error line for path logged and ImageRefusal set,
  // when the running image (length bytes) has a certificate table
  // (certificateSize not 0, at address) that does not end the file or that
  // its contents no longer match.
  BOOL AcceptSignature(const CString& path, int32_t certificateSize, uint32_t address, ULONGLONG length);
  // The folder that holds the work directory, with its trailing backslash.
  CString WorkParent() const;

  CHandle m_hThread;
  CString m_strUnPackDir;
  CHandle m_hUnPackDir;  // the work directory as this run created it
  DWORD m_dwUnPackDirError = ERROR_PATH_NOT_FOUND;
  DWORD m_dwImageRefusal = 0;
  DWORD m_dwExtractError = ERROR_FILE_NOT_FOUND;  // 0 once the package was read to its end
  BOOL m_bFoundPackage = FALSE;
  CString m_strSource;      // empty: the running executable
  CString m_strWorkParent;  // empty: the temporary directory
};
