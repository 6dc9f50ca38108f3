// The shared record of every extraction: the result rs and the playing flag.
#pragma once

#include <QString>
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

inline constexpr int SlotPage = 0;
inline constexpr int SlotVideoUrl = 2;
inline constexpr int SlotCoverUrl = 4;
inline constexpr int SlotAvatarUrl = 6;
inline constexpr int SlotAuthor = 8;
inline constexpr int SlotDescription = 10;
inline constexpr int SlotDate = 12;
inline constexpr int SlotCount = 51;

using Slots = std::array<QString, SlotCount>;

struct ExtractionResult {
    Slots ResultSlots;           // empty at start, emptied when an extraction begins
    std::int16_t IsPlaying = 0;  // 1 while playback started from the play symbol runs
    bool Failed = false;         // the last extraction found no web video link
    // Slots whose value joins fixed text to a value that came out empty (a cover address
    // built from an empty video id): kept in the record, but no picture is loaded from them.
    std::bitset<SlotCount> BuiltFromEmpty;
};

// One skippable step: the slot is written only when the step produced a value.
inline void setSlot(Slots &rs, int index, const std::optional<QString> &value)
{
    if (value)
        rs[index] = *value;
}
