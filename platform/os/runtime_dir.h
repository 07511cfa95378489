// The namespace of named objects and its runtime folder.
//
// VANTOR_NAMESPACE selects the namespace (default "default"); processes of
// one user in different namespaces never meet. Runtime files live in
// $XDG_RUNTIME_DIR/vantor/<namespace>/ or, without a runtime directory, in
// /tmp/vantor-<uid>/<namespace>/, created with mode 0700; a folder owned by
// someone else or open to others is refused.
#pragma once

#include <string>
#include <string_view>

#include "platform/os/os_error.h"

namespace vantor::os {

std::string CurrentNamespace();

// The runtime folder of the current namespace, created when absent.
OsResult<std::string> RuntimeDirectory();
// Removes the current namespace's runtime folder when no process uses it any
// more, for a program that leaves the namespace: what killed processes left
// behind goes with it. Harmless while others use it.
void RemoveRuntimeDirectoryIfUnused();

// A file-name-safe identifier for any text (blanks, slashes, any length).
// Short texts of safe characters map to themselves; other texts are
// escaped, and texts whose escaped form would be long are shortened to a
// prefix and a 128-bit digest of the whole text. Different texts give
// different identifiers.
std::string SafeIdentifier(std::string_view text);

}  // namespace vantor::os
