// The read side's part of the module state that more than one thread
// touches: the registry of the independent readers that are open, and the
// lock around the library's own opens of an RVI file. Readers run in any
// thread, so both are locked; the rest of the module state belongs to the
// host's one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "kdrvx/kdrvx.h"

namespace kdrvx::read {

struct Reader;

// The readers that KDRVX_ReaderOpen handed out and KDRVX_ReaderClose has
// not taken back. A handle is no address but the reader's serial number,
// made odd and never used twice in the life of the module: a closed
// handle, even one whose reader's memory a later reader took, is found in
// no entry, nor is a pointer to anything else (but by the chance of its
// value equalling an open reader's serial); none is ever dereferenced.
class ReaderRegistry {
 public:
  ReaderRegistry();
  ~ReaderRegistry();
  ReaderRegistry(const ReaderRegistry&) = delete;
  ReaderRegistry& operator=(const ReaderRegistry&) = delete;

  // Takes `reader` in and returns its handle; null, with the reader freed,
  // when there is no memory for the entry.
  KDRVX_Reader* add(std::unique_ptr<Reader> reader);
  // The open reader behind `handle`, or null.
  Reader* find(const KDRVX_Reader* handle);
  // Takes the reader behind `handle` out of the registry; null when there
  // is none.
  std::unique_ptr<Reader> remove(const KDRVX_Reader* handle);

 private:
  std::shared_mutex lock_;
  std::unordered_map<uintptr_t, std::unique_ptr<Reader>> open_;
  uintptr_t lastSerial_ = 0;
};

ReaderRegistry& readers();

// Held around every open, read and close of an RVI file by a reader or the
// read context: the file is opened without sharing, and two of the
// library's own opens in one process must not refuse each other.
std::mutex& summaryFileLock();

}  // namespace kdrvx::read
