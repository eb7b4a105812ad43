// Thinning of one executable for the daemon: the universal file is replaced in place by a
// copy holding only one architecture's slice (Platform/MachO.h), owner, mode and times kept.
//
// Threads: any; no shared state.
#pragma once

#include <string>

#include "Platform/RemovalGate.h"

namespace hvndaemon {

// Thins the executable at path to the architecture arch. The path must pass the removal
// gate and be a regular file (a symbolic link is refused, never followed); it is read and
// replaced through the folder the gate admitted, so a folder swapped for a link meanwhile
// changes nothing elsewhere. The copy goes to a temporary file in the same folder and is
// renamed over the original only when complete: any failure leaves the original as it was.
// True when it was replaced; false with errorText ("Refusing to thin <path>: ..." for a
// refusal, "Could not thin <path>: ..." otherwise).
bool thinExecutable(const hvn::RemovalGate& gate, const std::string& path, const std::string& arch,
                    std::string* errorText);

}  // namespace hvndaemon
