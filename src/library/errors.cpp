#include "library/errors.h"

#include <iterator>

#include "kdrvx/kdrvx.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"

namespace kdrvx::library {
namespace {

struct ErrorEntry {
  uint32_t code;
  const char* name;
  const char16_t* text;  // null: the code has no text of its own
};

#define KDRVX_ERROR(name, text) {KDRVX_##name, #name, text}
constexpr ErrorEntry kErrors[] = {
    KDRVX_ERROR(ERR_RVX_NEWER_VERSION, u"RVX- file is created by newer Velocord version (>7.0)"),
    KDRVX_ERROR(ERR_RVX_INVALID_HEADER, u"The file is not a RVX- file or the header is invalid"),
    KDRVX_ERROR(ERR_RVX_STILL_OPEN_READ, u"A RVX- file is still open. Close it before open a new one."),
    KDRVX_ERROR(ERR_RVX_READ_FIRST,
                u"For using ReadNext() a ReadFirst() is necessary. This Error code is not used any more."),
    KDRVX_ERROR(ERR_RVX_NOT_OPEN_READ, u"No RVX-file is open for read."),
    KDRVX_ERROR(ERR_RVX_OPEN_READ, u"The RVX- file cannot be opened for read"),
    KDRVX_ERROR(ERR_RVX_CHN_UNKNOWN, u"Unknown channel in the RVX- file (error Index)"),
    KDRVX_ERROR(ERR_RVX_ALREADY_EXISTS, u"A RVX- file with this name already exists."),
    KDRVX_ERROR(ERR_RVX_CREATE, u"Error during creation of a RVX- file."),
    KDRVX_ERROR(ERR_RVX_STILL_OPEN_WRITE,
                u"A new RVX- file cannot be created because such a file is already open."),
    KDRVX_ERROR(ERR_RVX_NOT_OPEN_WRITE, u"No RVX- file is open for write."),
    KDRVX_ERROR(ERR_RVX_NUMBER_OF_CHANNELS, u"Too many variables."),
    KDRVX_ERROR(ERR_RVX_CHN_VAR, u"Invalid variable"),
    KDRVX_ERROR(ERR_RVX_CHN_UNIT, u"Invalid unit"),
    KDRVX_ERROR(ERR_RVX_CHN_VAR_EXISTS, u"Channel (Variable) already exists."),
    KDRVX_ERROR(ERR_RVX_CHANNEL_ADD,
                u"Append of a new variable is blocked because a data record is already add to the file."),
    KDRVX_ERROR(ERR_RVX_CHN_NAME, u"Invalid channel name"),
    KDRVX_ERROR(ERR_RVX_CHN_NUMBER, u"Invalid channel number"),
    KDRVX_ERROR(ERR_RVX_CHN_SIGNAL, u"Invalid channel signal type."),
    KDRVX_ERROR(ERR_RVX_CHN_ZERO, u"Invalid channel zero point"),
    KDRVX_ERROR(ERR_RVX_CHN_CALPARA, u"Invalid channel parameter (meas. range, calibration value,...)"),
    KDRVX_ERROR(ERR_RVX_CHN_FILTER, u"Invalid channel filter settings"),
    KDRVX_ERROR(ERR_RVX_CHN_LINTAB, u"Invalid channel linearisation"),
    KDRVX_ERROR(ERR_RVX_PARAMETER_STRING_LENGTH, u"Invalid string length of parameter."),
    KDRVX_ERROR(ERR_RVX_DATE, u"Invalid date format"),
    KDRVX_ERROR(ERR_RVX_TIME, u"Invalid time format"),
    KDRVX_ERROR(ERR_RVX_OPEN_WRITE, u"Error: Open file for write"),
    KDRVX_ERROR(ERR_RVX_OPEN_MODIFY, u"Error: Open file for modification"),
    KDRVX_ERROR(ERR_RVX_STILL_OPEN_MODIFY, u"File for modification is still open."),
    KDRVX_ERROR(ERR_RVX_MODIFY_NOT_POSSIBLE, u"File cannot be modified"),
    KDRVX_ERROR(ERR_RVX_NOT_OPEN_MODIFY, u"No RVX- file is open for modification."),
    KDRVX_ERROR(ERR_RVX_SHARING_VIOLATION, u"File is in use by other process (sharing violation)."),
    KDRVX_ERROR(ERR_RVX_DEVELOPER_VERSION, u"File is a developer version, which is not used any more"),
    KDRVX_ERROR(ERR_RVX_INVALID_ERROR_CODE, nullptr),
    KDRVX_ERROR(ERR_RVX_OLD_FORMAT,
                u"RVX File in an older format. The fast acces function cannot be used"),
    KDRVX_ERROR(ERR_RVI_FILE_NAME, u"File name for RVI- file cannot be built from the name of RVX- file"),
    KDRVX_ERROR(ERR_RVI_CREATE, u"Error create RVI- file"),
    KDRVX_ERROR(ERR_RVX_MULTICHANNEL_BITS, nullptr),
    KDRVX_ERROR(ERR_RVX_UNIT_LENGTH, nullptr),
};
#undef KDRVX_ERROR

constexpr char16_t kUnknownCodeText[] = u"Invalid error code.";

// The codes are consecutive from 0xE1000001, so the table is indexed by the
// low byte.
constexpr uint32_t kFirstCode = KDRVX_ERR_RVX_NEWER_VERSION;
static_assert(std::size(kErrors) == KDRVX_ERR_RVX_UNIT_LENGTH - kFirstCode + 1);

constexpr bool tableInCodeOrder() {
  for (size_t i = 0; i < std::size(kErrors); ++i)
    if (kErrors[i].code != kFirstCode + i) return false;
  return true;
}
static_assert(tableInCodeOrder());

const ErrorEntry* find(uint32_t status) {
  if (status < kFirstCode || status - kFirstCode >= std::size(kErrors)) return nullptr;
  return &kErrors[status - kFirstCode];
}

}  // namespace

const char* errorName(uint32_t status) {
  const ErrorEntry* entry = find(status);
  return entry == nullptr ? "" : entry->name;
}

const char16_t* errorText(uint32_t status) {
  const ErrorEntry* entry = find(status);
  return entry == nullptr ? nullptr : entry->text;
}

uint32_t getErrorString(char16_t* buffer, uint16_t capacity, uint32_t code) {
  trace::call(u"KDrvxLibrary: KDRVX_GetErrorString()");
  const char16_t* text = errorText(code);
  uint32_t result = KDRVX_OK;
  if (text == nullptr) {
    text = kUnknownCodeText;
    result = KDRVX_ERR_RVX_INVALID_ERROR_CODE;
  }
  copyToCaller(buffer, capacity, text);
  return setLastError(result);
}

}  // namespace kdrvx::library
