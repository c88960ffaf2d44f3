// The order in which a launcher finds its package and walks the records,
// written once over a reader that each side supplies: the launcher's reads
// its held image and logs as it goes, packfile's reads byte views and keeps
// what it saw. What packfile says a launcher extracts is therefore the
// launcher's own sequence, not a copy of it. Header-only and allocation-free,
// like the reading rules it strings together.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "format/reading_rules.h"

// What the locate sequence read on its way to the stub header.
struct CPackageLocation {
  uint64_t length = 0;          // the file's
  int32_t peOffset = 0;         // the int32 at pe::kPeOffsetAt
  uint16_t magic = 0;           // the optional header's
  int32_t certificateSize = 0;  // as the locator takes it (SecuritySize)
  uint64_t headerOffset = 0;    // the stub header's size: the first record's offset, 0 for none
};

enum class LocateEnd {
  kFound,            // headerOffset is the stub header's size, not 0
  kNoPackage,        // the stub header was read and its size is 0
  kPeOffsetOutside,  // the PE offset lies outside the file: nothing more is read
  kStubBeforeStart,  // the certificate table is longer than the file
  kStopped,          // a read failed or the reader refused the stub (it has said why)
};

// A locate reader provides
//   bool Read(uint64_t offset, void* buffer, size_t count);
//       up to count bytes at offset; bytes the file does not hold keep what
//       the buffer held (zeroes). false when the read failed.
//   bool Length(uint64_t* length);
//   bool ReadTail(uint64_t tail, void* buffer, size_t count);
//       as Read, tail bytes before the end; false also when that lies
//       before the file's start.
//   void CertificateSizeRead(int32_t size);
//   bool AcceptStub(const CPackageLocation& at, const uint8_t (&peHeaders)[kPeHeaderBytes]);
//       false refuses the image (the launcher's signature check).

// The stub header for a certificate table `certificateSize` bytes long,
// once the PE headers were found in a file `at->length` bytes long.
template <class Reader>
LocateEnd LocateStub(Reader& reader, int32_t certificateSize, CPackageLocation* at,
                     const uint8_t (&peHeaders)[kPeHeaderBytes]) {
  at->certificateSize = certificateSize;
  const uint64_t tail = StubTail(certificateSize);
  PACKFILE_HEADER stub = {};
  if (!reader.ReadTail(tail, &stub, sizeof(stub)))
    return tail > at->length ? LocateEnd::kStubBeforeStart : LocateEnd::kStopped;
  if (!reader.AcceptStub(*at, peHeaders)) return LocateEnd::kStopped;
  at->headerOffset = stub.size;
  return stub.size ? LocateEnd::kFound : LocateEnd::kNoPackage;
}

// The PE headers, read where the DOS header points. kFound when they were.
template <class Reader>
LocateEnd LocatePeHeaders(Reader& reader, CPackageLocation* at, uint8_t (&peHeaders)[kPeHeaderBytes]) {
  uint8_t dos[pe::kDosHeaderBytes] = {};
  if (!reader.Read(0, dos, sizeof(dos)) || !reader.Length(&at->length)) return LocateEnd::kStopped;
  at->peOffset = PeOffset(dos);
  if (!PeOffsetInFile(at->peOffset, at->length)) return LocateEnd::kPeOffsetOutside;
  if (!reader.Read(static_cast<uint64_t>(at->peOffset), peHeaders, sizeof(peHeaders))) return LocateEnd::kStopped;
  at->magic = OptionalMagic(peHeaders);
  return LocateEnd::kFound;
}

// Where the package's first record lies: the stub header that the image's
// certificate table (if any) follows.
template <class Reader>
LocateEnd LocatePackage(Reader& reader, CPackageLocation* at) {
  uint8_t peHeaders[kPeHeaderBytes] = {};
  const LocateEnd headers = LocatePeHeaders(reader, at, peHeaders);
  if (headers != LocateEnd::kFound) return headers;
  const int32_t certificateSize = SecuritySize(peHeaders);
  reader.CertificateSizeRead(certificateSize);
  return LocateStub(reader, certificateSize, at, peHeaders);
}

// A walk reader provides
//   bool ReadRecord(PACKFILE_HEADER* record, size_t* got);
//       the next record; *got bytes of it were read. false when the read failed.
//   int64_t Written() const;      the entries written so far
//   bool Entry(const PACKFILE_HEADER& record);
//       writes the entry or passes it by, and moves past its data; false
//       ends the walk.

// Walks record after record from where the reader stands. Returns the step
// that ended the walk, kEntry when the reader ended it; *record holds the
// last record read.
template <class Reader>
WalkStep WalkRecords(Reader& reader, PACKFILE_HEADER* record) {
  for (;;) {
    size_t got = 0;
    if (!reader.ReadRecord(record, &got)) return WalkStep::kEntry;
    const WalkStep step = NextWalkStep(got, *record, reader.Written());
    if (step != WalkStep::kEntry || !reader.Entry(*record)) return step;
  }
}
