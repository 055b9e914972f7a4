// The one interface between the library and the operating system: files
// with Windows sharing semantics, system error numbers in the Windows
// numbering, local time, a pause, and the default trace sink. There is one
// implementation for POSIX and one for Win32; nothing else in the library
// includes a system header.
#pragma once

#include <cstdint>
#include <string>

namespace kdrvx::platform {

// Windows system error numbers that the library reports or decides on.
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorSharingViolation = 32;
inline constexpr uint32_t kErrorFileExists = 80;
inline constexpr uint32_t kErrorInvalidName = 123;
inline constexpr uint32_t kErrorIoDevice = 1117;

// How a file is opened. Every mode opens the file for the named access and
// lets other openers share only what the mode says. Only regular files open:
// a directory, device, pipe or socket is refused with kErrorAccessDenied
// (and never waited on), before anything is read, as Windows refuses them.
enum class OpenMode {
  ReadShared,       // existing file, read; others may read and write
  ReadExclusive,    // existing file, read; no other opener
  CreateReadWrite,  // create or truncate, read and write; no other opener. A file
                    // this call creates is never taken for read-only.
  OpenReadWrite,    // existing file, read and write; no other opener
  CreateNew,        // a new file, read and write; no other opener. Anything already
                    // at the path is left alone and fails with kErrorFileExists.
  CreateLive,       // as CreateReadWrite, but others may read (a second writer is refused)
  CreateNewLive,    // as CreateNew, but others may read (a second writer is refused)
};

struct LocalTime {
  int year = 0;    // four digits
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;    // 0..23
  int minute = 0;  // 0..59
  int second = 0;  // 0..59
};

// An open file. Not copyable, but movable; closes itself on destruction without any
// further writing. Every failing call records a system error that
// lastError() reports, like the operating system's own last error.
class File {
 public:
  File() = default;
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  // Moving hands the open file over; the moved-from File is closed.
  File(File&& other) noexcept
      : handle_(other.handle_), lengthAtOpen_(other.lengthAtOpen_), readFailed_(other.readFailed_) {
    other.handle_ = kClosed;
  }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      lengthAtOpen_ = other.lengthAtOpen_;
      readFailed_ = other.readFailed_;
      other.handle_ = kClosed;
    }
    return *this;
  }

  // Opens `path` (zero-terminated UTF-16). Closes a file still open first.
  bool open(const char16_t* path, OpenMode mode);
  // Opens `path` as open() does, finding its last component as Windows
  // does, whose names ignore case: the exact name first; where there is no
  // entry of that name, the one entry of the same directory whose name
  // differs from it only in ASCII case. Several such entries count as none
  // (kErrorFileNotFound). Costs nothing beyond open() where the exact name
  // exists.
  bool openIgnoringCase(const char16_t* path, OpenMode mode);
  bool isOpen() const { return handle_ != kClosed; }
  void close();

  // Reads up to `count` bytes; returns the number read. Fewer than `count`
  // come at the end of the file and when the system fails the read:
  // readFailed() tells the two apart, lastError() gives the system's reason.
  uint32_t read(void* buffer, uint32_t count);
  // Whether the latest read() stopped because the system failed it, not at
  // the end of the file.
  bool readFailed() const { return readFailed_; }
  // Writes all `count` bytes; false when fewer could be written.
  bool write(const void* buffer, uint32_t count);
  bool seekFromStart(int64_t offset);
  // Cuts the file (or extends it with zeros) to `length` bytes; the
  // position is not moved.
  bool truncate(int64_t length);
  bool seekFromEnd(int64_t offset);
  // Length in bytes, or -1 on failure.
  int64_t length();
  // Length in bytes as the open found it, where the open learns it anyway
  // (POSIX reads the file's status while opening), which saves a system
  // call; elsewhere the current length. -1 on failure.
  int64_t lengthAtOpen() { return isOpen() && lengthAtOpen_ >= 0 ? lengthAtOpen_ : length(); }
  // Last modification time of the open file in local time.
  bool modificationTime(LocalTime& out);

 private:
  static constexpr intptr_t kClosed = -1;
  intptr_t handle_ = kClosed;
  int64_t lengthAtOpen_ = -1;
  bool readFailed_ = false;
};

