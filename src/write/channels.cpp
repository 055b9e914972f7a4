// Channel definition: adding channels by their variable name, the channel
// setters and the multichannel helpers.
#include <bit>

#include "format/limits.h"
#include "format/text.h"
#include "kdrvx/kdrvx.h"
#include "library/failure.h"
#include "library/state.h"
#include "library/text.h"
#include "library/trace.h"
#include "write/create.h"
#include "write/create_context.h"
#include "write/headers.h"

namespace kdrvx::write {
namespace {

using library::setLastError;

// The common course of the channel setters that can refuse: a refused null
// argument is kept as the last error without a trace, any other refusal is
// traced too.
uint32_t refusal(uint32_t status, const void* argument) {
  return argument == nullptr ? setLastError(status) : library::fail(status);
}

uint32_t setChannelText(int16_t channel, ChannelTextStore store, const char16_t* text) {
  if (uint32_t status = requireChannel(channel)) return status;
  const uint32_t status = store(headersOf(createContext()), static_cast<uint32_t>(channel), text);
  return status == KDRVX_OK ? setLastError(KDRVX_OK) : refusal(status, text);
}

}  // namespace

uint32_t addChannel(const char16_t* variable) {
  trace::Line<trace::kInfoLineCapacity>()
      .append(u"KDrvxLibrary: KDRVX_AddChannel(")
      .append(variable != nullptr ? variable : u"(null)")
      .append(u")")
      .emitIf(trace::kCalls);
  if (uint32_t status = requireCreateOpen()) return status;
  CreateContext& context = createContext();
  if (context.recordAdded) return library::fail(KDRVX_ERR_RVX_CHANNEL_ADD);
  const uint32_t count = context.header.NoChannels;
  if (uint32_t status = addChannelEntry(headersOf(context), variable))
    return refusal(status, variable);

  const uint32_t grownLength = headerImageLength(context);
  if (!writeHeaderImage(context) || !context.file.seekFromStart(0)) {
    // The channel does not count when its header did not reach the file.
    // The header as it was goes back (best effort), and what the longer one
    // added to the file is cut off, so that the records follow the header.
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
    removeLastChannel(headersOf(context));
    const uint32_t keptLength = headerImageLength(context);
    if (writeHeaderImage(context)) {
      const int64_t length = context.file.length();
      if (length > keptLength && length <= grownLength) context.file.truncate(keptLength);
    }
    context.file.seekFromStart(0);
    context.position = 0;
    return status;
  }
  context.position = 0;
  setLastError(KDRVX_OK);
  return count;
}

uint32_t setChannelVariable(int16_t channel, const char16_t* variable) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelVariable()");
  return setChannelText(channel, storeChannelVariable, variable);
}

uint32_t setChannelUnit(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelUnit()");
  return setChannelText(channel, storeChannelUnit, text);
}

uint32_t setChannelName(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelName()");
  return setChannelText(channel, storeChannelName, text);
}

uint32_t setChannelNumber(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelNumber()");
  return setChannelText(channel, storeChannelNumber, text);
}

uint32_t setChannelSignalType(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelSignalType()");
  return setChannelText(channel, storeChannelSignalType, text);
}

uint32_t setChannelZeroPoint(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelZeroPoint()");
  return setChannelText(channel, storeChannelZeroPoint, text);
}

uint32_t setChannelCalParameter(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelCalParameter()");
  return setChannelText(channel, storeChannelCalParameter, text);
}

uint32_t setChannelFilter(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelFilter()");
  return setChannelText(channel, storeChannelFilter, text);
}

uint32_t setChannelLintab(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelLintab()");
  return setChannelText(channel, storeChannelLintab, text);
}

uint32_t setChannelIndRate(int16_t channel, uint32_t divisor) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelIndRate()");
  if (uint32_t status = requireChannel(channel)) return status;
  storeChannelIndRate(headersOf(createContext()), static_cast<uint32_t>(channel), divisor);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelISDS(int16_t channel, int16_t value) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelISDS()");
  if (uint32_t status = requireChannel(channel)) return status;
  storeChannelISDS(headersOf(createContext()), static_cast<uint32_t>(channel), value);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelLinearisation(int16_t channel, int16_t value) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelLinearisation()");
  if (uint32_t status = requireChannel(channel)) return status;
  storeChannelLinearisation(headersOf(createContext()), static_cast<uint32_t>(channel), value);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelMultiChannel(int16_t channel, uint16_t bits) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelMultiChannel()");
  if (uint32_t status = requireChannel(channel)) return status;
  // Refused without a trace; success leaves the last error as it was.
  const auto index = static_cast<uint32_t>(channel);
  if (uint32_t status = storeChannelMultiChannel(headersOf(createContext()), index, bits))
    return setLastError(status);
  return KDRVX_OK;
}

uint32_t convertMultiChannelValue(float value) { return std::bit_cast<uint32_t>(value); }

}  // namespace kdrvx::write
