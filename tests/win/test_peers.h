// What the tests reach past the public face of product classes: decisions
// fed with facts the system will not report on request, and state that no
// caller needs. Each class names its peer a friend.
#pragma once

#include <windows.h>

#include "diagnostics/log.h"
#include "framework/file.h"
#include "hardening/image_file.h"

class CFileTestPeer {
 public:
  static bool IsOpen(const CFile& file) { return file.IsOpen(); }
};

class CImageFileTestPeer {
 public:
  static BOOL NamesFile(const wchar_t* mappedName, HANDLE held) { return CImageFile::NamesFile(mappedName, held); }
  static BOOL MapsRunningImage(HANDLE held) { return CImageFile::MapsRunningImage(held); }
};

class CUtilityTestPeer {
 public:
  static void LogOSLine(const OSVERSIONINFOW& version, BOOL wow64) { CUtility::LogOSLine(version, wow64); }
};
