#include <cstring>

#include "reader/byte_order.h"
#include "reader/win32/aspi_backend.h"
#include "reader/win32/pass_through_backend.h"
#include "reader_fixture.h"
#include "sim/sim_flash_disk.h"

namespace {

const std::uint8_t kInquiry[12] = {0x12, 0, 0, 0, 0x38, 0, 0, 0, 0, 0, 0, 0};
const std::uint8_t kTestUnitReady[12] = {};

using ReaderTransportStart = ReaderTest;

TEST_F(ReaderTransportStart, LoadsTheAspiLibraryByNameWithBothEntries) {
    AddReader(0, 0, {"DS"});
    bus.SetHostAdapterCount(3);
    ASSERT_EQ(reader.OpenTransport(), 1);
    EXPECT_TRUE(backEnds.AspiActive());
    EXPECT_EQ(layer.LastLibraryName(), "WNASPI32.DLL");
    EXPECT_EQ(layer.ProcNamesAsked(),
              (std::vector<std::string>{"GetASPI32SupportInfo", "SendASPI32Command"}));
    EXPECT_EQ(backEnds.Transport().hostAdapterCount, 3);
    EXPECT_NE(backEnds.Transport().requestBlock, nullptr);
    EXPECT_EQ(backEnds.Transport().workBuffer, nullptr);  // one back-end only
}

TEST_F(ReaderTransportStart, FallsBackToPassThroughOnlyWhenTheLibraryIsAbsent) {
    WithoutAspi();
    EXPECT_EQ(backEnds.LoadAspi(), kStartNoLibrary);
    EXPECT_EQ(backEnds.Transport().library, nullptr);
    ASSERT_EQ(reader.OpenTransport(), 1);
    EXPECT_FALSE(backEnds.AspiActive());
    EXPECT_NE(backEnds.Transport().workBuffer, nullptr);
    EXPECT_EQ(backEnds.Transport().useDirect, 0);
    EXPECT_EQ(backEnds.Transport().directProbed, 0);
}

TEST_F(ReaderTransportStart, AMissingEntryPointFailsStartWithoutFallBack) {
    for (const char* entry : {"GetASPI32SupportInfo", "SendASPI32Command"}) {
        SCOPED_TRACE(entry);
        bus.MutableAspiLibrary().missingEntry = entry;
        const std::uint32_t freesBefore = layer.FreeLibraryCalls();
        EXPECT_EQ(backEnds.LoadAspi(), kStartMissingEntry);
        EXPECT_EQ(backEnds.Transport().library, nullptr);
        EXPECT_FALSE(layer.LibraryLoaded());
        EXPECT_EQ(layer.FreeLibraryCalls(), freesBefore + 1);

        EXPECT_EQ(reader.OpenTransport(), 0);
        EXPECT_EQ(backEnds.Transport().workBuffer, nullptr);
        EXPECT_EQ(reader.StartCount(), 1);  // stays counted after a failed start
        reader.CloseTransport();
    }
}

TEST_F(ReaderTransportStart, NoHostAdapterOrABadSupportStatusFailsStart) {
    for (std::uint32_t info : {0x0100u, 0x0201u, 0x0004u, 0x0402u}) {
        SCOPED_TRACE(info);
        bus.MutableAspiLibrary().supportInfoOverridden = true;
        bus.MutableAspiLibrary().supportInfo = info;
        EXPECT_EQ(backEnds.LoadAspi(), kStartNoAdapter);
        EXPECT_FALSE(layer.LibraryLoaded());
        EXPECT_EQ(reader.OpenTransport(), 0);
        EXPECT_FALSE(backEnds.AspiActive());
        reader.CloseTransport();
    }
    bus.MutableAspiLibrary().supportInfo = 0x0102;
    EXPECT_EQ(reader.OpenTransport(), 1);
    EXPECT_EQ(backEnds.Transport().hostAdapterCount, 2);
}

TEST_F(ReaderTransportStart, TheStartCountMakesOnlyTheLastCloseRelease) {
    ASSERT_EQ(reader.OpenTransport(), 1);
    ASSERT_EQ(reader.OpenTransport(), 1);
    EXPECT_EQ(layer.LoadLibraryCalls(), 1u);  // the second start does not touch the library
    EXPECT_EQ(reader.StartCount(), 2);

    reader.CloseTransport();
    EXPECT_TRUE(backEnds.AspiActive());
    EXPECT_EQ(layer.FreeLibraryCalls(), 0u);
    reader.CloseTransport();
    EXPECT_FALSE(backEnds.AspiActive());
    EXPECT_EQ(layer.FreeLibraryCalls(), 1u);
    EXPECT_EQ(backEnds.Transport().requestBlock, nullptr);

    reader.CloseTransport();  // unmatched: nothing more is released
    EXPECT_EQ(reader.StartCount(), 0);
    EXPECT_EQ(layer.FreeLibraryCalls(), 1u);
}

class ReaderAspiExecute : public ReaderTest {
  protected:
    void SetUp() override {
        bus.SetHostAdapterCount(2);
        AddReader(1, 5, {"CF", "SM", "DS"});
        ASSERT_EQ(reader.OpenTransport(), 1);
        ASSERT_TRUE(backEnds.AspiActive());
        backEnds.Transport().readerHostAdapter = 1;
        backEnds.Transport().readerTarget = 5;
    }
};

TEST_F(ReaderAspiExecute, FillsTheRequestBlockAtThePublishedOffsets) {
    std::uint8_t reply[56] = {};
    ASSERT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kInquiry, reply, sizeof reply, kAspiDirIn, 2),
        kAspiComplete);

    const auto& block = layer.LastRequestBlock();
    std::array<std::uint8_t, 256> expected{};
    expected[0] = 2;  // SC_EXEC_SCSI_CMD; status 0 on the way in
    expected[2] = 1;
    expected[3] = 8;
    expected[8] = 5;
    expected[9] = 2;
    PutLe32(&expected[12], 56);
    PutLe32(&expected[16], layer.BufferAddress(reply));
    expected[20] = 0;
    expected[21] = 12;
    std::memcpy(&expected[48], kInquiry, 12);
    EXPECT_EQ(block, expected);

    EXPECT_EQ(reply[36], 'Q');
    EXPECT_EQ(reply[38], 'D');  // LUN 2 answered into the caller's buffer in place
    EXPECT_EQ(backEnds.Transport().lastAspiStatus, kAspiComplete);
}

