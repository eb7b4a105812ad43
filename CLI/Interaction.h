// What the commands share in talking to the terminal: Ctrl-C as a request to stop, the
// yes-or-no question before a removal, and paths given relative to the working folder.
#pragma once

#include <string>

namespace cli {

// From now on SIGINT and SIGTERM only set the flag that interrupted() reads, so that a
// command can stop cleanly and report what it did so far.
void catchInterrupts();
bool interrupted();

// Asks on standard error with " [y/N] " and reads one line of standard input: true only for
// "y", "Y" or "yes".
bool askYes(const std::string& question);

// path made absolute against the working folder ("./" prefixes dropped); unchanged when it
// is absolute already or the working folder cannot be read.
std::string absolutePath(const std::string& path);

}  // namespace cli
