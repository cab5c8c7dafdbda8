// The device's side of every conversation taken from the input: a port whose every command ends
// as the input says (good, CHECK CONDITION, time-out, no device, a failed request) and whose
// replies to INQUIRY, REQUEST SENSE, READ CAPACITY, the bank count (C2h), the device code
// (F7h), the CIS page number (C3h), pages (E8h), spare areas, block data and sectors come from
// the input too. Through it run discovery, the disk probe of the front ends (write protection
// included) and a format of the flash disk with settings, Stop and the answers to its questions
// from the input. Whatever the replies, nothing crashes and everything ends: once the input is
// used up nothing answers any more, and from then on the program may send only a few commands
// before it gives up.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/format_log.h"
#include "core/format_settings.h"
#include "format/device_access.h"
#include "format/disk_probe.h"
#include "format/physical_format.h"
#include "format/run_interface.h"
#include "reader/media_type.h"
#include "reader/reader.h"
#include "reader/scsi_port.h"
#include "reader/units.h"

namespace {

// Commands the program may send once nothing answers, over the whole input: discovery, the
// probe and the format each give up after a handful.
constexpr std::uint64_t kMostCommandsIntoTheSilence = 64;

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "device_replies_fuzz: %s\n", what);
    std::abort();
}

// Device codes to answer with: the small parts most of the time (the runs stay short), now and
// then any part of the table, or a byte the table does not know.
constexpr std::uint8_t kCodes[] = {0x6E, 0xE8, 0xEC, 0x64, 0xEA, 0x6B, 0xE3,
                                   0xE5, 0xE6, 0x73, 0x75, 0x76, 0x79};

class FuzzPort final : public ScsiPort {
  public:
    explicit FuzzPort(FuzzedDataProvider& input)
        : in_(input),
          shape_(input.ConsumeBool() ? PortShape::Drives : PortShape::ReaderLuns),
          places_(input.ConsumeIntegralInRange<std::uint32_t>(1, 4)),
          senseWithStatus_(input.ConsumeBool()) {}

    const char* Name() const override { return "fuzz"; }
    PortShape Shape() const override { return shape_; }
    std::uint32_t PlaceCount() const override { return places_; }
    std::string PlaceName(std::uint32_t place) const override {
        return "fuzz:" + std::to_string(place);
    }
    bool Open(std::uint32_t) override {
        return Answering() && in_.ConsumeIntegral<std::uint8_t>() % 8 != 0;
    }
    void Close(std::uint32_t) override {}
    bool SenseComesWithStatus() const override { return senseWithStatus_; }

    CommandOutcome Execute(const PortAddress&, const std::uint8_t* cdb, std::uint8_t,
                           DataPhase phase, void* buffer, std::uint32_t length,
                           std::uint16_t) override {
        ++commands_;
        if (trace_) std::fprintf(stderr, "%02X%s\n", cdb[0], Answering() ? "" : " (no answer)");
        CommandOutcome outcome;
        if (!Answering()) {
            ++intoTheSilence_;
            outcome.status = CommandStatus::NoDevice;
            return outcome;
        }
        const std::uint8_t how = in_.ConsumeIntegral<std::uint8_t>();
        auto* data = static_cast<std::uint8_t*>(buffer);
        switch (how % 16) {
            case 10:
            case 11:
                outcome.status = CommandStatus::CheckCondition;
                if (senseWithStatus_) {
                    Sense(outcome.sense.data());
                    outcome.senseLength = 18;
                }
                return outcome;
            case 12:
                outcome.status = CommandStatus::TimedOut;
                return outcome;
            case 13:
                outcome.status = CommandStatus::NoDevice;
                return outcome;
            case 14:
                outcome.status = CommandStatus::Failed;
                return outcome;
            case 15:
                return outcome;  // refused
            default:
                break;
        }
        outcome.status = CommandStatus::Good;
        if (phase == DataPhase::In && length > 0) {
            std::memset(data, 0, length);
            Reply(cdb[0], data, length);
            // Now and then less than was asked for.
            outcome.transferred = how >= 0xF0 ? length / 2 : length;
        } else {
            outcome.transferred = length;
        }
        return outcome;
    }

    std::uint64_t Commands() const { return commands_; }
    std::uint64_t IntoTheSilence() const { return intoTheSilence_; }

  private:
    bool Answering() const { return in_.remaining_bytes() > 0; }

    // Fixed-format sense data: a key and code the program knows, or any.
    void Sense(std::uint8_t* sense) {
        static constexpr std::uint8_t kPairs[][2] = {
            {0x00, 0x00}, {0x02, 0x3A}, {0x02, 0x04}, {0x03, 0x11}, {0x03, 0x51}, {0x05, 0x20},
            {0x05, 0x24}, {0x05, 0x21}, {0x06, 0x28}, {0x07, 0x27}, {0x09, 0x09}, {0x09, 0x0A}};
        std::memset(sense, 0, 18);
        const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
        sense[0] = 0x70;
        sense[7] = 10;
        if (pick < 0xF0) {
            const auto& pair = kPairs[pick % (sizeof kPairs / sizeof kPairs[0])];
            sense[2] = pair[0];
            sense[12] = pair[1];
        } else {
            const std::vector<std::uint8_t> raw = in_.ConsumeBytes<std::uint8_t>(18);
            std::copy(raw.begin(), raw.end(), sense);
        }
    }