// Who holds the file at a path, as a follower of a recording asks.
enum class Holder {
  Missing,     // nothing is at the path
  Nobody,      // no opener holds it for writing
  LiveWriter,  // an opener of CreateLive or CreateNewLive holds it
  Exclusive,   // an opener that shares nothing holds it
};

// Finds out who holds the file at `path` without disturbing any of them (a
// momentary shared open at most). False, with the system's error, when the
// path names something that is no file or cannot be examined.
bool probeHolder(const char16_t* path, Holder& out);

// Removes the file at `path`. Fails like the Windows deletion: for a missing
// file, a read-only file, or a file that another opener holds.
bool removeFile(const char16_t* path);

// The system error of the most recent failing platform call on this thread
// (0 after a successful open), in the Windows numbering.
uint32_t lastError();

// The absolute form of `path`, which names the same file whatever the
// current directory becomes later: the real path of its directory plus its
// last component (Windows: the full path name). False, with `out` empty,
// when the directory cannot be resolved or its name cannot be given as
// UTF-16.
bool absolutePath(const char16_t* path, std::u16string& out);

void sleepMilliseconds(uint32_t milliseconds);

// The local date and time of now; false if it cannot be had.
bool localTimeNow(LocalTime& out);

// Where a trace line goes when the host has set no sink of its own.
void writeDefaultTrace(const char16_t* line);

// ---- Putting a finished file in its place ----
// A host writes a file under a staging name beside its target and then has
// the library put it there; these are the system calls of that.

// What a path names, a symbolic link at its end not followed.
struct PathStatus {
  bool exists = false;    // something is there
  bool regular = false;   // a regular file
  bool directory = false;
  bool readOnly = false;  // POSIX: no write bit at all; Windows: the read-only attribute
  uint32_t links = 0;     // hard links of a regular file
};

// Fills `out` for `path`; false (with the system's error) only when the
// path cannot be examined, not when nothing is there.
bool examinePath(const char16_t* path, PathStatus& out);

// The path of the file that `path` leads to through its symbolic links (a
// link to nothing gives where it points); `path` itself when it is no link.
// Fails with 1921 after 40 links.
bool followLinks(const char16_t* path, std::u16string& out);

// Flushes the bytes of the file at `path` to the disk.
bool flushFile(const char16_t* path);

// Gives `file` the permission bits of `model` and, where the process may
// set them, its owner and group (as far as allowed: the group alone, or
// neither). Windows keeps such things with ReplaceFileW instead: nothing to
// do there.
bool copyOwnerAndMode(const char16_t* model, const char16_t* file);

// Renames `from` to `to` in the same directory. With `replace` over a file
// that is there (Windows: ReplaceFileW, which keeps the replaced file's
// attributes and access rights), refused with 32 while another opener holds
// it; without, only where nothing is, also when something appeared there
// meanwhile (80).
bool moveFile(const char16_t* from, const char16_t* to, bool replace);

// Writes the bytes of `from` over the regular file `to` from its start,
// cuts it to their length and flushes it: `to` keeps its identity, its
// links, owner and mode. Refused with 32 while another opener holds `to`.
// A failure after the first write leaves `to` partly rewritten.
bool rewriteFile(const char16_t* from, const char16_t* to);

// Flushes the directory that holds `path`, so that a rename in it is
// durable; a file system that cannot does without (nothing on Windows,
// where renames are written through).
void flushDirectoryOf(const char16_t* path);

// A number from the system's source of randomness.
uint32_t randomNumber();

}  // namespace kdrvx::platform