TEST_F(ReaderAspiExecute, CarriesFlagsAndLengthOfEachDirection) {
    std::uint8_t sector[512] = {};
    std::uint8_t write10[12] = {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0};
    bus.FlashDisk()->SetSectorCount(100);
    ASSERT_EQ(AspiExecute(backEnds.Transport(), layer, 2, write10, sector, 512, kAspiDirOut, 2),
              kAspiComplete);
    EXPECT_EQ(layer.LastRequestBlock()[3], 16);
    EXPECT_EQ(GetLe32(&layer.LastRequestBlock()[12]), 512u);

    ASSERT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiComplete);
    EXPECT_EQ(layer.LastRequestBlock()[3], 0);
    EXPECT_EQ(GetLe32(&layer.LastRequestBlock()[12]), 0u);
    EXPECT_EQ(GetLe32(&layer.LastRequestBlock()[16]), 0u);
}

TEST_F(ReaderAspiExecute, ReportsCheckConditionAndAbsentUnits) {
    // The CF slot has no card: NOT READY.
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 0, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiError);
    EXPECT_EQ(backEnds.Transport().lastAspiStatus, kAspiError);
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 7, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiNoDevice);
    EXPECT_EQ(backEnds.Transport().lastAspiStatus, kAspiNoDevice);
}

TEST_F(ReaderAspiExecute, ATimeOutGivesStatusTwoAfterOnePollPerMillisecond) {
    bus.HangOnCommand(1);
    const std::uint64_t start = layer.VirtualMilliseconds();
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 2),
        kAspiAborted);
    EXPECT_EQ(backEnds.Transport().lastAspiStatus, kAspiAborted);
    EXPECT_EQ(layer.SleepCalls(), 2000u);
    EXPECT_EQ(layer.VirtualMilliseconds() - start, 2000u);
}

TEST_F(ReaderAspiExecute, WithoutATimeOutTheImmediateStatusIsReturned) {
    bus.HangOnCommand(1);
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 0),
        kAspiPending);
    EXPECT_EQ(layer.SleepCalls(), 0u);
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 0),
        kAspiComplete);
}

TEST_F(ReaderAspiExecute, NeverRewritesABlockTheManagerStillOwns) {
    bus.HangOnCommand(1);
    std::uint8_t* hungBlock = backEnds.Transport().requestBlock;
    ASSERT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiAborted);
    ASSERT_EQ(layer.PendingRequests(), 1u);

    std::uint8_t reply[56] = {};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(AspiExecute(backEnds.Transport(), layer, 1, kInquiry, reply, sizeof reply,
                              kAspiDirIn, 2),
                  kAspiComplete);
    }
    EXPECT_NE(backEnds.Transport().requestBlock, hungBlock);
    EXPECT_EQ(layer.OwnedBlockRewrites(), 0u);
    EXPECT_EQ(reply[38], 'S');

    // A second time-out sets the fresh block aside as well.
    bus.HangOnCommand(1);
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiAborted);
    EXPECT_EQ(
        AspiExecute(backEnds.Transport(), layer, 2, kTestUnitReady, nullptr, 0, kAspiDirNone, 1),
        kAspiComplete);
    EXPECT_EQ(layer.PendingRequests(), 2u);
    EXPECT_EQ(layer.OwnedBlockRewrites(), 0u);
    EXPECT_EQ(backEnds.Transport().abandonedBlocks.size(), 2u);

    reader.CloseTransport();  // releases the manager first, then the blocks it held
    EXPECT_EQ(layer.PendingRequests(), 0u);
    EXPECT_TRUE(backEnds.Transport().abandonedBlocks.empty());
}

