// Facts about the system read from where the system records them, apart from
// the calls the launcher makes, so that tests compare against them instead
// of asking the launcher's own questions a second time.
#pragma once

#include <string>

// The Windows version the registry records under
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion.
struct RecordedVersion {
  unsigned long major = 0;
  unsigned long minor = 0;
  unsigned long build = 0;
  std::wstring servicePack;  // "" when none is installed
};
// False when the values cannot be read.
bool ReadRecordedVersion(RecordedVersion* version);

// The Windows path of this test program as the build placed it.
std::wstring BuiltProgramPath();
