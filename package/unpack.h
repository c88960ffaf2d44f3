// CUnPack: finds the package appended to the launcher, extracts its entries
// into the work directory on a worker thread, and removes that directory
// again. The package is input that the elevated launcher must not trust.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/handle.h"

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
  int UnPackFiles();
  // The file offset of the first entry record, taken from the stub header
  // before the certificate table; 0 (with its log lines) when there is none
  // or the file cannot be read, and when the running image is signed but no
  // longer matches its signature (see ImageRefusal).
  ULONGLONG FindHeader();
  // Why the running image was refused (the signature verification's
  // result), 0 while it was not: a refused run extracts and launches nothing.
  DWORD ImageRefusal() const { return m_dwImageRefusal; }

  // The work directory with its trailing backslash. The first call clears
  // what an earlier run left there (never through a link), creates the
  // directory afresh and holds it (see HoldsUnPackDir); when that fails, the
  // file error line naming the path is logged and the path still returned.
  CString GetUnPackDir();
  // TRUE when this run created the work directory itself and holds it, so
  // that nobody else can have placed, swapped or renamed it: the only kind
  // of directory the launcher extracts into and starts a command in.
  BOOL HoldsUnPackDir() const { return m_hUnPackDir.IsValid(); }
  // Why the work directory is not held: the system error of its creation
  // (ERROR_ALREADY_EXISTS for anything left at the path, a link included,
  // which the file error line shows as access denied); 0 while held.
  DWORD UnPackDirError() const { return m_dwUnPackDirError; }
  // Deletes the work directory's files and removes it, letting go of the
  // hold just before the removal. A work directory that is a link is
  // unlinked, never entered; links inside it are unlinked. Does nothing
  // before the path was computed; the path is kept.
  void CleanUnPackDir();

 private:
  // The file to read: the one given, or the running executable's path.
  CString SourcePath() const;
  // Opens the file to read for reading; path is SourcePath()'s, the name in
  // file error records. Failures as CFile::Open's, and for the running
  // executable CImageFile::Open's.
  BOOL OpenSource(CFile& file, const CString& path, CFileException* error) const;
  // FALSE, with the file error line for path logged and ImageRefusal set,
  // when the running image has a certificate table (certificateSize not 0)
  // that its contents no longer match.
  BOOL AcceptSignature(const CString& path, LONG certificateSize);
  // The folder that holds the work directory, with its trailing backslash.
  CString WorkParent() const;

  // Empties the directory at the stored path of its files, never through a link.
  void DeleteUnPackDirFiles();

  CHandle m_hThread;
  CString m_strUnPackDir;
  CHandle m_hUnPackDir;  // the work directory as this run created it
  DWORD m_dwUnPackDirError = ERROR_PATH_NOT_FOUND;
  DWORD m_dwImageRefusal = 0;
  CString m_strSource;      // empty: the running executable
  CString m_strWorkParent;  // empty: the temporary directory
};
