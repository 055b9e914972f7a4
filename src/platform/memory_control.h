// The controls of the in-memory platform layer (memory.cpp), for the fault
// tests and the fuzz targets that link the static library kdrvx_memory. Not
// part of any shipped library.
//
// The memory layer keeps files and directories in one process-wide table.
// Names are UTF-8 keys of the UTF-16 paths; a name without a leading slash
// is taken from the root. There are no "." or ".." components, links or
// devices. Sharing, read-only files and the Windows error numbers follow the
// POSIX layer. A pause (sleepMilliseconds) returns at once: nobody else can
// release a file meanwhile.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kdrvx::platform::memory {

// How an armed fault strikes the call it hits.
enum class Fault {
  Error,       // the call fails (1117, a write 112) and changes nothing
  Short,       // a read or write moves half of its bytes, then fails; other calls fail
  Persistent,  // as Error, and every fallible call after it fails as well
};

// Forgets every file, directory and fault, and the counters; open files keep
// their contents until they are closed but are no longer found by name.
void reset();

bool makeDirectory(const std::u16string& path);  // its parent must exist
// Creates or replaces a file; false when its directory is missing or a
// holder has it open.
bool putFile(const std::u16string& path, const std::string& bytes, bool readOnly = false);
std::optional<std::string> fileBytes(const std::u16string& path);
std::optional<uint64_t> fileLength(const std::u16string& path);  // without copying the bytes
bool exists(const std::u16string& path);

// Open files of the layer (every File not closed), to tell a leaked one.
uint32_t openFiles();

// The fallible calls (open, read, write, seek, truncate, length and status
// queries, removal) made since the last reset; the n-th of them, counted
// from 1, is the one that armFault(n, ...) hits. 0 disarms.
uint64_t calls();
void armFault(uint64_t nth, Fault fault);
bool faultStruck();

// Bytes one file may hold; a write or extension beyond fails with the
// disk-full error 112 (default 256 MiB).
void setCapacity(uint64_t bytes);

// Milliseconds of pauses the library asked for since the last reset.
uint64_t pausedMilliseconds();

}  // namespace kdrvx::platform::memory
