#include "sim/sim_os_layer.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "reader/byte_order.h"
#include "reader/win32/os_layer.h"
#include "sim/aspi_request.h"
#include "sim/sim_bus.h"
#include "sim/sim_device.h"
#include "sim/sim_flash_disk.h"

namespace {

using sim::SimOsLayer;

class SimOsLayerTest : public ::testing::Test {
  protected:
    SimOsLayerTest() : layer(bus) {
        sim::SimDevice& reader = bus.AddReader(0, 2);
        sim::SimUnit& disk = reader.AddUnit("DS");
        disk.SetDriveLetter('E');
        disk.FlashDisk()->AddBank(0x75);
        disk.FlashDisk()->SetSectorCount(64);
        reader.AddUnit("CF").SetDriveLetter('F');
        bus.AddForeignDrive('C', 0, 0, "system disk");
    }

    // The two ASPI entry points, found the way the transport finds them.
    void LoadAspi() {
        library = layer.LoadLibrary("WNASPI32.DLL");
        ASSERT_NE(library, nullptr);
        support = layer.GetProcAddress(library, "GetASPI32SupportInfo");
        send = layer.GetProcAddress(library, "SendASPI32Command");
        ASSERT_NE(support, nullptr);
        ASSERT_NE(send, nullptr);
    }

    // An SC_EXEC_SCSI_CMD block for target 2.
    std::array<std::uint8_t, 256> ExecBlock(std::uint8_t lun, std::uint8_t opcode,
                                            std::uint8_t flags, void* buffer,
                                            std::uint32_t length) {
        std::array<std::uint8_t, 256> block{};
        block[srb::kCmd] = srb::kExecScsiCommand;
        block[srb::kFlags] = flags;
        block[srb::kTarget] = 2;
        block[srb::kLun] = lun;
        PutLe32(&block[srb::kBufLen], length);
        PutLe32(&block[srb::kBufPointer], layer.BufferAddress(buffer));
        block[srb::kCdbLen] = 12;
        block[srb::kCdb] = opcode;
        if (opcode == 0x12) block[srb::kCdb + 4] = static_cast<std::uint8_t>(length);
        return block;
    }

    // A buffered pass-through request in a work buffer.
    std::vector<std::uint8_t> Buffered(std::uint8_t opcode, std::uint8_t dataIn,
                                       std::uint32_t length) {
        std::vector<std::uint8_t> work(48 + length + 4, 0);
        PutLe16(&work[0], 44);
        work[6] = 12;
        work[8] = dataIn;
        PutLe32(&work[12], length);
        PutLe32(&work[16], 2);
        PutLe32(&work[20], 48);
        work[28] = opcode;
        if (opcode == 0x12) work[32] = static_cast<std::uint8_t>(length);
        return work;
    }

    OsHandle Open(const char* path) {
        return layer.CreateFile(path, kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
    }

    sim::SimBus bus;
    SimOsLayer layer;
    OsLibrary library = nullptr;
    OsEntry support = nullptr;
    OsEntry send = nullptr;
};

TEST_F(SimOsLayerTest, TheLibraryFollowsTheBusSettings) {
    EXPECT_EQ(layer.LoadLibrary("OTHER.DLL"), nullptr);
    LoadAspi();
    EXPECT_EQ(layer.CallSupportInfo(support), 0x0101u);
    EXPECT_EQ(layer.GetProcAddress(library, "GetASPI32Buffer"), nullptr);
    layer.FreeLibrary(library);
    EXPECT_FALSE(layer.LibraryLoaded());

    bus.MutableAspiLibrary().missingEntry = "SendASPI32Command";
    library = layer.LoadLibrary("wnaspi32.dll");
    ASSERT_NE(library, nullptr);
    EXPECT_NE(layer.GetProcAddress(library, "GetASPI32SupportInfo"), nullptr);
    EXPECT_EQ(layer.GetProcAddress(library, "SendASPI32Command"), nullptr);
    layer.FreeLibrary(library);

    bus.MutableAspiLibrary().present = false;
    EXPECT_EQ(layer.LoadLibrary("WNASPI32.DLL"), nullptr);
    EXPECT_EQ(layer.LoadLibraryCalls(), 4u);
}

TEST_F(SimOsLayerTest, ExecutesRequestBlocksAndSetsTheirStatus) {
    LoadAspi();
    std::uint8_t reply[56] = {};
    auto block = ExecBlock(0, 0x12, 0x08, reply, 56);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsComp);
    EXPECT_EQ(block[srb::kStatus], sim::kSsComp);
    EXPECT_EQ(reply[36], 'Q');
    EXPECT_EQ(reply[38], 'D');

