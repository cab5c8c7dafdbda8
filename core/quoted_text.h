#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Text taken from the user (a line of a settings file, a key) put into a message: between
// double quotes, every byte outside printable ASCII written as \xNN and a quote or backslash
// with a backslash before it, and cut with "..." once the quoted text would pass maxChars
// characters, so that neither a terminal nor a log is fed control bytes or a line of megabytes.
std::string QuotedForMessage(std::string_view text, std::size_t maxChars = 60);
