// In-memory implementation of the platform layer, for fuzzing and fault
// injection (static library kdrvx_memory; memory_control.h drives it).
//
// Files live in a process-wide table under one lock. Sharing follows the
// POSIX layer's locks: ReadShared holds a shared lock, every other mode an
// exclusive one, taken per open file, so two
// openers in one process exclude each other as two processes do. A
// read-only file refuses writing opens and deletion; a held file refuses
// deletion.
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "platform/memory_control.h"
#include "platform/platform.h"
#include "platform/utf8_path.h"

namespace kdrvx::platform {
namespace {

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorDiskFull = 112;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorNameTooLong = 206;
constexpr size_t kMaxComponentBytes = 255;

struct Node {
  std::string bytes;
  bool readOnly = false;
  time_t modified = 0;
  uint32_t sharedHolders = 0;  // a live writer counts here too
  bool exclusiveHolder = false;
  bool liveWriter = false;
};

struct OpenFile {
  std::shared_ptr<Node> node;  // null for a free slot
  bool inUse = false;
  bool writes = false;
  bool shared = false;
  bool live = false;
  int64_t position = 0;
};

struct Store {
  std::mutex lock;
  std::map<std::string, std::shared_ptr<Node>> files;
  std::set<std::string> directories;
  std::vector<OpenFile> open;
  uint64_t calls = 0;
  uint64_t faultAt = 0;
  memory::Fault fault = memory::Fault::Error;
  bool struck = false;
  uint64_t capacity = uint64_t{256} << 20;
  uint64_t paused = 0;
};

Store& store() {
  static Store instance;
  return instance;
}

thread_local uint32_t tLastError = 0;

bool failed(uint32_t error) {
  tLastError = error;
  return false;
}

// What an armed fault does to the current call (under the store's lock).
enum class Strike { None, Fail, Short };

Strike countCall(Store& s) {
  ++s.calls;
  if (s.faultAt == 0 || s.calls < s.faultAt) return Strike::None;
  if (s.calls > s.faultAt && s.fault != memory::Fault::Persistent) return Strike::None;
  s.struck = true;
  return s.fault == memory::Fault::Short && s.calls == s.faultAt ? Strike::Short : Strike::Fail;
}

// The key of a path: its UTF-8 form, from the root. 0 or the error of a
// path that names nothing.
uint32_t keyOf(const char16_t* path, std::string& key) {
  if (path == nullptr) return kErrorPathNotFound;
  if (!utf16ToUtf8Path(path, key)) return kErrorInvalidName;
  if (key.empty()) return kErrorPathNotFound;
  if (key.front() != '/') key.insert(key.begin(), '/');
  size_t start = 0;
  while (start < key.size()) {
    size_t end = key.find('/', start);
    if (end == std::string::npos) end = key.size();
    if (end - start > kMaxComponentBytes) return kErrorNameTooLong;
    start = end + 1;
  }
  return 0;
}

std::string parentOf(const std::string& key) {
  const size_t slash = key.find_last_of('/');
  return slash == 0 ? std::string("/") : key.substr(0, slash);
}

bool isDirectory(const Store& s, const std::string& key) {
  return key == "/" || s.directories.count(key) != 0;
}

// The error for a name that is not there: the file (2) or the way to it (3).
uint32_t missingError(const Store& s, const std::string& key) {
  return isDirectory(s, parentOf(key)) ? kErrorFileNotFound : kErrorPathNotFound;
}

OpenFile* slotOf(Store& s, intptr_t handle) {
  if (handle < 0 || static_cast<size_t>(handle) >= s.open.size()) return nullptr;
  OpenFile& slot = s.open[static_cast<size_t>(handle)];
  return slot.inUse ? &slot : nullptr;
}

// The open file behind `handle` for a call that fails as a whole when it is
// struck (seeks, lengths, times): null, with the error set, when the handle
// is not open or the call is made to fail.
OpenFile* answeringFile(Store& s, intptr_t handle) {
  OpenFile* file = slotOf(s, handle);
  if (file == nullptr) {
    failed(kErrorInvalidHandle);
    return nullptr;
  }
  if (countCall(s) != Strike::None) {
    failed(kErrorIoDevice);
    return nullptr;
  }
  return file;
}

// The same for a call given a position or a length, which may not be
// negative.
OpenFile* fileAtPosition(Store& s, intptr_t handle, int64_t position) {
  if (position >= 0) return answeringFile(s, handle);
  failed(slotOf(s, handle) != nullptr ? kErrorNegativeSeek : kErrorInvalidHandle);
  return nullptr;
}

intptr_t takeSlot(Store& s, OpenFile file) {
  file.inUse = true;
  for (size_t i = 0; i < s.open.size(); ++i) {
    if (!s.open[i].inUse) {
      s.open[i] = std::move(file);
      return static_cast<intptr_t>(i);
    }
  }
  s.open.push_back(std::move(file));
  return static_cast<intptr_t>(s.open.size() - 1);
}

bool toLocalTime(time_t when, LocalTime& out) {
  struct tm parts;
  if (::localtime_r(&when, &parts) == nullptr) return false;
  out.year = parts.tm_year + 1900;
  out.month = parts.tm_mon + 1;
  out.day = parts.tm_mday;
  out.hour = parts.tm_hour;
  out.minute = parts.tm_min;
  out.second = parts.tm_sec > 59 ? 59 : parts.tm_sec;
  return true;
}

// Cuts or extends `node` to `length` bytes, zeros filling an extension.
bool resize(Store& s, Node& node, uint64_t length) {
  if (length > s.capacity) return failed(kErrorDiskFull);
  node.bytes.resize(static_cast<size_t>(length), '\0');
  node.modified = ::time(nullptr);
  return true;
}

}  // namespace

File::~File() { close(); }

bool File::open(const char16_t* path, OpenMode mode) {
  close();
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  if (countCall(s) != Strike::None) return failed(kErrorIoDevice);
  std::string key;
  if (const uint32_t error = keyOf(path, key); error != 0) return failed(error);

  const bool live = mode == OpenMode::CreateLive || mode == OpenMode::CreateNewLive;
  const bool createsNew = mode == OpenMode::CreateNew || mode == OpenMode::CreateNewLive;
  const bool truncates = mode == OpenMode::CreateReadWrite || mode == OpenMode::CreateLive;
  const bool creates = truncates || createsNew;
  const bool writes = creates || mode == OpenMode::OpenReadWrite;
  const bool shared = mode == OpenMode::ReadShared || live;
  // A directory opens in no mode; a new file cannot be made where it is.
  if (isDirectory(s, key)) return failed(createsNew ? kErrorFileExists : kErrorAccessDenied);

  auto found = s.files.find(key);
  bool created = false;
  if (found == s.files.end()) {
    if (!creates || !isDirectory(s, parentOf(key))) return failed(missingError(s, key));
    auto node = std::make_shared<Node>();
    node->modified = ::time(nullptr);
    found = s.files.emplace(key, std::move(node)).first;
    created = true;
  }
  if (createsNew && !created) return failed(kErrorFileExists);
  Node& node = *found->second;
  if (writes && !created && node.readOnly) return failed(kErrorAccessDenied);
  if (node.exclusiveHolder || (!shared && node.sharedHolders > 0) || (live && node.liveWriter))
    return failed(kErrorSharingViolation);
  if (truncates && !created) resize(s, node, 0);

  if (shared)
    ++node.sharedHolders;
  else
    node.exclusiveHolder = true;
  if (live) node.liveWriter = true;
  handle_ = takeSlot(s, OpenFile{found->second, false, writes, shared, live, 0});
  lengthAtOpen_ = creates ? 0 : static_cast<int64_t>(node.bytes.size());
  tLastError = 0;
  return true;
}

bool File::openIgnoringCase(const char16_t* path, OpenMode mode) {
  if (open(path, mode)) return true;
  if (tLastError != kErrorFileNotFound) return false;
  std::u16string wide;
  {
    Store& s = store();
    std::lock_guard<std::mutex> hold(s.lock);
    std::string key;
    keyOf(path, key);
    const std::string parent = parentOf(key);
    const auto folded = [](std::string name) {
      for (char& ch : name)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
      return name;
    };
    const std::string wanted = folded(key);
    std::string found;
    int matches = 0;
    // Directories are entries too, as a directory listing shows them.
    const auto consider = [&](const std::string& entry) {
      if (parentOf(entry) != parent || folded(entry) != wanted) return;
      ++matches;
      found = entry;
    };
    for (const auto& entry : s.files) consider(entry.first);
    for (const std::string& entry : s.directories) consider(entry);
    if (matches != 1 || !utf8ToUtf16Path(found, wide)) return failed(kErrorFileNotFound);
  }
  return open(wide.c_str(), mode);
}

void File::close() {
  if (handle_ == kClosed) return;
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  if (OpenFile* file = slotOf(s, handle_)) {
    if (file->shared) --file->node->sharedHolders;
    if (!file->shared) file->node->exclusiveHolder = false;
    if (file->live) file->node->liveWriter = false;
    *file = OpenFile{};
  }
  handle_ = kClosed;
}

uint32_t File::read(void* buffer, uint32_t count) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  readFailed_ = false;
  OpenFile* file = slotOf(s, handle_);
  if (file == nullptr) {
    readFailed_ = true;
    failed(kErrorInvalidHandle);
    return 0;
  }
  const Strike strike = countCall(s);
  if (strike == Strike::Fail) {
    readFailed_ = true;
    failed(kErrorIoDevice);
    return 0;
  }
  const std::string& bytes = file->node->bytes;
  const uint64_t at = static_cast<uint64_t>(file->position);
  uint32_t n =
      at >= bytes.size() ? 0 : static_cast<uint32_t>(std::min<uint64_t>(count, bytes.size() - at));
  if (strike == Strike::Short) {
    n /= 2;
    readFailed_ = true;
    failed(kErrorIoDevice);
  }
  if (n > 0) bytes.copy(static_cast<char*>(buffer), n, static_cast<size_t>(at));
  file->position += n;
  return n;
}

