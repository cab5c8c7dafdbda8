#pragma once
#include <string>

// Whether the program may write the file a --log or --export-... option names. Running as root,
// a mistyped path could name a disk (/dev/sda) or a SCSI node (/dev/sg0, whose writes are
// commands): only a new file, a plain file, a pipe or /dev/null is written. False with a reason.
bool IsWritableOutputPath(const std::string& path, std::string* reason);
