#include "cli/shared/fd_output_buffer.h"

#include <unistd.h>

#include <cerrno>

FdOutputBuffer::FdOutputBuffer(int fd) : fd_(fd) { setp(buffer_, buffer_ + sizeof buffer_); }

bool FdOutputBuffer::Empty() {
    const char* at = pbase();
    while (at < pptr()) {
        const ssize_t n = ::write(fd_, at, static_cast<std::size_t>(pptr() - at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return true;
}

FdOutputBuffer::int_type FdOutputBuffer::overflow(int_type c) {
    if (!Empty()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}

int FdOutputBuffer::sync() { return Empty() ? 0 : -1; }

FdOutputBuffer::pos_type FdOutputBuffer::seekoff(off_type offset, std::ios_base::seekdir from,
                                                 std::ios_base::openmode which) {
    if ((which & std::ios_base::out) == 0 || !Empty()) return pos_type(off_type(-1));
    const int whence = from == std::ios_base::beg   ? SEEK_SET
                       : from == std::ios_base::cur ? SEEK_CUR
                                                    : SEEK_END;
    const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return at < 0 ? pos_type(off_type(-1)) : pos_type(static_cast<off_type>(at));
}

FdOutputBuffer::pos_type FdOutputBuffer::seekpos(pos_type position, std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}