    // The empty CF slot: CHECK CONDITION.
    block = ExecBlock(1, 0x00, 0, nullptr, 0);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsErr);
    EXPECT_EQ(block[srb::kTargStat], sim::kTargetStatusCheckCondition);

    block = ExecBlock(5, 0x00, 0, nullptr, 0);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsNoDevice);
    EXPECT_EQ(block[srb::kStatus], sim::kSsNoDevice);

    // A data phase whose address is not one the face handed out.
    block = ExecBlock(0, 0x12, 0x08, reply, 56);
    PutLe32(&block[srb::kBufPointer], 0x1234);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsInvalidSrb);
    // Both directions at once.
    block = ExecBlock(0, 0x12, 0x18, reply, 56);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsInvalidSrb);
}

TEST_F(SimOsLayerTest, AHungRequestStaysPendingAndRewritesAreSeen) {
    LoadAspi();
    bus.HangOnCommand(1);
    auto block = ExecBlock(0, 0x00, 0, nullptr, 0);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsPending);
    EXPECT_EQ(block[srb::kStatus], sim::kSsPending);
    EXPECT_EQ(layer.PendingRequests(), 1u);
    EXPECT_EQ(layer.OwnedBlockRewrites(), 0u);

    block[srb::kLun] = 1;  // the caller touches a block the manager still owns
    EXPECT_EQ(layer.OwnedBlockRewrites(), 1u);
    EXPECT_EQ(layer.CallSendCommand(send, block.data()), sim::kSsErr);  // and hands it in again
    EXPECT_EQ(layer.OwnedBlockRewrites(), 2u);
    EXPECT_EQ(layer.PendingRequests(), 0u);
}

TEST_F(SimOsLayerTest, AnAbortCompletesTheVictimAsAborted) {
    LoadAspi();
    bus.HangOnCommand(1);
    auto victim = ExecBlock(0, 0x00, 0, nullptr, 0);
    ASSERT_EQ(layer.CallSendCommand(send, victim.data()), sim::kSsPending);
    std::array<std::uint8_t, 256> abort{};
    abort[srb::kCmd] = sim::kScAbortSrb;
    PutLe32(&abort[sim::kSrbAbortTarget], layer.BufferAddress(victim.data()));
    EXPECT_EQ(layer.CallSendCommand(send, abort.data()), sim::kSsComp);
    EXPECT_EQ(victim[srb::kStatus], sim::kSsAborted);
    EXPECT_EQ(layer.PendingRequests(), 0u);
    // A completed request cannot be aborted.
    EXPECT_NE(layer.CallSendCommand(send, abort.data()), sim::kSsComp);
}

TEST_F(SimOsLayerTest, SleepAdvancesOnlyTheVirtualClock) {
    layer.Sleep(1);
    layer.Sleep(250);
    EXPECT_EQ(layer.VirtualMilliseconds(), 251u);
    EXPECT_EQ(layer.SleepCalls(), 2u);
}

TEST_F(SimOsLayerTest, OpensTheBusDrivesByPath) {
    OsHandle e = Open("\\\\.\\E:");
    EXPECT_NE(e, nullptr);
    EXPECT_NE(Open("\\\\.\\c:"), nullptr);
    EXPECT_EQ(Open("\\\\.\\G:"), nullptr);
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorFileNotFound);
    EXPECT_EQ(Open("E:"), nullptr);
    EXPECT_EQ(layer.OpenHandleCount(), 2u);
    layer.CloseHandle(e);
    EXPECT_EQ(layer.OpenHandleCount(), 1u);
    bus.Unplug();
    EXPECT_EQ(Open("\\\\.\\E:"), nullptr);  // the stick's letter is gone
    EXPECT_NE(Open("\\\\.\\C:"), nullptr);
}

