#include "layouts.h"

namespace rvx {

namespace {

uint32_t byteAt(const uint8_t* bytes, size_t size, size_t offset) {
  return offset < size ? bytes[offset] : 0;
}

uint32_t u16At(const uint8_t* bytes, size_t size, size_t offset) {
  return byteAt(bytes, size, offset) | byteAt(bytes, size, offset + 1) << 8;
}

uint32_t u32At(const uint8_t* bytes, size_t size, size_t offset) {
  return u16At(bytes, size, offset) | u16At(bytes, size, offset + 2) << 16;
}

}  // namespace

LayoutInfo detectLayout(const uint8_t* bytes, size_t size) {
  LayoutInfo info;
  if (size < 6) return info;
  info.version = bytes[4];
  uint32_t version = bytes[4];
  const uint32_t original = bytes[5];
  if (u32At(bytes, size, 0) != 0) {
    info.layout = Layout::DosBefore5;
    info.records = RecordKind::Decimals;
    return info;
  }
  if (version == 'P' && u16At(bytes, size, 18) == 0 && byteAt(bytes, size, 24) <= 12) {
    version = 'Q';
  }
  if (version > 's') {
    info.layout = Layout::Newer;
  } else if (version == 'p' || version == 'q') {
    info.layout = Layout::Developer;
  } else if (version == 'Q') {
    info.layout = Layout::DosQ;
    info.records = RecordKind::Decimals;
  } else if (version == 'P') {
    info.layout = Layout::DosP;
  } else if (version < '0' || (original != 'W' && original != 'X') ||
             (version == 'R' && original == 'W')) {
    info.layout = Layout::Win2;
    if (version == 0) info.records = RecordKind::Decimals;
    if (version == 'R') info.records = RecordKind::Sparse;
  } else if (version < 96) {
    info.layout = Layout::Win3;
  } else if (version == 96) {
    info.layout = Layout::Win6;
  } else {
    info.layout = Layout::Current;
  }
  return info;
}

std::string layoutName(const LayoutInfo& info) {
  switch (info.layout) {
    case Layout::TooShort: return "none (too short for a header)";
    case Layout::DosBefore5: return "DOS before 5.0";
    case Layout::DosQ: return "DOS 5.0/5.1 (kind Q)";
    case Layout::DosP: return "DOS 5.0/5.1 (kind P)";
    case Layout::Win2: return "WIN 2.x";
    case Layout::Win3: return info.version == 64 ? "WIN 3.x/4.x (compact)" : "WIN 3.x/4.x";
    case Layout::Win6: return "WIN 6.x";
    case Layout::Current: return "current";
    case Layout::Newer: return "newer than this library";
    case Layout::Developer: return "developer version";
  }
  return "unknown";
}

std::string versionText(uint32_t version) {
  std::string text = std::to_string(version);
  if (version >= 'a' && version <= 'z') return std::string(1, static_cast<char>(version)) + " (" + text + ")";
  if (version > 32 && version < 127) return text + " ('" + static_cast<char>(version) + "')";
  return text;
}

}  // namespace rvx
