// The kinds of file a saved video can be made into, in one table: what the menus offer, what
// the command line and the history call each, which keep only the sound, the extension and
// the container the converter writes. Plain C++, read by the converter's process as well.
#pragma once

#include <string_view>

namespace convert {

enum class Kind { Mp4, M4a, Mp3 };

struct KindRow {
    Kind kind;
    std::string_view name;     // the extension, and the word scripts and the history use
    std::string_view caption;  // the menu's text, in UTF-8
    bool soundOnly;            // only the sound is kept
    std::string_view muxer;    // the container the converter writes
};

inline constexpr KindRow KindTable[] = {
    {Kind::Mp4, "mp4", "转换为 MP4", false, "mp4"},
    {Kind::Mp3, "mp3", "仅保存音频 (MP3)", true, "mp3"},
    {Kind::M4a, "m4a", "仅保存音频 (M4A)", true, "ipod"},
};

constexpr const KindRow &kindRow(Kind kind)
{
    for (const KindRow &row : KindTable) {
        if (row.kind == kind)
            return row;
    }
    return KindTable[0];
}

// The row named name (exactly, in lower case), or none.
constexpr const KindRow *kindRowNamed(std::string_view name)
{
    for (const KindRow &row : KindTable) {
        if (row.name == name)
            return &row;
    }
    return nullptr;
}

}  // namespace convert
