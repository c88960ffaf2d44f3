// Finds the package the way a launcher does, for list, extract and sign.
#pragma once

#include <string>

#include "bytes/byte_stream.h"
#include "format/package_reader.h"
#include "tools/packfile/core/launcher_image.h"
#include "tools/packfile/core/message_sink.h"

// The launcher's reading (certificate length at kSecuritySizeAtPe32 of the PE
// headers, kSecuritySizeAtPe32Plus in a PE32+ image). `note` is set when that reading
// and the image's own security entry lead to different stub headers, which
// only a hand-edited or unusual image does; empty otherwise.
CLocatorRead LocatePackage(CByteSource& file, std::string* note);

// LocatePackage for a command on `path`, after verify's layout checks (headers
// and records only, never the entries' data): reports the note, and one error
// per reason when there is no package or the layout fails (a cut download, a
// table that is not last). True when the package was found and its layout holds.
// `launcher`, when given, gets what the checks found the image to be.
bool LocatePackageOrSay(CByteSource& file, const std::string& path, CDiagnostics& diagnostics,
                        CLocatorRead* located, CLauncherIdentity* launcher = nullptr);
