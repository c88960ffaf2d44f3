#include "hardening/handle_relative.h"
#include "package/unpack.h"

DWORD CUnPack::CreateUnPackFile(const wchar_t* name, CHandle* created) {
  // Without a held directory the name, having no root, names nothing.
  return CreateFileBelow(m_workDir.Handle(), name, created);
}

BOOL CUnPack::HasExtracted(const wchar_t* name) const {
  return !m_dwExtractError && m_workDir.IsHeld() && IsPlainFileBelow(m_workDir.Handle(), name);
}
