#include "library/placement.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "format/summary_names.h"
#include "format/summary_writer.h"
#include "library/sized.h"
#include "library/text.h"
#include "platform/platform.h"

namespace kdrvx::library {
namespace {

using platform::PathStatus;

// The longest path the library creates or opens: 259 units.
constexpr size_t kPathLimit = format::kCreatePathCapacity - 1;
constexpr std::u16string_view kStagingPrefix = u".partial-";
constexpr size_t kRandomLetters = 10;
constexpr int kStagingAttempts = 100;
// Summary files are a few kilobytes; anything far beyond is not one.
constexpr int64_t kSummaryLimit = int64_t{1} << 20;

bool separatesDirectory(char16_t unit) {
#if defined(_WIN32)
  return unit == u'\\' || unit == u'/' || unit == u':';
#else
  return unit == u'/';
#endif
}

size_t fileNameStart(std::u16string_view path) {
  size_t start = 0;
  for (size_t i = 0; i < path.size(); ++i)
    if (separatesDirectory(path[i])) start = i + 1;
  return start;
}

// From the last '.' of a file name, unless that dot begins it.
std::u16string_view extensionOf(std::u16string_view name) {
  const size_t dot = name.find_last_of(u'.');
  return dot == std::u16string_view::npos || dot == 0 ? std::u16string_view() : name.substr(dot);
}

// The RVI file that KDRVX_CloseCreate writes for a recording created at
// `path`; empty when it writes none.
std::u16string summaryOf(std::u16string_view path) {
  if (path.size() > kPathLimit) return {};
  char16_t name[format::kCreatePathCapacity] = {};
  std::copy(path.begin(), path.end(), name);
  if (!format::makeSummaryName(name)) return {};
  return name;
}

// Whether that RVI file lies beside the recording, named after its
// extension (and not cut short at a directory named like a recording).
bool summaryBeside(std::u16string_view path) {
  const std::u16string_view extension = extensionOf(path.substr(fileNameStart(path)));
  if (extension != u".rvx" && extension != u".RVX") return false;
  return summaryOf(path) == std::u16string(path.substr(0, path.size() - 4)) + u".RVI";
}

bool taken(const std::u16string& path) {
  PathStatus status;
  return !platform::examinePath(path.c_str(), status) || status.exists;
}

std::u16string randomLetters(size_t count) {
  constexpr std::u16string_view kLetters = u"abcdefghijklmnopqrstuvwxyz0123456789";
  std::u16string letters;
  for (size_t i = 0; i < count; ++i)
    letters += kLetters[platform::randomNumber() % kLetters.size()];
  return letters;
}

std::u16string decimal(uint32_t value) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + value % 10));
    value /= 10;
  } while (value != 0);
  return digits;
}

// A free staging name beside `path` (whose links the caller has followed),
// or empty with the status in `status`.
std::u16string freeStagingName(std::u16string_view path, bool summary, uint32_t& status) {
  const size_t start = fileNameStart(path);
  const std::u16string_view directory = path.substr(0, start);
  const std::u16string_view name = path.substr(start);
  const std::u16string_view extension = extensionOf(name);
  status = KDRVX_OK;
  if (name.empty()) {
    status = KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
    return {};
  }
  // As long as the target's own name, or as fits the limit where that is
  // longer: the whole form where there is room, else a dot and fewer
  // letters, else letters alone.
  const size_t room = std::max(name.size(), kPathLimit > start ? kPathLimit - start : 0);
  std::u16string_view prefix = kStagingPrefix;
  size_t letters = kRandomLetters;
  if (prefix.size() + letters + extension.size() > room) {
    prefix = room >= extension.size() + 2 ? u"." : u"";
    letters = std::min(kRandomLetters, room > extension.size() + prefix.size()
                                           ? room - extension.size() - prefix.size()
                                           : 0);
  }
  if (letters == 0) {
    status = KDRVX_ERR_RVX_CREATE;
    return {};
  }
  for (int attempt = 0; attempt < kStagingAttempts; ++attempt) {
    std::u16string candidate(directory);
    candidate.append(prefix).append(randomLetters(letters)).append(extension);
    if (taken(candidate)) continue;
    if (summary && taken(summaryOf(candidate))) continue;
    return candidate;
  }
  status = KDRVX_ERR_RVX_ALREADY_EXISTS;
  return {};
}

// The course of one placement: what failed goes into the report.
class Placing {
 public:
  explicit Placing(KDRVX_Placement& report) : report_(report) {}

  uint32_t fail(uint32_t status, uint32_t step, uint32_t systemError, std::u16string_view what,
                std::u16string_view text) {
    report_.step = step;
    report_.systemError = systemError;
    const std::u16string words = std::u16string(what) + std::u16string(text);
    copyToCaller(fromCaller(report_.text), KDRVX_PLACE_TEXT_CAPACITY, words.c_str());
    return status;
  }

