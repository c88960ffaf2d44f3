// The environment of the program the launcher starts. The launcher inherits
// its user's environment, which the unelevated user writes (HKCU\Environment):
// variables that the system defines for itself would let that user steer an
// elevated child to programs of the user's choosing.
#pragma once

#include <windows.h>

#include "framework/handle.h"

// The variables the system defines, taken from the system and never from the
// user, in the order of ChildEnvironment::values.
extern const wchar_t* const kSystemDefinedVariables[];
const int kSystemDefinedVariableCount = 13;
// Removed from the child's environment: with it, the interpreter would skip
// the current directory and take run.bat from the user's PATH.
extern const wchar_t kNoCurrentDirectorySearch[];

// What the child's environment changes from the launcher's: each system-defined
// variable set to values[i], or removed where the system defines none (null).
struct ChildEnvironment {
  const wchar_t* values[kSystemDefinedVariableCount];
};

// The value of name in an environment block ("name=value" strings, an empty
// one closing the block), compared without case; null when the block has none.
const wchar_t* FindVariable(const wchar_t* block, const wchar_t* name);

// The changes for the system's own environment block (values point into it).
void ComposeChildEnvironment(const wchar_t* systemBlock, ChildEnvironment* environment);

// Makes the changes in this process's environment, which the child inherits.
// FALSE when the system refuses one.
BOOL ApplyChildEnvironment(const ChildEnvironment& environment);

// The environment the system gives a process before any user's variables are
// added (the machine's own block), owned until destruction.
class CSystemEnvironment {
 public:
  CSystemEnvironment() = default;
  ~CSystemEnvironment();
  CSystemEnvironment(const CSystemEnvironment&) = delete;
  CSystemEnvironment& operator=(const CSystemEnvironment&) = delete;

  // Builds the block; FALSE with the system's error when it cannot.
  BOOL Load();
  // The block after a successful Load; null before.
  const wchar_t* Get() const { return static_cast<const wchar_t*>(m_block); }

 private:
  void* m_block = nullptr;
  void* m_destroy = nullptr;  // DestroyEnvironmentBlock
  CModule m_userenv;
};
