// A bare SG_IO loop, for the kernel rig's benchmark (bench/kernel-bench.sh): sends the commands of
// a brevant --trace record again, one ioctl each, to a node, and prints how long they took.
//
//   sgio_replay_guest NODE RECORD
//
// Nothing of brevant's own is in the loop: a filled sg_io_hdr, the ioctl, the next line. The data
// of data-out commands is not in a record: they carry zeros. Prints the commands sent, those
// that did not come back good, the seconds and the microseconds per command.
#include <fcntl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Command {
    unsigned char cdb[12];
    int direction;
    unsigned length;
};

// "/dev/sg2: E8 20 60 00 00 01 00 00 00 00 00 00 in 528 good"
bool ParseLine(const std::string& line, Command* command) {
    const std::size_t colon = line.find(": ");
    if (colon == std::string::npos) return false;
    std::istringstream fields(line.substr(colon + 2));
    for (unsigned char& byte : command->cdb) {
        std::string hex;
        if (!(fields >> hex)) return false;
        byte = static_cast<unsigned char>(std::strtoul(hex.c_str(), nullptr, 16));
    }
    std::string direction;
    if (!(fields >> direction >> command->length)) return false;
    command->direction = direction == "in"    ? SG_DXFER_FROM_DEV
                         : direction == "out" ? SG_DXFER_TO_DEV
                                              : SG_DXFER_NONE;
    if (command->direction == SG_DXFER_NONE) command->length = 0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: sgio_replay_guest NODE RECORD\n");
        return 2;
    }
    std::vector<Command> commands;
    std::ifstream record(argv[2]);
    for (std::string line; std::getline(record, line);) {
        Command command;
        if (ParseLine(line, &command)) commands.push_back(command);
    }
    const int fd = ::open(argv[1], O_RDWR);
    if (fd < 0 || commands.empty()) {
        std::fprintf(stderr, "sgio_replay_guest: cannot open %s or no commands in %s\n", argv[1],
                     argv[2]);
        return 1;
    }
    std::vector<unsigned char> buffer(1 << 16, 0);
    unsigned char sense[32];
    unsigned failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (Command& command : commands) {
        if (command.direction == SG_DXFER_TO_DEV) std::fill_n(buffer.begin(), command.length, 0);
        sg_io_hdr_t header = {};
        header.interface_id = 'S';
        header.cmd_len = sizeof command.cdb;
        header.cmdp = command.cdb;
        header.dxfer_direction = command.direction;
        header.dxfer_len = command.length;
        header.dxferp = command.length > 0 ? buffer.data() : nullptr;
        header.mx_sb_len = sizeof sense;
        header.sbp = sense;
        header.timeout = 2000;
        if (::ioctl(fd, SG_IO, &header) != 0 || header.status != 0 || header.host_status != 0 ||
            header.driver_status != 0) {
            ++failed;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    std::printf("commands %zu\nnot good %u\nseconds %.3f\nus per command %.0f\n", commands.size(),
                failed, seconds, seconds * 1e6 / static_cast<double>(commands.size()));
    return 0;
}