  // A file at `path` that is to be replaced or created (`what` names it in
  // the texts: "" for the target, "its RVI file " for that).
  uint32_t judge(const std::u16string& path, bool replace, std::u16string_view what,
                 PathStatus& status) {
    if (!platform::examinePath(path.c_str(), status))
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, platform::lastError(), what,
                  u"cannot be examined");
    if (!status.exists) return KDRVX_OK;
    if (!status.regular)
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, platform::kErrorAccessDenied, what,
                  status.directory ? u"is a directory" : u"is not a regular file");
    if (!replace)
      return fail(KDRVX_ERR_RVX_ALREADY_EXISTS, KDRVX_PLACE_STEP_TARGET, platform::kErrorFileExists,
                  what, u"exists");
    if (status.readOnly)
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, platform::kErrorAccessDenied, what,
                  u"is read-only");
    // A file with links is rewritten in place, which takes writing.
    const bool linked = status.links > 1;
    platform::File probe;
    if (probe.open(path.c_str(),
                   linked ? platform::OpenMode::OpenReadWrite : platform::OpenMode::ReadExclusive))
      return KDRVX_OK;
    const uint32_t error = platform::lastError();
    if (error == platform::kErrorSharingViolation)
      return fail(KDRVX_ERR_RVX_SHARING_VIOLATION, KDRVX_PLACE_STEP_TARGET, error, what,
                  u"in use by another program");
    if (linked)
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, error, what,
                  u"has " + decimal(status.links) +
                      u" hard links, which a rename would split, and cannot be rewritten in "
                      u"place");
    return KDRVX_OK;  // not readable here, yet it may be renamed over
  }

  // Puts `from` in the place of `to`, where `old` was found.
  uint32_t putInPlace(const std::u16string& from, const std::u16string& to, const PathStatus& old,
                      std::u16string_view what, uint32_t failure, uint32_t step) {
    if (old.exists && old.links > 1) {
      if (!platform::rewriteFile(from.c_str(), to.c_str()))
        return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_REWRITE, platform::lastError(), what,
                    u"was rewritten in place only in part (it has " + decimal(old.links) +
                        u" hard links); the complete new file stays under its staging name");
      platform::removeFile(from.c_str());
      return KDRVX_OK;
    }
    if (old.exists && !platform::copyOwnerAndMode(to.c_str(), from.c_str()))
      return fail(failure, step, platform::lastError(), what,
                  u"cannot pass its mode on to the new file");
    if (platform::moveFile(from.c_str(), to.c_str(), old.exists)) return KDRVX_OK;
    const uint32_t error = platform::lastError();
    if (error == platform::kErrorFileExists)
      return fail(KDRVX_ERR_RVX_ALREADY_EXISTS, step, error, what,
                  u"was made meanwhile by another program");
    if (error == platform::kErrorSharingViolation)
      return fail(KDRVX_ERR_RVX_SHARING_VIOLATION, step, error, what, u"in use by another program");
    return fail(failure, step, error, what, u"cannot take the new file's place");
  }

  // Makes the RVI file written beside the staged recording name the
  // target's RVI file, as if the recording had been created there.
  uint32_t nameSummary(const std::u16string& staged, const std::u16string& target) {
    constexpr std::u16string_view kWhat = u"its RVI file ";
    platform::File file;
    int64_t length = -1;
    if (!file.open(staged.c_str(), platform::OpenMode::OpenReadWrite) ||
        (length = file.length()) < 0)
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY, platform::lastError(), kWhat,
                  u"cannot be read where the library wrote it");
    if (length > kSummaryLimit)
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY, 0, kWhat, u"is too long");
    std::string text(static_cast<size_t>(length), '\0');
    if (file.read(text.data(), static_cast<uint32_t>(length)) != length)
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY, platform::lastError(), kWhat,
                  u"cannot be read where the library wrote it");
    if (!format::renameSummary(text, staged.c_str(), target.c_str()))
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY, 0, kWhat,
                  u"does not name itself as the library writes it");
    if (!file.seekFromStart(0) || !file.write(text.data(), static_cast<uint32_t>(text.size())) ||
        !file.truncate(static_cast<int64_t>(text.size())))
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY, platform::lastError(), kWhat,
                  u"cannot be written");
    file.close();
    if (!platform::flushFile(staged.c_str()))
      return fail(KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_FLUSH, platform::lastError(), kWhat,
                  u"cannot be flushed to the disk");
    return KDRVX_OK;
  }

  // A compact recording and its RVI file: the recording replaced steps
  // aside first, so that it never stands beside the new RVI file.
  uint32_t placeRecording(const std::u16string& staged, const std::u16string& path,
                          const PathStatus& old, const std::u16string& stagedSummary,
                          const std::u16string& summary, const PathStatus& oldSummary) {
    std::u16string aside;
    if (old.exists) {
      uint32_t status = KDRVX_OK;
      aside = freeStagingName(path, false, status);
      if (aside.empty() || !platform::moveFile(path.c_str(), aside.c_str(), false))
        return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_MOVE, platform::lastError(), u"",
                    u"cannot step aside for the new recording");
    }
    if (const uint32_t status = putInPlace(stagedSummary, summary, oldSummary, u"its RVI file ",
                                           KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY)) {
      if (!aside.empty()) platform::moveFile(aside.c_str(), path.c_str(), false);
      return status;
    }
    if (!aside.empty() && !platform::copyOwnerAndMode(aside.c_str(), staged.c_str()))
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_MOVE, platform::lastError(), u"",
                  u"cannot pass its mode on to the new file; the old recording stays under a "
                  u"staging name");
    if (!platform::moveFile(staged.c_str(), path.c_str(), false))
      return fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_MOVE, platform::lastError(), u"",
                  u"cannot take the new recording's place; the old recording stays under a "
                  u"staging name");
    if (!aside.empty()) platform::removeFile(aside.c_str());
    return KDRVX_OK;
  }

 private:
  KDRVX_Placement& report_;
};

