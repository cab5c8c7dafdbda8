#include "core/plain_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

PlainFileStatus ReadPlainFile(const std::string& path, std::size_t maxBytes, std::string* text,
                              std::string* reason) {
    auto fail = [reason](PlainFileStatus status, const std::string& why) {
        if (reason != nullptr) *reason = why;
        return status;
    };
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0)
        return fail(PlainFileStatus::Unreadable, std::strerror(errno));
    if (S_ISDIR(info.st_mode)) return fail(PlainFileStatus::NotAPlainFile, "a folder, not a file");
    if (!S_ISREG(info.st_mode)) return fail(PlainFileStatus::NotAPlainFile, "not a plain file");
    const std::string limit = "larger than " + std::to_string(maxBytes / 1024) + " KiB";
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > maxBytes)
        return fail(PlainFileStatus::TooLarge, limit);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return fail(PlainFileStatus::Unreadable, std::strerror(errno));
    // The size is counted again while reading: the file may have grown since.
    text->clear();
    char chunk[4096];
    std::size_t got;
    while (text->size() <= maxBytes && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text->append(chunk, got);
    const int readError = std::ferror(file) != 0 ? errno : 0;
    std::fclose(file);
    if (readError != 0) return fail(PlainFileStatus::Unreadable, std::strerror(readError));
    if (text->size() > maxBytes) return fail(PlainFileStatus::TooLarge, limit);
    return PlainFileStatus::Read;
}
