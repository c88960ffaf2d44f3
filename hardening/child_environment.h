// The environment of the program the launcher starts. The launcher inherits
// its user's environment, which the unelevated user writes (HKCU\Environment):
// variables that the system defines for itself would let that user steer an
// elevated child to programs of the user's choosing, and some variables make
// a program load code named in them.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

// The variables the child takes from the machine alone, in the order of
// ChildEnvironment::values: removed where the machine's block has none,
// which is always so for the ones that make a program load code.
extern const wchar_t* const kSystemDefinedVariables[];
const int kSystemDefinedVariableCount = 26;
// Removed from the child's environment: with it, the interpreter would skip
// the current directory and take run.bat from the user's PATH.
extern const wchar_t kNoCurrentDirectorySearch[];

// What the child's environment changes from the launcher's: each variable
// of the list set to values[i], or removed where the machine defines none
// (null).
struct ChildEnvironment {
  const wchar_t* values[kSystemDefinedVariableCount];
};

// The value of name in an environment block ("name=value" strings, an empty
// one closing the block), compared without case; null when the block has none.
const wchar_t* FindVariable(const wchar_t* block, const wchar_t* name);

// The changes for the machine's block (values point into it).
void ComposeChildEnvironment(const wchar_t* systemBlock, ChildEnvironment* environment);

// Makes the changes in this process's environment, which the child inherits.
// FALSE when the system refuses one.
BOOL ApplyChildEnvironment(const ChildEnvironment& environment);

// Steps through a ';'-separated list: the next part lies in [*first, *last)
// and *cursor moves past its ';'. FALSE at the list's end (or a null list).
BOOL NextListPart(const wchar_t** cursor, const wchar_t** first, const wchar_t** last);

// The folder of a ';'-separated list between first and last, without its
// quotes and trailing backslashes.
CString ListFolder(const wchar_t* first, const wchar_t* last);

// Where %NAME% in a machine value finds its value: TRUE with *value set,
// FALSE to leave the reference as it stands.
typedef BOOL (*MachineLookupFn)(void* context, const CString& name, CString* value);

// text with each %NAME% reference replaced through lookup, once: what a
// replacement holds is not expanded again.
CString ExpandMachineText(const wchar_t* text, MachineLookupFn lookup, void* context);

// The child's Path: the machine's own folders, then those of inherited (the
// launcher's own Path) that neither the machine lists nor userPath defines
// (the user's own Path and the machine's, as the user's values expand
// them), so that what a calling script added still reaches the child.
// Folders compare without case and without a trailing backslash.
CString ComposeChildPath(const wchar_t* machinePath, const wchar_t* inherited, const wchar_t* userPath);

// The machine's own block: SystemRoot and windir as the kernel answers,
// every other value from the machine's registry keys with its references
// expanded against those answers and the machine's own variables, never
// against anything a user sets; Path as ComposeChildPath makes it.
class CSystemEnvironment {
 public:
  // Builds the block; FALSE when the kernel cannot say where Windows is.
  BOOL Load();
  // The block after a successful Load; null before.
  const wchar_t* Get() const { return m_block.IsEmpty() ? nullptr : m_block.GetString(); }
  // The machine's own PATH, expanded, after a successful Load.
  const wchar_t* MachinePath() const { return m_machinePath; }

 private:
  CString m_block;
  CString m_machinePath;
};
