// String resource IDs the framework itself loads. Shared by the code and the
// resource script, so it holds only preprocessor definitions.
#pragma once

// "an unnamed file": stands for %1 when a failed file has no name.
#define AFX_IDP_UNNAMED_FILE 61446
// The file-error sentences: cause c has ID AFX_IDP_FILE_NONE + c (0 to 14).
#define AFX_IDP_FILE_NONE 61856