    // Up to `length` bytes of the reply, from a few typical patterns or from the input itself.
    void Fill(std::uint8_t* data, std::uint32_t length) {
        const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
        switch (pick % 5) {
            case 0:
                std::memset(data, 0xFF, length);  // erased
                break;
            case 1:
                break;  // zeros
            case 2:
                std::memset(data, in_.ConsumeIntegral<std::uint8_t>(), length);
                break;
            default: {
                std::memset(data, 0xFF, length);
                const std::vector<std::uint8_t> raw =
                    in_.ConsumeBytes<std::uint8_t>(std::min<std::uint32_t>(length, 64));
                std::copy(raw.begin(), raw.end(), data);
                break;
            }
        }
    }

    void Reply(std::uint8_t opcode, std::uint8_t* data, std::uint32_t length) {
        switch (opcode) {
            case 0x12: {  // INQUIRY: the signature and a medium code, mostly
                static constexpr char kCodesOfMedia[][3] = {"DS", "DS", "CF", "SM", "MM", "XY"};
                const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
                if (length >= 40 && pick % 8 != 0) {
                    std::memcpy(data + 36, "QZ", 2);
                    std::memcpy(data + 38, kCodesOfMedia[pick % 6], 2);
                } else {
                    Fill(data, length);
                }
                return;
            }
            case 0x03:  // REQUEST SENSE
                if (length >= 18) {
                    Sense(data);
                } else {
                    Fill(data, length);
                }
                return;
            case 0xC2: {  // bank count
                static constexpr std::uint8_t kCounts[] = {1, 1, 1, 2, 0, 8, 9, 255};
                const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
                data[0] = pick < 0xF8 ? kCounts[pick % 8] : pick;
                return;
            }
            case 0xF7: {  // device code
                const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
                if (pick < 0xC0) {
                    data[0] = kCodes[pick % 4];  // 256 to 512 blocks
                } else if (pick < 0xF0) {
                    data[0] = kCodes[pick % (sizeof kCodes)];
                } else {
                    data[0] = in_.ConsumeIntegral<std::uint8_t>();
                }
                return;
            }
            case 0xC3: {  // CIS page number
                static constexpr std::uint32_t kPages[] = {0xFFFFFFFFu, 0,    16,        32,
                                                           33,          4096, 0x7FFFFFFF};
                const std::uint8_t pick = in_.ConsumeIntegral<std::uint8_t>();
                std::uint32_t page =
                    pick < 0xF0 ? kPages[pick % 7] : in_.ConsumeIntegral<std::uint32_t>();
                for (std::uint32_t i = 0; i < 4 && i < length; ++i) data[i] = page >> (8 * i);
                return;
            }
            case 0xE8: {  // page and spare: a CIS or vendor page now and then
                Fill(data, length);
                if (length == 528 && in_.ConsumeIntegral<std::uint8_t>() % 4 == 0) {
                    std::memcpy(data, "USBC", 4);
                    std::memset(data + 512, 0xFF, 6);
                }
                return;
            }
            default:  // READ CAPACITY, spare areas, block data, sectors
                Fill(data, length);
                return;
        }
    }

    FuzzedDataProvider& in_;
    // DEVICE_REPLIES_TRACE set: every command's opcode goes to stderr, to see where an input leads.
    bool trace_ = std::getenv("DEVICE_REPLIES_TRACE") != nullptr;
    PortShape shape_;
    std::uint32_t places_;
    bool senseWithStatus_;
    std::uint64_t commands_ = 0;
    std::uint64_t intoTheSilence_ = 0;
};

// A front end whose user answers from the input.
class FuzzRun final : public RunInterface {
  public:
    explicit FuzzRun(FuzzedDataProvider& input) : in_(input) {
        for (const SettingKey& key : kSettingKeys) settings_.*key.member = input.ConsumeBool();
        stopAt_ = input.ConsumeBool() ? input.ConsumeIntegralInRange<std::uint32_t>(1, 600) : 0;
        keeps_ = input.ConsumeIntegral<std::uint8_t>() % 8 != 0;
        endsOnRemoval_ = input.ConsumeBool();
    }

