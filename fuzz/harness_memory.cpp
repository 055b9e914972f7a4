// The harnesses' files in the memory platform layer: every input starts
// from an empty file system with the scratch directory in it.
#include <iterator>

#include "harness.h"
#include "harness_support.h"
#include "platform/memory_control.h"

namespace kdrvx::fuzz {

namespace memory = platform::memory;

const std::filesystem::path& scratchDirectory() {
  static const std::filesystem::path directory("/fuzz");
  return directory;
}

void startInput() {
  memory::reset();
  memory::makeDirectory(scratchDirectory().u16string());
}

void finishInput() { memory::reset(); }

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
  check(memory::putFile(path.u16string(), bytes), "the harness could not write its input file");
}

void makeDirectory(const std::filesystem::path& path) { memory::makeDirectory(path.u16string()); }

bool fileExists(const std::filesystem::path& path) { return memory::exists(path.u16string()); }

uint64_t storedLength(const std::filesystem::path& path) {
  return memory::fileLength(path.u16string()).value_or(0);
}

bool armFault(uint32_t nth, uint8_t kind) {
  const memory::Fault faults[] = {memory::Fault::Error, memory::Fault::Short,
                                  memory::Fault::Persistent};
  memory::armFault(memory::calls() + nth, faults[kind % std::size(faults)]);
  return true;
}

void disarmFault() { memory::armFault(0, memory::Fault::Error); }

}  // namespace kdrvx::fuzz
