// A small growable UTF-16 string: the one string type of the launcher's code.
// The launcher may not pull in the C++ standard library's strings, so this
// carries only what the launcher needs: copy, append, formatting with the
// Microsoft printf conventions and loading from the string table.
#pragma once

#include <stdarg.h>
#include <windows.h>

class CString {
 public:
  CString() = default;
  // Copies s (null is taken as empty).
  CString(const wchar_t* s);  // NOLINT: implicit, like the framework's string
  // Copies the first len units of s.
  CString(const wchar_t* s, int len);
  CString(const CString& other);
  CString(CString&& other) noexcept;
  ~CString();

  CString& operator=(const CString& other);
  CString& operator=(CString&& other) noexcept;
  CString& operator=(const wchar_t* s);

  // Appends; on allocation failure the string is left unchanged.
  CString& operator+=(const wchar_t* s);
  CString& operator+=(const CString& s);
  CString& operator+=(wchar_t ch);
  // Appends the first len units of s; FALSE (string unchanged) when memory runs out.
  BOOL Append(const wchar_t* s, int len);

  int GetLength() const { return m_len; }
  bool IsEmpty() const { return m_len == 0; }
  // Always a valid zero-terminated string, "" when empty.
  const wchar_t* GetString() const { return m_data ? m_data : L""; }
  operator const wchar_t*() const { return GetString(); }
  wchar_t operator[](int i) const { return (i >= 0 && i < m_len) ? m_data[i] : L'\0'; }

  void Empty();

  // Formats with the Microsoft C runtime's wide conventions ("%s" wide,
  // "%S" 8-bit). FALSE, leaving the string empty, when formatting fails.
  BOOL Format(const wchar_t* format, ...);
  BOOL FormatV(const wchar_t* format, va_list args);

  // Loads string resource id from the running executable. FALSE and an empty
  // string when the id is missing.
  BOOL LoadString(UINT id);

 private:
  BOOL Reserve(int capacity);

  wchar_t* m_data = nullptr;
  int m_len = 0;
  int m_capacity = 0;  // units available for text, terminator excluded
};

CString operator+(const CString& a, const wchar_t* b);

// TRUE when text begins with prefix, compared unit by unit (case counts).
BOOL StartsWith(const wchar_t* text, const wchar_t* prefix);
