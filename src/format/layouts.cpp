#include "format/layouts.h"

#include <iterator>

#include "format/import.h"
#include "format/raw_layouts.h"

namespace kdrvx::format {
namespace {

RecordKind decimals(const RVX_HEADER&) { return RecordKind::Decimals; }
RecordKind floats(const RVX_HEADER&) { return RecordKind::Floats; }

bool isKindQ(uint8_t version, uint8_t) { return version == kVersionKindQ; }
bool isKindP(uint8_t version, uint8_t) { return version == kVersionKindP; }
// WIN 2.x: a version below the WIN 3.x letters, an original flag that is
// neither 'W' nor 'X', or the sparse version 'R' of an original recording.
bool isWin2(uint8_t version, uint8_t originalFlag) {
  const bool knownFlag =
      originalFlag == kOriginalRecording || originalFlag == kNotOriginalRecording;
  return version < kFirstWin3Version || !knownFlag ||
         (version == kVersionSparseWin2 && originalFlag == kOriginalRecording);
}
bool isWin3(uint8_t version, uint8_t) { return version < kVersionWin6; }
bool isWin6(uint8_t version, uint8_t) { return version == kVersionWin6; }
bool isCurrent(uint8_t, uint8_t) { return true; }

// The trace lines are texts that hosts match on: they stay verbatim.
constexpr Layout kLayouts[] = {
    {LayoutId::DosBefore50, "DOS before 5.0", u"KDrvxLibrary: RVX version DOS <5.0 ",
     raw::dos4::kFirstEntry, raw::dos4::kEntrySize, raw::dos4::kMaxChannels, true, decimals,
     nullptr, convertDosBefore50},
    {LayoutId::DosKindQ, "DOS 5.0/5.1 (kind Q)", u"KDrvxLibrary: RVX version DOS 5.0/5.1 ",
     raw::dosQ::kUsed, 0, kMaxChannels, true, decimals, isKindQ, convertDosKindQ},
    {LayoutId::DosKindP, "DOS 5.0/5.1 (kind P)", u"KDrvxLibrary: RVX version DOS 5.0/5.1 ",
     raw::dosP::kFirstEntry, raw::dosP::kEntrySize, kMaxChannels, true, floats, isKindP,
     convertDosKindP},
    {LayoutId::Win2, "WIN 2.x", u"KDrvxLibrary: RVX version WIN 2.x ", raw::win2::kFirstEntry,
     raw::win2::kEntrySize, raw::win2::kMaxChannels, true, recordKindOf, isWin2, convertWin2},
    {LayoutId::Win3, "WIN 3.x/4.x", u"KDrvxLibrary: RVX version WIN 3.x/4.x ", kCompactFixedSize,
     kCompactChannelSize, kCompactMaxChannels, true, floats, isWin3, convertWin3},
    // The odd spelling of the next two lines is what hosts have always seen.
    {LayoutId::Win6, "WIN 6.x", u"KDrvxLibary: RVX version WIN 6.x ", raw::win6::kFirstEntry,
     raw::win6::kEntrySize, raw::win6::kMaxChannels, true, floats, isWin6, convertWin6},
    {LayoutId::Current, "current", u"KDrvxLibary: RVX version WIN 7.x ", kHeaderFixedSize,
     kChannelRecordSize, kMaxChannels, false, floats, isCurrent, convertCurrent},
};

}  // namespace

std::span<const Layout> layouts() { return kLayouts; }

const Layout& layoutOf(LayoutId id) {
  for (const Layout& layout : kLayouts)
    if (layout.id == id) return layout;
  return kLayouts[std::size(kLayouts) - 1];
}

RecordKind recordKindOf(const RVX_HEADER& converted) {
  if (converted.Version == kVersionDosRecords) return RecordKind::Decimals;
  if (converted.Version == kVersionSparseWin2 && converted.OriginalFlag == 0)
    return RecordKind::Sparse;
  return RecordKind::Floats;
}

}  // namespace kdrvx::format
