#pragma once
#include <string>

// Whether the program may write the file a --log or --export-... option names. Running as root,
// a mistyped path could name a disk (/dev/sda) or a SCSI node (/dev/sg0, whose writes are
// commands): only a new file, a plain file, a pipe or /dev/null is written, and a symbolic link
// only when it leads to one of those that exists. False with a reason naming the file once.
bool IsWritableOutputPath(const std::string& path, std::string* reason);