bool File::write(const void* buffer, uint32_t count) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = slotOf(s, handle_);
  if (file == nullptr || !file->writes) return failed(kErrorInvalidHandle);
  const Strike strike = countCall(s);
  if (strike == Strike::Fail) return failed(kErrorDiskFull);
  const uint32_t n = strike == Strike::Short ? count / 2 : count;
  Node& node = *file->node;
  const uint64_t at = static_cast<uint64_t>(file->position);
  if (at + n > s.capacity) return failed(kErrorDiskFull);
  if (at + n > node.bytes.size()) node.bytes.resize(static_cast<size_t>(at + n), '\0');
  node.bytes.replace(static_cast<size_t>(at), n, static_cast<const char*>(buffer), n);
  node.modified = ::time(nullptr);
  file->position += n;
  if (strike == Strike::Short) return failed(kErrorDiskFull);
  return true;
}

bool File::seekFromStart(int64_t offset) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = fileAtPosition(s, handle_, offset);
  if (file != nullptr) file->position = offset;
  return file != nullptr;
}

bool File::truncate(int64_t length) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = fileAtPosition(s, handle_, length);
  if (file == nullptr) return false;
  if (!file->writes) return failed(kErrorInvalidParameter);
  return resize(s, *file->node, static_cast<uint64_t>(length));
}

