#include "framework/cstring.h"

#include <stdio.h>
#include <wchar.h>

#include "framework/system_dlls.h"

namespace {

// Formatting larger than this is treated as a failure rather than letting a
// hostile argument make the launcher allocate without bound.
const int kMaxFormatUnits = 1 << 20;

wchar_t* Allocate(int units) {
  return static_cast<wchar_t*>(
      ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, (static_cast<SIZE_T>(units) + 1) * sizeof(wchar_t)));
}

void Free(wchar_t* p) {
  if (p) ::HeapFree(::GetProcessHeap(), 0, p);
}

int Length(const wchar_t* s) { return s ? static_cast<int>(wcslen(s)) : 0; }

}  // namespace

CString::CString(const wchar_t* s) { Append(s, Length(s)); }

CString::CString(const wchar_t* s, int len) { Append(s, len); }

CString::CString(const CString& other) { Append(other.m_data, other.m_len); }

CString::CString(CString&& other) noexcept
    : m_data(other.m_data), m_len(other.m_len), m_capacity(other.m_capacity) {
  other.m_data = nullptr;
  other.m_len = other.m_capacity = 0;
}

CString::~CString() { Free(m_data); }

CString& CString::operator=(const CString& other) {
  if (this != &other) {
    Empty();
    Append(other.m_data, other.m_len);
  }
  return *this;
}

CString& CString::operator=(CString&& other) noexcept {
  if (this != &other) {
    Free(m_data);
    m_data = other.m_data;
    m_len = other.m_len;
    m_capacity = other.m_capacity;
    other.m_data = nullptr;
    other.m_len = other.m_capacity = 0;
  }
  return *this;
}

CString& CString::operator=(const wchar_t* s) {
  if (s >= m_data && s <= m_data + m_len && m_data) {  // assigning from inside ourselves
    CString copy(s);
    return *this = static_cast<CString&&>(copy);
  }
  Empty();
  Append(s, Length(s));
  return *this;
}

CString& CString::operator+=(const wchar_t* s) {
  Append(s, Length(s));
  return *this;
}

CString& CString::operator+=(const CString& s) {
  Append(s.m_data, s.m_len);
  return *this;
}

CString& CString::operator+=(wchar_t ch) {
  Append(&ch, 1);
  return *this;
}

BOOL CString::Reserve(int capacity) {
  if (capacity <= m_capacity) return TRUE;
  int grown = m_capacity < 16 ? 16 : m_capacity;
  while (grown < capacity && grown < (1 << 29)) grown *= 2;
  if (grown < capacity) return FALSE;
  wchar_t* data = Allocate(grown);
  if (!data) return FALSE;
  if (m_len) memcpy(data, m_data, m_len * sizeof(wchar_t));
  Free(m_data);
  m_data = data;
  m_capacity = grown;
  return TRUE;
}

BOOL CString::Append(const wchar_t* s, int len) {
  if (!s || len <= 0) return TRUE;
  if (len > (1 << 29) - m_len) return FALSE;
  if (m_data && s >= m_data && s < m_data + m_len) {  // appending part of ourselves
    CString copy(s, len);
    return Append(copy.m_data, copy.m_len);
  }
  if (!Reserve(m_len + len)) return FALSE;
  memcpy(m_data + m_len, s, len * sizeof(wchar_t));
  m_len += len;
  m_data[m_len] = L'\0';
  return TRUE;
}

void CString::Empty() {
  m_len = 0;
  if (m_data) m_data[0] = L'\0';
}

BOOL CString::Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  BOOL ok = FormatV(format, args);
  va_end(args);
  return ok;
}

BOOL CString::FormatV(const wchar_t* format, va_list args) {
  // Formatting into a fresh string keeps arguments that point into this one valid.
  CString out;
  if (format) {
    // _vsnwprintf keeps the Microsoft conventions; the standard vswprintf of
    // mingw-w64's C++ mode would read "%s" as an 8-bit string.
    for (int capacity = 256; capacity <= kMaxFormatUnits; capacity *= 2) {
      if (!out.Reserve(capacity)) break;
      va_list copy;
      va_copy(copy, args);
      int n = _vsnwprintf(out.m_data, out.m_capacity + 1, format, copy);
      va_end(copy);
      if (n >= 0 && n <= out.m_capacity) {
        out.m_len = n;
        out.m_data[n] = L'\0';
        *this = static_cast<CString&&>(out);
        return TRUE;
      }
    }
  }
  Empty();
  return FALSE;
}

BOOL CString::LoadString(UINT id) {
  Empty();
  // With a zero length the loader hands back a pointer into the read-only
  // resource and the text's length, so no fixed buffer limits the text.
  const wchar_t* text = nullptr;
  const CSystemApi* api = SystemApi();
  if (!api) return FALSE;
  int len = api->LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (len <= 0 || !text) return FALSE;
  return Append(text, len);
}

CString operator+(const CString& a, const wchar_t* b) {
  CString result(a);
  result += b;
  return result;
}

BOOL StartsWith(const wchar_t* text, const wchar_t* prefix) {
  for (; *prefix; ++text, ++prefix)
    if (*text != *prefix) return FALSE;
  return TRUE;
}
