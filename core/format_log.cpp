#include "core/format_log.h"

#include <cstring>
#include <string>

#ifdef _WIN32
#include <share.h>
#endif

FormatLog::~FormatLog() { Flush(); }

void FormatLog::Open(std::int32_t generateLog, const std::string& path, FileMode mode) {
    Flush();
    used_ = kBufferSize;
    if (generateLog == 0) return;
    buffer_.reset(new (std::nothrow) char[kBufferSize]);
    if (buffer_) buffer_[0] = '\0';
    // An existing log is truncated at every start. While the program runs others may read the
    // log but not write it, so what goes out at exit is the program's alone.
    if (mode == FileMode::Memory) {
        if (buffer_) used_ = 0;
        return;
    }
    const char* how = mode == FileMode::Append ? "ab" : "wb";
#ifdef _WIN32
    file_ = _fsopen(path.c_str(), how, _SH_DENYWR);
#else
    file_ = std::fopen(path.c_str(), how);
#endif
    if (buffer_ && file_) used_ = 0;
}

// Formats the fixed texts of the log: %d conversions take a, b, c in order, %% is a percent sign.
static std::uint32_t FormatLine(char* out, std::uint32_t room, const char* format,
                                const std::int32_t (&args)[3]) {
    std::uint32_t n = 0;
    int next = 0;
    auto put = [&](char ch) {
        if (n + 1 < room) out[n++] = ch;
    };
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '%' && p[1] == 'd') {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%d", next < 3 ? static_cast<int>(args[next]) : 0);
            ++next;
            for (const char* d = digits; *d != '\0'; ++d) put(*d);
            ++p;
        } else if (*p == '%' && p[1] == '%') {
            put('%');
            ++p;
        } else {
            put(*p);
        }
    }
    out[n] = '\0';
    return n;
}

void FormatLog::Append(const char* format, std::int32_t a, std::int32_t b, std::int32_t c) {
    if (used_ >= kAppendLimit || !buffer_) return;  // full or off: the line is dropped
    const std::int32_t args[3] = {a, b, c};
    used_ += FormatLine(buffer_.get() + used_, kBufferSize - used_, format, args);
}

void FormatLog::AppendBlockLine(const char* format, std::int32_t block, std::int32_t bank) {
    if (!nameBanks_) {
        Append(format, block);
        return;
    }
    // The block line without its line end, then the bank; every block line is far below the
    // 99 characters a line may take.
    char line[128];
    const std::int32_t args[3] = {block, 0, 0};
    std::uint32_t n = FormatLine(line, sizeof line, format, args);
    if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
    std::string text;
    for (std::uint32_t i = 0; i < n; ++i) text += line[i] == '%' ? "%%" : std::string(1, line[i]);
    text += " (bank %d)\n";
    Append(text.c_str(), bank);
}

void FormatLog::Flush() {
    if (file_ != nullptr) {
        if (buffer_ && used_ != 0 && used_ < kBufferSize)
            std::fwrite(buffer_.get(), 1, used_, file_);
        std::fclose(file_);
        file_ = nullptr;
    }
    buffer_.reset();
    used_ = kBufferSize;
}

void FormatLog::SetUsedForTest(std::uint32_t used) {
    if (buffer_ && used < kBufferSize) {
        std::memset(buffer_.get(), 'x', used);
        buffer_[used] = '\0';
    }
    used_ = used;
}
