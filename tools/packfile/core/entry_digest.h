// SHA-256 of a range of a file, for list --sha256 and the JSON listing.
#pragma once

#include <cstdint>
#include <string>

#include "bytes/byte_stream.h"

// The lower-case hex SHA-256 of `size` bytes at `offset`; empty when the file
// cannot supply them all.
std::string Sha256Hex(CByteSource& file, std::uint64_t offset, std::uint64_t size);
