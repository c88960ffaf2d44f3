// The file of the running image, held open from the first moment of the
// process. The launcher reads its own file only through this handle, never
// by name again: a neighbour who renames the file away and puts another in
// its place after the system started the process must not be read from.
#pragma once

#include <windows.h>

#include "framework/file.h"
#include "framework/file_exception.h"

class CImageFile {
 public:
  CImageFile() = delete;

  // Opens path (the running image's path) for reading, sharing reading
  // only, so that nobody writes, renames or deletes it while it is held;
  // replaces what was held before. A failure is kept for Open to report.
  static void Hold(const wchar_t* path);

  // Opens file on the held file (CFile::OpenDuplicate, named name), then
  // checks that the system's name for the running image names the held file.
  // The system must also find the held file and the running image to be one
  // file when it compares their mappings, where it can. FALSE with error
  // filled for name, and the last error set to match: the hold's own error
  // when nothing is held, ERROR_ACCESS_DENIED when the held file is not the
  // running image (file is then closed).
  static BOOL Open(CFile& file, const wchar_t* name, CFileException* error);

  // Checks the held file against its signature (VerifyImageSignature, on the
  // held handle; name names it): the system's answer, 0 when it has none.
  static DWORD VerifySignature(const wchar_t* name);

 private:
  // Open's two decisions, reached by tests with files of their own.
  friend class CImageFileTestPeer;

  // The identity decision: TRUE when mappedName, as the system reports the
  // name of a mapped image (\Device\HarddiskVolume1\... on Windows,
  // \??\C:\... under Wine), names the very file open on held now.
  static BOOL NamesFile(const wchar_t* mappedName, HANDLE held);

  // TRUE when a view of the file open on held and the running image are
  // views of one file, as the system compares mappings; also TRUE where the
  // system cannot compare them (the name decides alone there).
  static BOOL MapsRunningImage(HANDLE held);
};
