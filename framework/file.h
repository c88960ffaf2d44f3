// The file object: a file opened by name, read, written and positioned with
// 64-bit offsets. It never throws: every operation reports failure by its
// result and fills the caller's file error record.
//
// Reads and writes go through one fixed buffer per open file, so that many
// small calls (the extractor copies in 1,024-byte chunks) cost few system
// calls. What callers see is what direct system calls would give: the bytes
// delivered per read, the end of the file, the length (written data counts),
// and every failure, reported as the same file error. Data still in the
// buffer reaches the file at Seek, GetLength and Close; a failure then is a
// write failure of that call.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/file_exception.h"
#include "framework/handle.h"

class CFile {
 public:
  enum OpenFlags : UINT {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeBinary = 0x8000,
  };
  enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

  // Bytes buffered per open file: memory stays this size whatever the file's.
  static constexpr UINT kBufferSize = 64 * 1024;

  CFile() = default;
  // Closes the file; a failure to write buffered data is lost here, so
  // writers call Close themselves.
  ~CFile() { Close(); }
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;

  // Opens name with the mode flags. On failure returns FALSE and fills error
  // (when given): cause 3 with the name as passed for a name of 260 units or
  // more or a full path that does not fit in 260; otherwise the OS error, its
  // cause and the name as passed. Success leaves error untouched. FALSE with
  // cause 1 when no buffer can be had.
  BOOL Open(const wchar_t* name, UINT flags, CFileException* error);
  // Opens a second, read-only handle to the file that source is open on,
  // positioned at its start and named as Open would name name; source stays
  // open. The two share one position: source is not read while this is
  // open. Failures as Open's, the duplication's OS error included.
  BOOL OpenDuplicate(HANDLE source, const wchar_t* name, CFileException* error);

  // Takes over handle, a file open for writing (made by another way than
  // Open), named name as given. FALSE with cause 1 when no buffer can be
  // had; handle is then closed.
  BOOL AdoptForWriting(CHandle&& handle, const wchar_t* name, CFileException* error);

  // Reads up to count bytes; *read gets the bytes delivered (fewer only at
  // the end of the file, 0 there). FALSE with error filled (the full path)
  // when the system fails.
  BOOL Read(void* buffer, UINT count, UINT* read, CFileException* error);
  // Writes count bytes. FALSE with error filled when the system fails, or
  // cause 13 (disk full) when the file takes fewer bytes than given.
  BOOL Write(const void* buffer, UINT count, CFileException* error);
  // Moves the position by offset from begin, current or end; *position (when
  // given) gets the new position. A position before the start of the file is
  // cause 9. FALSE with error filled on failure.
  BOOL Seek(LONGLONG offset, UINT from, ULONGLONG* position, CFileException* error);
  // The file's length in bytes, written data included. FALSE with error
  // filled on failure.
  BOOL GetLength(ULONGLONG* length, CFileException* error);

  // The full path resolved at open; empty when not open.
  const CString& GetFilePath() const { return m_strFileName; }

  // Writes what is buffered and closes the file (nothing when not open).
  // FALSE with error filled when the buffered data could not be written; the
  // file is closed either way.
  BOOL Close(CFileException* error = nullptr);

 private:
  friend class CFileTestPeer;
  enum class BufferState { kEmpty, kReading, kWriting };

  bool IsOpen() const { return m_hFile.IsValid(); }

  // What both opens check and need before a handle: the name's full path
  // into full, and the buffer. FALSE with error filled as Open describes.
  BOOL Prepare(const wchar_t* name, wchar_t (&full)[MAX_PATH + 1], CFileException* error);
  // Owns h, named full, after a successful open.
  void Attach(HANDLE h, const wchar_t* full, bool writable);
  // The zeroed buffer every open file reads and writes through. FALSE with
  // cause 1 for name when there is no memory for it.
  BOOL AllocateBuffer(const wchar_t* name, CFileException* error);

  BOOL Flush(CFileException* error);
  BOOL WriteThrough(const void* data, UINT count, CFileException* error);
  // Drops read-ahead data, moving the system's position back to ours.
  BOOL DropReadAhead(CFileException* error);
  void Fail(CFileException* error) const;

  CHandle m_hFile;
  CString m_strFileName;
  BYTE* m_pBuffer = nullptr;
  UINT m_nBufferUsed = 0;  // bytes in the buffer (read ahead, or waiting to be written)
  UINT m_nBufferPos = 0;   // next byte to deliver (reading only)
  BufferState m_state = BufferState::kEmpty;
  bool m_bWritable = false;
};
