// Finds the package the way a launcher does, for list and extract.
#pragma once

#include <ostream>
#include <string>

#include "bytes/byte_stream.h"
#include "format/package_reader.h"

// The launcher's reading (certificate length at kSecuritySizeAtPe32 of the PE
// headers, kSecuritySizeAtPe32Plus in a PE32+ image). `note` is set when that reading
// and the image's own security entry lead to different stub headers, which
// only a hand-edited or unusual image does; empty otherwise.
CLocatorRead LocatePackage(CByteSource& file, std::string* note);

// LocatePackage for a command on `path`, after verify's layout checks: prints
// the note, and one line per reason when there is no package or the layout
// fails (a cut download, a table that is not last). True when the package
// was found and its layout holds.
bool LocatePackageOrSay(CByteSource& file, const std::string& path, std::ostream& err, CLocatorRead* located);
