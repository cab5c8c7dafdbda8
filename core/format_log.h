#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// The format log: lines gathered in a 65,536-byte buffer during the runs and written to
// "brevant.log" in one piece at exit. No append takes place once 65,436 bytes are used, which
// keeps every line (none is longer than 99 characters) inside the buffer.
class FormatLog {
  public:
    static constexpr std::uint32_t kBufferSize = 65536;
    static constexpr std::uint32_t kAppendLimit = 65436;

    FormatLog() = default;
    ~FormatLog();
    FormatLog(const FormatLog&) = delete;
    FormatLog& operator=(const FormatLog&) = delete;

    // How the file is opened: emptied at every start (the dialog's log), or added to so that it
    // keeps every run. Memory opens no file: the lines are kept for the caller to write out
    // (Text, Used) as it sees fit (the command line, which opens its files only to write them).
    enum class FileMode { Truncate, Append, Memory };

    // Sets the log up when generateLog is non-zero: creates (or opens) the file at path.
    void Open(std::int32_t generateLog, const std::string& path = "brevant.log",
              FileMode mode = FileMode::Truncate);
    // Appends one fixed text with up to three %d conversions filled from a, b, c.
    void Append(const char* format, std::int32_t a = 0, std::int32_t b = 0, std::int32_t c = 0);
    // Appends a line about one block: the format's one %d is the block. With NameBanks on, the
    // line also says which bank the block is in ("Bad blk: 37 (bank 1)").
    void AppendBlockLine(const char* format, std::int32_t block, std::int32_t bank);
    void NameBanks(bool on) { nameBanks_ = on; }
    // Writes the used bytes to the file, closes it and releases the buffer.
    void Flush();

    std::uint32_t Used() const { return used_; }
    const char* Text() const { return buffer_.get(); }  // nullptr when logging is off

    // Tests put the log at a chosen fill level.
    void SetUsedForTest(std::uint32_t used);

  private:
    std::FILE* file_ = nullptr;
    std::uint32_t used_ = kBufferSize;
    std::unique_ptr<char[]> buffer_;
    bool nameBanks_ = false;
};