bool File::seekFromEnd(int64_t offset) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = answeringFile(s, handle_);
  if (file == nullptr) return false;
  const int64_t end = static_cast<int64_t>(file->node->bytes.size());
  if (end + offset < 0) return failed(kErrorInvalidParameter);
  file->position = end + offset;
  return true;
}

int64_t File::length() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = answeringFile(s, handle_);
  if (file == nullptr) return -1;
  return static_cast<int64_t>(file->node->bytes.size());
}

bool File::modificationTime(LocalTime& out) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  OpenFile* file = answeringFile(s, handle_);
  if (file == nullptr) return false;
  return toLocalTime(file->node->modified, out);
}

// The entry at `path` for a call that names a file, counted as a fallible
// call: false (with the error recorded) for a path that names no file's
// place, a directory, or a struck call; `found` is the end of the files
// where nothing is.
using FileEntry = std::map<std::string, std::shared_ptr<Node>>::iterator;
bool entryOfFile(Store& s, const char16_t* path, std::string& key, FileEntry& found) {
  if (const uint32_t error = keyOf(path, key); error != 0) return failed(error);
  if (countCall(s) != Strike::None) return failed(kErrorIoDevice);
  if (isDirectory(s, key)) return failed(kErrorAccessDenied);
  found = s.files.find(key);
  return true;
}

