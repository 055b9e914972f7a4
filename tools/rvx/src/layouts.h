// Which of the RVX header layouts a file starts with, told from its first
// bytes by the same tests, in the same order, as the library's import.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace rvx {

enum class Layout {
  TooShort,   // fewer bytes than any header
  DosBefore5,
  DosQ,       // DOS 5.0/5.1, kind Q
  DosP,       // DOS 5.0/5.1, kind P
  Win2,
  Win3,       // WIN 3.x/4.x; version 64 is the compact layout
  Win6,
  Current,    // versions 'a' to 's'
  Newer,      // above 's': refused
  Developer,  // 'p' and 'q': refused
};

// How the data records of a layout are stored.
enum class RecordKind {
  Floats,    // one f32 per channel
  Decimals,  // DOS: i16 mantissa and u16 count of decimals per channel
  Sparse,    // WIN 2.x 'R': only the channels due in a record
};

struct LayoutInfo {
  Layout layout = Layout::TooShort;
  uint8_t version = 0;  // the version byte as found
  RecordKind records = RecordKind::Floats;
};

LayoutInfo detectLayout(const uint8_t* bytes, size_t size);

// "current", "WIN 3.x/4.x (compact)", "DOS 5.0/5.1 (kind Q)", ...
std::string layoutName(const LayoutInfo& info);

// The version code as the library reports it, shown as its letter where it
// is printable: "s (115)", "64 ('@')", "0".
std::string versionText(uint32_t version);

// Files below version 'a' keep part of their texts in an RVI file.
inline bool usesRviFile(uint32_t version) { return version < 97; }

}  // namespace rvx
