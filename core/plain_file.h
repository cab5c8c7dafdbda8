#pragma once
#include <cstddef>
#include <string>

// Reading a small text file a user names (settings, a machine's description) so that no name
// can make the program hang or fill its memory: only a plain file is opened (a folder reads as
// nothing, a device such as /dev/zero without end, and opening a pipe waits for a writer), and
// one larger than the limit is not read.

enum class PlainFileStatus {
    Read,
    Unreadable,     // missing, or it cannot be opened or read (the reason says why)
    NotAPlainFile,  // a folder, a device, a pipe: not read at all
    TooLarge,       // larger than the limit: not read
};

// The whole text of the file at path when the status is Read; otherwise `reason`, when given,
// says why in a few words ("No such file or directory", "a folder, not a file").
PlainFileStatus ReadPlainFile(const std::string& path, std::size_t maxBytes, std::string* text,
                              std::string* reason = nullptr);