uint32_t place(const char16_t* staged, const char16_t* target, uint32_t flags,
               KDRVX_Placement& report) {
  Placing placing(report);
  const bool replace = (flags & KDRVX_PLACE_REPLACE) != 0;
  const bool summary = (flags & KDRVX_PLACE_SUMMARY) != 0;
  std::u16string path;
  if (!platform::followLinks(target, path))
    return placing.fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, platform::lastError(), u"",
                        u"leads nowhere through its symbolic links");
  if (summary && path != target)
    return placing.fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_TARGET, platform::kErrorAccessDenied,
                        u"",
                        u"is a symbolic link; readers look for the RVI file beside the name "
                        u"they open, so give the file it leads to");
  PathStatus old;
  if (const uint32_t status = placing.judge(path, replace, u"", old)) return status;
  report.links = old.exists ? old.links : 0;
  std::u16string summaryPath;
  PathStatus oldSummary;
  if (summary) {
    if (!summaryBeside(path))
      return placing.fail(KDRVX_ERR_RVI_FILE_NAME, KDRVX_PLACE_STEP_TARGET, 0, u"",
                          u"gives its RVI file no name beside it");
    summaryPath = summaryOf(path);
    if (const uint32_t status = placing.judge(summaryPath, replace, u"its RVI file ", oldSummary))
      return status;
  }
  if (staged == nullptr) return KDRVX_OK;

  const std::u16string stagedPath(staged);
  if (!platform::flushFile(staged))
    return placing.fail(KDRVX_ERR_RVX_CREATE, KDRVX_PLACE_STEP_FLUSH, platform::lastError(), u"",
                        u"cannot take the new file: it cannot be flushed to the disk");
  std::u16string stagedSummary;
  if (summary) {
    stagedSummary = summaryOf(stagedPath);
    if (const uint32_t status = placing.nameSummary(stagedSummary, summaryPath)) return status;
  }
  uint32_t status = KDRVX_OK;
  if (summary && !(old.exists && old.links > 1)) {
    status = placing.placeRecording(stagedPath, path, old, stagedSummary, summaryPath, oldSummary);
  } else {
    if (summary)
      status = placing.putInPlace(stagedSummary, summaryPath, oldSummary, u"its RVI file ",
                                  KDRVX_ERR_RVI_CREATE, KDRVX_PLACE_STEP_SUMMARY);
    if (status == KDRVX_OK)
      status = placing.putInPlace(stagedPath, path, old, u"", KDRVX_ERR_RVX_CREATE,
                                  KDRVX_PLACE_STEP_MOVE);
  }
  if (status == KDRVX_OK) platform::flushDirectoryOf(path.c_str());
  return status;
}

}  // namespace

uint32_t stagingName(const char16_t* target, uint32_t flags, char16_t* name, uint16_t capacity) {
  if (target == nullptr || target[0] == 0 || name == nullptr)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  const bool summary = (flags & KDRVX_PLACE_SUMMARY) != 0;
  std::u16string path(target);
  if (!summary && !platform::followLinks(target, path)) path = target;
  if (summary && !summaryBeside(path)) return KDRVX_ERR_RVI_FILE_NAME;
  uint32_t status = KDRVX_OK;
  const std::u16string staging = freeStagingName(path, summary, status);
  if (status != KDRVX_OK) return status;
  if (staging.size() >= capacity) return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  copyToCaller(name, capacity, staging.c_str());
  return KDRVX_OK;
}

uint32_t placeFile(const char16_t* staged, const char16_t* target, uint32_t flags,
                   KDRVX_Placement* placement) {
  if (target == nullptr || target[0] == 0 || sizeOf(placement) < kSmallestSized)
    return KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH;
  KDRVX_Placement report{};
  const uint32_t status = place(staged, target, flags, report);
  deliver(report, placement, KDRVX_ERR_RVX_PARAMETER_STRING_LENGTH);
  return status;
}

}  // namespace kdrvx::library
