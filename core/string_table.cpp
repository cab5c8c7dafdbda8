#include "core/string_table.h"

const AppStringEntry kAppStrings[] = {
    {IDS_ABOUTBOX, ""},
    {IDS_NO_USB_DISK, "No USB disk found ! Please plug in the device."},
    {IDS_SECTORS, "sectors"},
    {IDS_NOT_FORMATTED, "Media is not formatted."},
    {IDS_CLICK_START, "Click \"Start\" to start formatting"},
    {IDS_WRITE_PROTECTED, "Media is write-protected !"},
    {IDS_POWERED_OFF, "USB Disk is powered off. Please re-plug the device."},
    {IDS_MEDIA_NOT_PRESENT, "Media is not present !"},
    {IDS_FORMATTING,
     "Formatting the disk... Please wait and do not access the disk through My Computer or "
     "Windows Explorer. Or you can click Stop to cancel."},
    {IDS_FORMAT_COMPLETE, "Format is complete."},
    {IDS_FORMAT_CANCELED, "Format was canceled."},
    {IDS_FORMAT_FAILED, "Format failed !"},
    {IDS_TIME_ELAPSED, "Time elapsed"},
    {IDS_MEDIA_DAMAGED,
     "Your media was damaged and not recoverabl ! Keep using it may cause loss of data."},
    {IDS_COMPLETE_REPLUG,
     "Format is complete. Before you can use your device properly you must plug it out then "
     "plug in again.\n"},
    {IDS_CONFIRM_ERASE,
     "All the data will be erased!\nMake sure you already do the backup.\n\nWould you like to "
     "continue ?"},
    {IDS_TITLE, "Brevant Utility"},
    {IDS_DAMAGED_ABORT_RETRY,
     "Your media was damaged and not recoverable ! \nKeep using it may cause loss of "
     "data.\n\nPlease click Abort to stop formatting; \nClick Retry to continue; \nClick Ignore "
     "to continue without seeing this message.\n"},
};

const std::size_t kAppStringCount = sizeof kAppStrings / sizeof kAppStrings[0];

const char* AppString(int id) {
    for (const AppStringEntry& entry : kAppStrings)
        if (entry.id == id) return entry.text;
    return "";
}
