// Finds the package the way a launcher does, for list and extract.
#pragma once

#include "package/byte_stream.h"
#include "package/package_reader.h"

// The launcher's reading (certificate length from byte 156 of the PE headers),
// or with `native` the certificate length from the image's own security entry.
// `note` is set when the two readings disagree; empty otherwise.
CLocatorRead LocatePackage(CByteSource& file, bool native, std::string* note);