TEST_F(SimOsLayerTest, BufferedRequestsAreCheckedAgainstTheirSizes) {
    OsHandle e = Open("\\\\.\\E:");
    std::uint32_t returned = 0;
    auto work = Buffered(0x12, 1, 56);
    EXPECT_TRUE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 44, work.data(), 104,
                                      &returned));
    EXPECT_EQ(work[2], 0);
    EXPECT_EQ(work[48 + 36], 'Q');
    EXPECT_EQ(returned, 104u);

    // The output cannot hold the reply.
    work = Buffered(0x12, 1, 56);
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 44, work.data(), 100,
                                       &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorInvalidParameter);
    // The input does not carry the data to write.
    work = Buffered(0x2A, 0, 512);
    work[36] = 1;  // one sector
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 500, work.data(), 44,
                                       &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorInvalidParameter);
    // A header shorter than the structure, or with the wrong Length.
    work = Buffered(0x00, 0, 0);
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 40, work.data(), 44,
                                       &returned));
    PutLe16(&work[0], 48);
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 44, work.data(), 44,
                                       &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorInvalidParameter);
}

TEST_F(SimOsLayerTest, ScsiStatusDeviceLossAndHangs) {
    OsHandle f = Open("\\\\.\\F:");
    OsHandle e = Open("\\\\.\\E:");
    std::uint32_t returned = 0;
    auto work = Buffered(0x00, 0, 0);
    EXPECT_TRUE(layer.DeviceIoControl(f, kIoctlScsiPassThrough, work.data(), 44, work.data(), 44,
                                      &returned));
    EXPECT_EQ(work[2], sim::kTargetStatusCheckCondition);  // no card in the slot

    bus.HangOnCommand(1);
    work = Buffered(0x00, 0, 0);
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 44, work.data(), 44,
                                       &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorSemTimeout);

    bus.Unplug();
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThrough, work.data(), 44, work.data(), 44,
                                       &returned));
    EXPECT_EQ(layer.GetLastError(), kErrorDevNotExist);
    EXPECT_FALSE(layer.DeviceIoControl(nullptr, kIoctlScsiPassThrough, work.data(), 44, work.data(),
                                       44, &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorInvalidHandle);
}

TEST_F(SimOsLayerTest, DirectRequestsResolveTheirBufferAddress) {
    OsHandle e = Open("\\\\.\\E:");
    std::uint8_t reply[56] = {};
    std::array<std::uint8_t, 48> request{};
    PutLe16(&request[0], 44);
    request[6] = 12;
    request[8] = 1;
    PutLe32(&request[12], 56);
    PutLe32(&request[16], 2);
    PutLe32(&request[20], layer.BufferAddress(reply));
    request[28] = 0x12;
    request[32] = 56;
    std::uint32_t returned = 0;
    EXPECT_TRUE(layer.DeviceIoControl(e, kIoctlScsiPassThroughDirect, request.data(), 48,
                                      request.data(), 48, &returned));
    EXPECT_EQ(reply[37], 'Z');
    EXPECT_EQ(layer.LastPassThroughHeader(), request);

    PutLe32(&request[20], 0x77);  // not an address of the face
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThroughDirect, request.data(), 48,
                                       request.data(), 48, &returned));
    EXPECT_EQ(layer.GetLastError(), SimOsLayer::kErrorInvalidParameter);

    bus.SetDirectPassThroughSupported(false);
    PutLe32(&request[20], layer.BufferAddress(reply));
    EXPECT_FALSE(layer.DeviceIoControl(e, kIoctlScsiPassThroughDirect, request.data(), 48,
                                       request.data(), 48, &returned));
}

TEST_F(SimOsLayerTest, BufferAddressesAreStable32BitTokens) {
    std::uint8_t a[4];
    std::uint8_t b[4];
    const std::uint32_t ta = layer.BufferAddress(a);
    EXPECT_EQ(layer.BufferAddress(a), ta);
    EXPECT_NE(layer.BufferAddress(b), ta);
    EXPECT_EQ(layer.BufferAddress(nullptr), 0u);
    EXPECT_NE(ta, 0u);
}

}  // namespace
