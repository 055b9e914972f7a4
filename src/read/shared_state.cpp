#include "read/shared_state.h"

#include <new>
#include <utility>

#include "read/reader.h"

namespace kdrvx::read {
namespace {

uintptr_t keyOf(const KDRVX_Reader* handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

ReaderRegistry::ReaderRegistry() = default;
ReaderRegistry::~ReaderRegistry() = default;

KDRVX_Reader* ReaderRegistry::add(std::unique_ptr<Reader> reader) {
  std::unique_lock<std::shared_mutex> hold(lock_);
  // Odd: no aligned object's address is ever taken for a handle.
  const uintptr_t key = (++lastSerial_ << 1) | 1;
  try {
    open_.emplace(key, std::move(reader));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return reinterpret_cast<KDRVX_Reader*>(key);
}

Reader* ReaderRegistry::find(const KDRVX_Reader* handle) {
  std::shared_lock<std::shared_mutex> hold(lock_);
  const auto found = open_.find(keyOf(handle));
  return found == open_.end() ? nullptr : found->second.get();
}

std::unique_ptr<Reader> ReaderRegistry::remove(const KDRVX_Reader* handle) {
  std::unique_lock<std::shared_mutex> hold(lock_);
  const auto found = open_.find(keyOf(handle));
  if (found == open_.end()) return nullptr;
  std::unique_ptr<Reader> reader = std::move(found->second);
  open_.erase(found);
  return reader;
}

ReaderRegistry& readers() {
  static ReaderRegistry registry;
  return registry;
}

std::mutex& summaryFileLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace kdrvx::read
