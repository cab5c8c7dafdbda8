#pragma once
#include <streambuf>

// A stream buffer that writes to a file descriptor the caller opened (and closes), and can seek:
// what the simulator's exports write through, so that their files are opened as every output
// of the program is (cli/output_file.h).
class FdOutputBuffer final : public std::streambuf {
  public:
    explicit FdOutputBuffer(int fd);
    FdOutputBuffer(const FdOutputBuffer&) = delete;
    FdOutputBuffer& operator=(const FdOutputBuffer&) = delete;

  protected:
    int_type overflow(int_type c) override;
    int sync() override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir from,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

  private:
    // Writes out what the buffer holds. False when the file would not take it.
    bool Empty();

    int fd_;
    char buffer_[64 * 1024];
};
