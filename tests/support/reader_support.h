// What the read context and an independent reader each report for one
// file: the status of the open, the recording's and every channel's
// description, and the records as far as they go (or up to a limit).
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "kdrvx/kdrvx.h"

namespace kdrvx::test {

// Files of the sparse kind may have records that store nothing, without
// end; a file is followed this far.
inline constexpr uint32_t kRecordLimit = 70000;

struct Report {
  uint32_t status = 0;
  KDRVX_RecordingInfo info{};
  std::vector<KDRVX_ChannelInfo> channels;
  std::vector<float> records;  // record after record
  uint64_t count = 0;          // records delivered
};

// Through the read context: the queries and the one-by-one readers, with
// the reader's choices where those leave the buffer to the caller (a
// rejected DOS record is NaN in every channel, a channel not stored in a
// sparse record keeps its value from the one before, 0 at first).
Report contextReport(const std::filesystem::path& path);
// Through a reader: info, channels and the records in one block.
Report readerReport(const std::filesystem::path& path);

// All records of an open reader read in blocks of `block`, forward.
std::vector<float> readInBlocks(KDRVX_Reader* reader, uint32_t block, uint32_t channels);

}  // namespace kdrvx::test