class ReaderPassThrough : public ReaderTest {
  protected:
    void SetUp() override {
        WithoutAspi();
        AddReader(0, 0, {"DS"}, "E");
        ASSERT_EQ(reader.OpenTransport(), 1);
        ASSERT_FALSE(backEnds.AspiActive());
        handle =
            layer.CreateFile("\\\\.\\E:", kGenericReadWrite, kShareReadWrite, kOpenExisting, 0);
        ASSERT_NE(handle, nullptr);
        bus.FlashDisk()->SetSectorCount(100);
    }
    ~ReaderPassThrough() override {
        if (handle != nullptr) layer.CloseHandle(handle);
    }

    std::array<std::uint8_t, 48> Header(std::uint8_t dataIn, std::uint32_t transferLength,
                                        std::uint16_t timeout, std::uint32_t dataBuffer,
                                        const std::uint8_t* cdb) {
        std::array<std::uint8_t, 48> h{};
        PutLe16(&h[0], 44);
        h[6] = 12;
        h[8] = dataIn;
        PutLe32(&h[12], transferLength);
        PutLe32(&h[16], timeout);
        PutLe32(&h[20], dataBuffer);
        std::memcpy(&h[28], cdb, 12);
        return h;
    }

    OsHandle handle = nullptr;
};

TEST_F(ReaderPassThrough, BufferedReadUsesThePublishedLayoutAndSizes) {
    std::uint8_t reply[56] = {};
    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, kInquiry, reply, 56,
                                 kPassThroughDataIn, 2),
              kPassThroughOk);
    EXPECT_EQ(layer.LastIoctlCode(), kIoctlScsiPassThrough);
    EXPECT_EQ(layer.LastInSize(), 44u);
    EXPECT_EQ(layer.LastOutSize(), 56u + 48u);
    EXPECT_TRUE(layer.LastInOutSameBuffer());
    EXPECT_EQ(layer.LastPassThroughHeader(), Header(1, 56, 2, 48, kInquiry));
    EXPECT_EQ(reply[36], 'Q');
    EXPECT_EQ(reply[39], 'S');
}

TEST_F(ReaderPassThrough, BufferedWriteAndNoDataSizes) {
    std::uint8_t sector[512];
    for (int i = 0; i < 512; ++i) sector[i] = static_cast<std::uint8_t>(i * 7);
    const std::uint8_t write10[12] = {0x2A, 0, 0, 0, 0, 5, 0, 0, 1, 0, 0, 0};
    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, write10, sector, 512,
                                 kPassThroughDataOut, 2),
              kPassThroughOk);
    EXPECT_EQ(layer.LastInSize(), 512u + 48u);
    EXPECT_EQ(layer.LastOutSize(), 44u);
    EXPECT_EQ(layer.LastPassThroughHeader(), Header(0, 512, 2, 48, write10));
    std::uint8_t stored[512] = {};
    ASSERT_TRUE(bus.FlashDisk()->ReadSector(5, stored));
    EXPECT_EQ(std::memcmp(stored, sector, 512), 0);

    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, kTestUnitReady, nullptr, 0,
                                 kPassThroughDataOut, 1),
              kPassThroughOk);
    EXPECT_EQ(layer.LastInSize(), 44u);
    EXPECT_EQ(layer.LastOutSize(), 44u);
    EXPECT_EQ(layer.LastPassThroughHeader(), Header(0, 0, 1, 48, kTestUnitReady));
}

TEST_F(ReaderPassThrough, AOneByteReadAsksForTwoAndHandsBackOne) {
    const std::uint8_t bankCount[12] = {0xC2};
    std::uint8_t out[2] = {0x00, 0xA5};
    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, bankCount, out, 1,
                                 kPassThroughDataIn, 2),
              kPassThroughOk);
    EXPECT_EQ(GetLe32(&layer.LastPassThroughHeader()[12]), 2u);
    EXPECT_EQ(layer.LastOutSize(), 50u);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0xA5);  // only the byte asked for is copied back
}

