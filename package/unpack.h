// CUnPack: finds the package appended to the launcher, extracts its entries
// into the work directory on a worker thread, and removes that directory
// again. The package is input that the elevated launcher must not trust.
#pragma once

#include <stdint.h>
#include <windows.h>

#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/handle.h"
#include "package/work_directory.h"

class CUnPack : public CExtractedFiles {
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

  // The work directory with its trailing backslash, created and held on
  // the first call (see CWorkDirectory::Create); the path also when that
  // failed, its file error line logged.
  CString GetUnPackDir() { return m_workDir.Create(); }
  // TRUE while this run holds the work directory it created, so that nobody
  // else can have placed, swapped or renamed it: the only kind of directory
  // the launcher extracts into and starts a command in.
  BOOL HoldsUnPackDir() const { return m_workDir.IsHeld(); }
  // Why the work directory is not held: the system error of its creation;
  // 0 while held.
  DWORD UnPackDirError() const { return m_workDir.Error(); }
  // Removes the held work directory with everything in it (see
  // CWorkDirectory::Remove). The path is kept.
  void CleanUnPackDir() { m_workDir.Remove(); }
  // Leaves the work directory in place when this object goes.
  void KeepUnPackDir() { m_workDir.Keep(); }

  // Creates name in the held work directory, relative to the handle, as a
  // new file open for writing. 0 or the system's error.
  DWORD CreateUnPackFile(const wchar_t* name, CHandle* created);
  BOOL HasExtracted(const wchar_t* name) const override;
  // Why nothing in the work directory may run: the directory's error, or
  // the extraction's (a package not found or not read to its end); 0 when
  // this run extracted it all into the directory it holds.
  DWORD LaunchRefusal() const { return UnPackDirError() ? UnPackDirError() : m_dwExtractError; }
  // TRUE once the walk met an entry with a name the launcher writes: a
  // launcher that carries no package reads whatever its image ends with as
  // a stub header, and a walk from there meets no such entry.
  BOOL FoundPackage() const { return m_bFoundPackage; }
  // The held work directory's own path, from its handle (no link on it),
  // with its backslash; empty, with the reason in *error, when none.
  CString HeldDirPath(DWORD* error) const { return m_workDir.HeldPath(error); }
  // TRUE when path opens the directory this run holds.
  BOOL IsHeldDir(const wchar_t* path) const { return m_workDir.Opens(path); }

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
  CHandle m_hThread;
  DWORD m_dwImageRefusal = 0;
  DWORD m_dwExtractError = ERROR_FILE_NOT_FOUND;  // 0 once the package was read to its end
  BOOL m_bFoundPackage = FALSE;
  CString m_strSource;  // empty: the running executable
  CWorkDirectory m_workDir;
};
