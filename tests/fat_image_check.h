#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

// Checks a FAT volume the way other systems will see it: fsck.fat for the structure and mtools
// for real file traffic. The volume is written to a sparse image file first.

namespace format_test {

using SectorMap = std::map<std::uint32_t, std::vector<std::uint8_t>>;

// A sector store that remembers every write (in order) and can refuse chosen sectors.
struct MemorySectorStore {
    SectorMap sectors;
    std::vector<std::uint32_t> writes;
    std::map<std::uint32_t, int> failuresLeft;  // lba -> how many writes to it fail

    bool Write(std::uint32_t lba, const std::uint8_t* data) {
        writes.push_back(lba);
        auto failing = failuresLeft.find(lba);
        if (failing != failuresLeft.end() && failing->second > 0) {
            --failing->second;
            return false;
        }
        sectors[lba].assign(data, data + 512);
        return true;
    }
};

inline bool WriteSparseImage(const std::string& path, const SectorMap& sectors,
                             std::uint32_t totalSectors) {
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, off_t{totalSectors} * 512) == 0;
    for (const auto& [lba, data] : sectors) {
        ok = ok && ::pwrite(fd, data.data(), 512, off_t{lba} * 512) == 512;
    }
    return ::close(fd) == 0 && ok;
}

// Runs a shell command; returns its exit status and collects stdout and stderr.
inline int RunShell(const std::string& command, std::string* output) {
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return -1;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output->append(chunk, n);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// fsck.fat in no-change mode finds nothing to complain about.
inline bool FsckClean(const std::string& image, std::string* output) {
    const int status = RunShell("fsck.fat -n -v '" + image + "'", output);
    return status == 0 && output->find("differ") == std::string::npos &&
           output->find("arning") == std::string::npos;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Copies a small and a largeBytes-long (multi-cluster) file onto the volume, reads both back and
// compares them.
inline bool MtoolsRoundTrip(const std::string& image, const std::string& dir,
                            std::size_t largeBytes, std::string* output) {
    const std::string small = dir + "/small.txt";
    const std::string large = dir + "/large.bin";
    {
        std::ofstream(small, std::ios::binary) << "hello from the round trip\n";
        std::ofstream out(large, std::ios::binary);
        std::uint32_t state = 12345;
        for (std::size_t i = 0; i < largeBytes; ++i) {
            state = state * 1103515245u + 12345u;
            out.put(static_cast<char>(state >> 24));
        }
    }
    const std::string env = "MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=1 ";
    const std::string img = " -i '" + image + "' ";
    if (RunShell(env + "mcopy" + img + "'" + small + "' '" + large + "' ::/", output) != 0)
        return false;
    const std::string back = dir + "/back";
    ::mkdir(back.c_str(), 0755);
    std::remove((back + "/SMALL.TXT").c_str());  // a stale copy must not pass for a new one
    std::remove((back + "/LARGE.BIN").c_str());
    if (RunShell(env + "mcopy -n" + img + "::/SMALL.TXT ::/LARGE.BIN '" + back + "/'", output) != 0)
        return false;
    const std::string wantSmall = ReadWholeFile(small);
    return !wantSmall.empty() && ReadWholeFile(back + "/SMALL.TXT") == wantSmall &&
           ReadWholeFile(back + "/LARGE.BIN") == ReadWholeFile(large) &&
           ReadWholeFile(large).size() == largeBytes;
}

}  // namespace format_test