TEST_F(ReaderPassThrough, NothingIsCopiedBackAfterAFailure) {
    bus.FlashDisk()->SetNotReady(true);
    const std::uint8_t read10[12] = {0x28, 0, 0, 0, 0, 0, 0, 0, 1};
    std::uint8_t sector[512];
    std::memset(sector, 0x5A, sizeof sector);
    EXPECT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, read10, sector, 512,
                                 kPassThroughDataIn, 2),
              kPassThroughFailed);
    EXPECT_EQ(layer.LastPassThroughHeader()[2], 0);  // ScsiStatus 0 on entry
    for (std::uint8_t b : sector) ASSERT_EQ(b, 0x5A);
    EXPECT_EQ(backEnds.Transport().lastPassThroughError, 0u);  // carried, but CHECK CONDITION
}

TEST_F(ReaderPassThrough, APulledDeviceFailsWithDeviceNotExist) {
    bus.Unplug();
    EXPECT_EQ(
        PassThroughExecute(backEnds.Transport(), layer, handle, kTestUnitReady, nullptr, 0, 0, 1),
        kPassThroughFailed);
    EXPECT_EQ(backEnds.Transport().lastPassThroughError, kErrorDevNotExist);
}

TEST_F(ReaderPassThrough, ANullHandleFailsWithoutReachingTheDriver) {
    const std::uint32_t before = layer.IoctlCalls();
    EXPECT_EQ(
        PassThroughExecute(backEnds.Transport(), layer, nullptr, kTestUnitReady, nullptr, 0, 0, 1),
        kPassThroughFailed);
    EXPECT_EQ(layer.IoctlCalls(), before);
}

TEST_F(ReaderPassThrough, TransfersBeyondTheWorkBufferAreRefused) {
    std::vector<std::uint8_t> big(65541);
    const std::uint8_t read10[12] = {0x28};
    const std::uint32_t before = layer.IoctlCalls();
    EXPECT_EQ(
        PassThroughExecute(backEnds.Transport(), layer, handle, read10, big.data(), 65541, 1, 2),
        kPassThroughFailed);
    EXPECT_EQ(layer.IoctlCalls(), before);
}

TEST_F(ReaderPassThrough, TheDirectProbeSwitchesToTheDirectRequest) {
    EXPECT_EQ(ProbeDirectPassThrough(backEnds.Transport(), layer, handle), kPassThroughOk);
    EXPECT_EQ(backEnds.Transport().useDirect, 1);
    EXPECT_EQ(layer.LastIoctlCode(), kIoctlScsiPassThroughDirect);

    std::uint8_t reply[56] = {};
    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, kInquiry, reply, 56,
                                 kPassThroughDataIn, 2),
              kPassThroughOk);
    EXPECT_EQ(layer.LastIoctlCode(), kIoctlScsiPassThroughDirect);
    EXPECT_EQ(layer.LastInSize(), 48u);
    EXPECT_EQ(layer.LastOutSize(), 48u);
    EXPECT_EQ(layer.LastPassThroughHeader(),
              Header(1, 56, 2, layer.BufferAddress(reply), kInquiry));
    EXPECT_EQ(reply[37], 'Z');

    ASSERT_EQ(
        PassThroughExecute(backEnds.Transport(), layer, handle, kTestUnitReady, nullptr, 0, 0, 1),
        kPassThroughOk);
    EXPECT_EQ(layer.LastPassThroughHeader(), Header(0, 0, 1, 0, kTestUnitReady));
}

TEST_F(ReaderPassThrough, ADirectOneByteReadNeverWritesPastTheCallersByte) {
    ASSERT_EQ(ProbeDirectPassThrough(backEnds.Transport(), layer, handle), kPassThroughOk);
    const std::uint8_t deviceCode[12] = {0xF7};
    std::uint8_t out[2] = {0x00, 0xA5};
    ASSERT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, deviceCode, out, 1,
                                 kPassThroughDataIn, 2),
              kPassThroughOk);
    EXPECT_EQ(GetLe32(&layer.LastPassThroughHeader()[12]), 2u);
    EXPECT_NE(GetLe32(&layer.LastPassThroughHeader()[20]), layer.BufferAddress(out));
    EXPECT_EQ(out[0], 0x75);
    EXPECT_EQ(out[1], 0xA5);
}

TEST_F(ReaderPassThrough, AFailedDirectProbeKeepsTheBufferedRequest) {
    bus.SetDirectPassThroughSupported(false);
    EXPECT_EQ(ProbeDirectPassThrough(backEnds.Transport(), layer, handle), kPassThroughFailed);
    EXPECT_EQ(backEnds.Transport().useDirect, 0);
    std::uint8_t reply[56] = {};
    EXPECT_EQ(PassThroughExecute(backEnds.Transport(), layer, handle, kInquiry, reply, 56, 1, 2),
              kPassThroughOk);
    EXPECT_EQ(layer.LastIoctlCode(), kIoctlScsiPassThrough);
}

}  // namespace