bool probeHolder(const char16_t* path, Holder& out) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  FileEntry found;
  if (!entryOfFile(s, path, key, found)) return false;
  if (found == s.files.end()) {
    out = Holder::Missing;
    return true;
  }
  const Node& node = *found->second;
  out = node.liveWriter        ? Holder::LiveWriter
        : node.exclusiveHolder ? Holder::Exclusive
                               : Holder::Nobody;
  return true;
}

bool removeFile(const char16_t* path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  FileEntry found;
  if (!entryOfFile(s, path, key, found)) return false;
  if (found == s.files.end()) return failed(missingError(s, key));
  const Node& node = *found->second;
  if (node.readOnly) return failed(kErrorAccessDenied);
  if (node.exclusiveHolder || node.sharedHolders > 0) return failed(kErrorSharingViolation);
  s.files.erase(found);
  tLastError = 0;
  return true;
}

bool absolutePath(const char16_t* path, std::u16string& out) {
  out.clear();
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (keyOf(path, key) != 0 || !isDirectory(s, parentOf(key))) return false;
  if (!utf8ToUtf16Path(key, out)) {
    out.clear();
    return false;
  }
  return true;
}

uint32_t lastError() { return tLastError; }

void sleepMilliseconds(uint32_t milliseconds) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  s.paused += milliseconds;
}

bool localTimeNow(LocalTime& out) { return toLocalTime(::time(nullptr), out); }

void writeDefaultTrace(const char16_t*) {}

// ---- Putting a finished file in its place: no links, owners or modes ----

namespace {

// The node of a file at `path` for a call that fails as a whole when it is
// struck; null, with the error set, when there is none.
std::shared_ptr<Node> answeringNode(Store& s, const char16_t* path, std::string& key) {
  if (const uint32_t error = keyOf(path, key); error != 0) {
    failed(error);
    return nullptr;
  }
  if (countCall(s) != Strike::None) {
    failed(kErrorIoDevice);
    return nullptr;
  }
  const auto found = s.files.find(key);
  if (found != s.files.end()) return found->second;
  failed(isDirectory(s, key) ? kErrorAccessDenied : missingError(s, key));
  return nullptr;
}

bool held(const Node& node) { return node.exclusiveHolder || node.sharedHolders > 0; }

}  // namespace

bool examinePath(const char16_t* path, PathStatus& out) {
  out = PathStatus{};
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (const uint32_t error = keyOf(path, key); error != 0) return failed(error);
  if (countCall(s) != Strike::None) return failed(kErrorIoDevice);
  const auto found = s.files.find(key);
  out.exists = found != s.files.end() || isDirectory(s, key);
  out.regular = found != s.files.end();
  out.directory = isDirectory(s, key);
  out.readOnly = out.regular && found->second->readOnly;
  out.links = out.regular ? 1 : 0;
  return true;
}

bool followLinks(const char16_t* path, std::u16string& out) {
  if (path == nullptr) return failed(kErrorPathNotFound);
  out = path;
  return true;
}

bool flushFile(const char16_t* path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  return answeringNode(s, path, key) != nullptr;
}

