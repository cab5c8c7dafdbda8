#pragma once

#include "core/string_table.h"

// The texts the format engines leave for the front end and write to the log.
namespace texts {

// The numbered ones come from the program's string table.
inline const char* MediaNotPresent() { return AppString(IDS_MEDIA_NOT_PRESENT); }            // 109
inline const char* MediaDamaged() { return AppString(IDS_MEDIA_DAMAGED); }                   // 117
inline const char* CompleteReplug() { return AppString(IDS_COMPLETE_REPLUG); }               // 118
inline const char* DamagedAbortRetryIgnore() { return AppString(IDS_DAMAGED_ABORT_RETRY); }  // 126

constexpr const char* kNoCisSuffix = "(no CIS)";
constexpr const char* kBankCountFailed = "Fail to get bank number!\n";
constexpr const char* kBankCountZero = "Bank number = 0 !\n";
constexpr const char* kBankCountTooLarge = "Bank number > 8 !\n";
constexpr const char* kInvalidDeviceCode = "Invalid SmartMedia or flash device code!\n";
constexpr const char* kMediaDamagedRun =
    "Your media is damaged and not recoverable!\nKeep using it may cause loss of data.\n";
constexpr const char* kWriteCisFailBox = "Write CIS page fail!\n";
constexpr const char* kWriteCisFailRun = "Write CIS page fail !\n";
constexpr const char* kLoadCisFailRun = "Fail to load the new CIS page!\n";
constexpr const char* kWriteVolumeFailRun = "Fail to write the FAT file system!\n";
constexpr const char* kCisNumberUnreadable =
    "Fail to read the CIS page number! Nothing was erased.\n";
constexpr const char* kOldCisUnreadable = "Fail to read the old CIS page! Nothing was erased.\n";
constexpr const char* kOldVendorUnreadable =
    "Fail to read the old vendor page! Nothing was erased.\n";
constexpr const char* kOldPagesNotKept = "The old CIS page could not be kept: ";
constexpr const char* kNothingErased = " Nothing was erased.\n";
constexpr const char* kSelectBankUnanswered = "Fail to select a flash bank! Nothing was erased.\n";
constexpr const char* kSelectBankFailed = "Fail to select a flash bank!\n";
constexpr const char* kRestoreFailed = "Fail to write back the old CIS page!\n";
constexpr const char* kUnresponsive = "The disk does not answer any more!\n";

// Log lines (each at most one number).
constexpr const char* kLogStartFormatting = "Start formatting DISK\n";
constexpr const char* kLogEndFormatting = "End formatting DISK\n";
constexpr const char* kLogInvalidDeviceCode = "Invalid device code at bank %d\n";
constexpr const char* kLogBankCountTooLarge = "Bank number = %d, more than 8\n";
constexpr const char* kLogBankNo = "Bank No = %d\n";
constexpr const char* kLogBadBlock = "Bad blk: %d\n";
constexpr const char* kLogAscendFail = "ASCEND pattern fail at %d\n";
constexpr const char* kLog55Fail = "0x55 pattern fail at %d\n";
constexpr const char* kLogAAFail = "0xAA pattern fail at %d\n";
constexpr const char* kLogEraseFail = "Erase fail at %d\n";
constexpr const char* kLogNotFree = "Erased but not free at %d\n";
constexpr const char* kLogMarkBadFail = "Mark bad fail at %d\n";
constexpr const char* kLogUserStop = "User stop\n";
constexpr const char* kLogUserAbort = "User abort\n";
constexpr const char* kLogSaveOldCis = "Save old CIS/Vendor page if exist\n";
constexpr const char* kLogTotals = "Total bad blocks = %d\nTotal unable_to_mark_bad blocks = %d\n";
constexpr const char* kLogNoOldCis = "No old CIS/Vendor page\n";
constexpr const char* kLogOldCis = "Old CIS page no = %d\n";
constexpr const char* kLogNoOldVendor = "No old vendor page\n";
constexpr const char* kLogOldVendor = "Old vendor page no = %d\n";
constexpr const char* kLogRestoreVendorOff = "RestoreVendorPage = 0\n";
constexpr const char* kLogNoCis = "No CIS page!\n";
constexpr const char* kLogCisPage = "CIS page = %d\n";
constexpr const char* kLogWriteCisFail = "Write CIS fail\n";
constexpr const char* kLogLoadCisFail = "Load CIS page fail\n";
constexpr const char* kLogVolumeRefused = "FAT volume size refused: %d sectors\n";
constexpr const char* kLogWriteVolumeFail = "Write FAT volume fail\n";
constexpr const char* kLogCisNumberUnreadable = "Read CIS page number fail\n";
constexpr const char* kLogOldCisUnreadable = "Read old CIS page fail\n";
constexpr const char* kLogOldVendorUnreadable = "Read old vendor page fail\n";
constexpr const char* kLogOldPagesNotKept = "Keep old CIS/Vendor page fail\n";
constexpr const char* kLogRestoreFailed = "Write back old CIS/Vendor page fail\n";
constexpr const char* kLogSelectBankFail = "Select bank %d fail\n";
constexpr const char* kLogRemoved = "Disk removed\n";
constexpr const char* kLogUnresponsive = "Disk does not answer\n";
constexpr const char* kLogWriteProtected = "Write protected\n";

}  // namespace texts
