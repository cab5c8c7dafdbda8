#pragma once
#include <array>
#include <cstdint>
#include <ctime>
#include <string>

// The volume label of a FAT volume: 11 bytes padded with blanks, held in the boot sector and,
// for a volume that has one, in a volume-label entry of the root directory (the one most
// systems read).

using FatLabel = std::array<char, 11>;

// "NO NAME" and four blanks: the boot sector's label of a volume without one. Such a volume has
// no volume-label entry.
const FatLabel& NoNameLabel();
bool IsNoName(const FatLabel& label);

// A label from what a user typed, by mkfs.fat's rules: letters upper-cased, padded with blanks
// to 11 characters; empty, all blanks or "NO NAME" mean no label. Refused with a reason: more than
// 11 characters, a leading blank, a character outside printable ASCII, or one of
// " * + , . / : ; < = > ? [ \ ] | (which no FAT name may hold).
bool ParseFatLabel(const std::string& text, FatLabel* label, std::string* reason);

// A date and time as FAT directory entries keep them (local time, two-second steps).
struct FatTimestamp {
    std::uint16_t date = (1 << 5) | 1;  // 1980-01-01, the first day FAT can name
    std::uint16_t time = 0;
};
// Years outside 1980-2107 are held at the nearest end.
FatTimestamp FatTimestampOf(const std::tm& local);
FatTimestamp FatTimestampFromLocalClock();

// The root directory's volume-label entry: the label, attribute 08h, written at `when`.
std::array<std::uint8_t, 32> VolumeLabelEntry(const FatLabel& label, const FatTimestamp& when);