    void PumpOneMessage() override {}
    // A front end that does not end the run on a pulled stick (the dialog) hears of it from the
    // system instead, whose notice stops the run: here, once the device has stopped answering.
    bool StopRequested() override {
        return (stopAt_ != 0 && done_ >= stopAt_) ||
               (!endsOnRemoval_ && in_.remaining_bytes() == 0);
    }
    void ResetProgress() override { total_ = done_ = 0; }
    void SetProgressPosition(int) override {}
    std::uint32_t& TotalBlocks() override { return total_; }
    std::uint32_t& BlocksDone() override { return done_; }
    void SetRunMessage(const std::string& text) override { message = text; }
    void ShowPercentText(const std::string&) override {}
    BoxAnswer MessageBox(const std::string&, const std::string&, BoxButtons buttons) override {
        ++boxes;
        if (buttons != BoxButtons::AbortRetryIgnore) return BoxAnswer::Ok;
        static constexpr BoxAnswer kAnswers[] = {BoxAnswer::Retry, BoxAnswer::Ignore,
                                                 BoxAnswer::Abort};
        return kAnswers[in_.ConsumeIntegral<std::uint8_t>() % 3];
    }
    std::string Title() override { return "Brevant Utility"; }
    std::string ApplicationName() override { return "Brevant"; }
    FormatLog& Log() override { return log_; }
    const FormatSettings& Settings() override { return settings_; }
    bool KeepOldPages(const CisBackup&, std::string* reason) override {
        if (!keeps_) *reason = "no room";
        return keeps_;
    }
    bool EndsRunOnRemoval() const override { return endsOnRemoval_; }
    void NoteRunRecord(const RunRecord& r) override {
        record = r;
        ++records;
    }

    std::string message;
    unsigned boxes = 0;
    RunRecord record;
    int records = 0;

  private:
    FuzzedDataProvider& in_;
    FormatSettings settings_;
    FormatLog log_;  // not opened: nothing is kept
    std::uint32_t stopAt_ = 0;
    bool keeps_ = true;
    bool endsOnRemoval_ = true;
    std::uint32_t total_ = 0;
    std::uint32_t done_ = 0;
};

void CheckRun(FormatResult result, const FuzzRun& run) {
    const RunRecord& r = run.record;
    Require(run.records == 1, "a run that hands over no record, or more than one");
    Require(result == FormatResult::Failed || result == FormatResult::Cancelled ||
                result == FormatResult::CompleteReplug,
            "a result the engine never gives");
    Require((result == FormatResult::CompleteReplug) == (r.end == RunEnd::Complete),
            "complete without a complete end, or the other way round");
    Require(r.banks.size() <= 8, "more banks than the tables hold");
    std::uint32_t bad = 0;
    std::uint32_t unmarkable = 0;
    for (const BankRecord& bank : r.banks) {
        bad += static_cast<std::uint32_t>(bank.bad.size());
        unmarkable += static_cast<std::uint32_t>(bank.unmarkable.size());
        Require(bank.bad.size() <= bank.blocks, "more bad blocks than the bank has");
    }
    Require(bad == r.badBlocks, "the bad-block count is not the list's");
    Require(unmarkable == r.unmarkableBlocks, "the unmarkable count is not the list's");
    if (r.end == RunEnd::Complete) {
        Require(r.cisPage >= 0, "complete without a CIS page");
        Require(r.volumeSectors != 0 && r.volumeSectors == r.totals[r.banks.size() - 1],
                "complete with a volume that is not the last total");
    }
    if (result != FormatResult::CompleteReplug) {
        Require(!run.message.empty() || result == FormatResult::Cancelled,
                "a failed run that says nothing");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FuzzPort port(input);
    FuzzRun run(input);
    const FormatMode mode =
        input.ConsumeIntegral<std::uint8_t>() % 4 == 0 ? FormatMode::Full : FormatMode::Quick;
    Reader reader(port);
    ReaderDeviceAccess device(reader);
    if (reader.OpenTransport() == 1) {
        std::uint8_t count = 0;
        MediaType keys[kMaxUnits] = {};
        reader.DiscoverUnits(&count, keys);
        Require(count <= kMaxUnits, "more units than the table holds");
        bool formatted = false;
        for (std::uint8_t i = 0; i < count; ++i) {
            const DiskState state = ProbeDisk(device, keys[i], true);
            Require(!state.writeProtected || state.writeProtectionProbed,
                    "write protection that was never probed");
            Require(!CapacityText(state).empty(), "no capacity text");
            if (keys[i] == kMediaUsbDisk && !formatted) {
                formatted = true;
                CheckRun(RunPhysicalFormat(run, reader, keys[i], mode), run);
            }
        }
        reader.CloseTransport();
    }
    if (port.IntoTheSilence() > kMostCommandsIntoTheSilence) {
        std::fprintf(stderr, "device_replies_fuzz: %llu commands after the last reply\n",
                     static_cast<unsigned long long>(port.IntoTheSilence()));
    }
    Require(port.IntoTheSilence() <= kMostCommandsIntoTheSilence,
            "too many commands to a device that no longer answers");
    Require(port.Commands() <= size + kMostCommandsIntoTheSilence, "more commands than replies");
    return 0;
}