bool copyOwnerAndMode(const char16_t* model, const char16_t* file) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string from, to;
  const std::shared_ptr<Node> source = answeringNode(s, model, from);
  if (source == nullptr) return false;
  const std::shared_ptr<Node> target = answeringNode(s, file, to);
  if (target == nullptr) return false;
  target->readOnly = source->readOnly;
  return true;
}

bool moveFile(const char16_t* from, const char16_t* to, bool replace) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string source, target;
  const std::shared_ptr<Node> node = answeringNode(s, from, source);
  if (node == nullptr) return false;
  if (const uint32_t error = keyOf(to, target); error != 0) return failed(error);
  if (isDirectory(s, target)) return failed(replace ? kErrorAccessDenied : kErrorFileExists);
  if (!isDirectory(s, parentOf(target))) return failed(kErrorPathNotFound);
  const auto there = s.files.find(target);
  if (there != s.files.end()) {
    if (!replace) return failed(kErrorFileExists);
    if (held(*there->second)) return failed(kErrorSharingViolation);
  }
  s.files.erase(source);
  s.files[target] = node;
  tLastError = 0;
  return true;
}

bool rewriteFile(const char16_t* from, const char16_t* to) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string source, target;
  const std::shared_ptr<Node> in = answeringNode(s, from, source);
  if (in == nullptr) return false;
  const std::shared_ptr<Node> out = answeringNode(s, to, target);
  if (out == nullptr) return false;
  if (held(*out)) return failed(kErrorSharingViolation);
  if (!resize(s, *out, in->bytes.size())) return false;
  out->bytes = in->bytes;
  return true;
}

void flushDirectoryOf(const char16_t*) {}

uint32_t randomNumber() { return std::random_device{}(); }

namespace memory {
namespace {

bool keyOf(const std::u16string& path, std::string& key) {
  return platform::keyOf(path.c_str(), key) == 0;
}

}  // namespace

void reset() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  s.files.clear();
  s.directories.clear();
  s.calls = 0;
  s.faultAt = 0;
  s.struck = false;
  s.paused = 0;
}

bool makeDirectory(const std::u16string& path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (!keyOf(path, key) || !isDirectory(s, parentOf(key)) || s.files.count(key) != 0) return false;
  s.directories.insert(key);
  return true;
}

bool putFile(const std::u16string& path, const std::string& bytes, bool readOnly) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (!keyOf(path, key) || !isDirectory(s, parentOf(key)) || isDirectory(s, key)) return false;
  std::shared_ptr<Node>& node = s.files[key];
  if (node && (node->exclusiveHolder || node->sharedHolders > 0)) return false;
  node = std::make_shared<Node>();
  node->bytes = bytes;
  node->readOnly = readOnly;
  node->modified = ::time(nullptr);
  return true;
}

std::optional<std::string> fileBytes(const std::u16string& path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (!keyOf(path, key)) return std::nullopt;
  const auto found = s.files.find(key);
  if (found == s.files.end()) return std::nullopt;
  return found->second->bytes;
}

std::optional<uint64_t> fileLength(const std::u16string& path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  if (!keyOf(path, key)) return std::nullopt;
  const auto found = s.files.find(key);
  if (found == s.files.end()) return std::nullopt;
  return found->second->bytes.size();
}

bool exists(const std::u16string& path) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  std::string key;
  return keyOf(path, key) && (isDirectory(s, key) || s.files.count(key) != 0);
}

uint32_t openFiles() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  uint32_t count = 0;
  for (const OpenFile& file : s.open) count += file.inUse ? 1 : 0;
  return count;
}

uint64_t calls() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.calls;
}

void armFault(uint64_t nth, Fault fault) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  s.faultAt = nth;
  s.fault = fault;
  s.struck = false;
}

bool faultStruck() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.struck;
}

void setCapacity(uint64_t bytes) {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  s.capacity = bytes;
}

uint64_t pausedMilliseconds() {
  Store& s = store();
  std::lock_guard<std::mutex> hold(s.lock);
  return s.paused;
}

}  // namespace memory
}  // namespace kdrvx::platform
