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
#include "write/fields.h"
#include "write/parse.h"

namespace kdrvx::write {
namespace {

using format::MGR_DEF;
using library::setLastError;

// Writes a parsed variable into channel entry `index` (of the compact
// header too when the file uses it).
void storeVariable(CreateContext& context, uint32_t index, const ParsedVariable& variable) {
  MGR_DEF& entry = context.header.Channel[index];
  entry.VariableLetter = variable.letter;
  entry.VariablePrefix = variable.prefix;
  entry.VariableIndex = variable.index;
  if (context.legacyLayout && index < format::kCompactMaxChannels) {
    context.compact.Channel[index].VariableLetter = variable.compactLetter;
    context.compact.Channel[index].VariableCode = variable.compactCode;
  }
}

bool sameVariable(const MGR_DEF& a, const MGR_DEF& b) {
  return a.VariableLetter == b.VariableLetter && a.VariablePrefix == b.VariablePrefix &&
         a.VariableIndex == b.VariableIndex;
}

void growHeaders(CreateContext& context) {
  context.header.HeaderSize = static_cast<uint16_t>(context.header.HeaderSize + format::kChannelRecordSize);
  context.compact.HeaderSize = static_cast<uint16_t>(context.compact.HeaderSize + format::kCompactChannelSize);
  ++context.header.NoChannels;
  ++context.compact.NoChannels;
}

void shrinkHeaders(CreateContext& context) {
  context.header.HeaderSize = static_cast<uint16_t>(context.header.HeaderSize - format::kChannelRecordSize);
  context.compact.HeaderSize = static_cast<uint16_t>(context.compact.HeaderSize - format::kCompactChannelSize);
  --context.header.NoChannels;
  --context.compact.NoChannels;
}

// How a channel text setter treats a null text and a rejected one.
enum class NullText {
  Rejected,  // null is refused; a rejected text leaves the previous one
  Clears,    // the field is emptied first; null leaves it empty and succeeds
};

template <size_t N>
uint32_t setChannelText(int16_t channel, char16_t (MGR_DEF::*field)[N], size_t limit,
                        const char16_t* text, uint32_t rejection, NullText rule) {
  if (uint32_t status = requireChannel(channel)) return status;
  auto& target = createContext().header.Channel[channel].*field;
  if (rule == NullText::Clears) clearText(target);
  if (text == nullptr)
    return setLastError(rule == NullText::Clears ? KDRVX_OK : rejection);
  const size_t length = measuredLength(text, limit);
  if (length > limit) return library::fail(rejection);
  storeText(target, text, length);
  return setLastError(KDRVX_OK);
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
  if (variable == nullptr) return setLastError(KDRVX_ERR_RVX_CHN_VAR);

  const uint32_t count = context.header.NoChannels;
  if (count >= format::kMaxChannels ||
      (context.legacyLayout && count >= format::kCompactMaxChannels))
    return library::fail(KDRVX_ERR_RVX_NUMBER_OF_CHANNELS);

  // The name is parsed into the entry beyond the last one, which counts
  // only once the name has passed.
  const ParsedVariable parsed = parseVariable(variable);
  storeVariable(context, count, parsed);
  if (!parsed.valid) return library::fail(KDRVX_ERR_RVX_CHN_VAR);
  for (uint32_t i = 0; i < count; ++i)
    if (sameVariable(context.header.Channel[i], context.header.Channel[count]))
      return library::fail(KDRVX_ERR_RVX_CHN_VAR_EXISTS);

  growHeaders(context);
  const uint32_t grownLength = headerImageLength(context);
  if (!writeHeaderImage(context) || !context.file.seekFromStart(0)) {
    // The channel does not count when its header did not reach the file.
    // The header as it was goes back (best effort), and what the longer one
    // added to the file is cut off, so that the records follow the header.
    const uint32_t status =
        library::failWithSystemError(KDRVX_ERR_RVX_OPEN_WRITE, platform::lastError());
    shrinkHeaders(context);
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
  if (uint32_t status = requireChannel(channel)) return status;
  if (variable == nullptr) return setLastError(KDRVX_ERR_RVX_CHN_VAR);
  const ParsedVariable parsed = parseVariable(variable);
  storeVariable(createContext(), static_cast<uint32_t>(channel), parsed);
  if (!parsed.valid) return library::fail(KDRVX_ERR_RVX_CHN_VAR);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelUnit(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelUnit()");
  const uint32_t status = setChannelText(channel, &MGR_DEF::ChannelUnit, format::kChannelUnitLimit,
                                         text, KDRVX_ERR_RVX_CHN_UNIT, NullText::Rejected);
  CreateContext& context = createContext();
  if (status == KDRVX_OK && context.legacyLayout && channel < static_cast<int16_t>(format::kCompactMaxChannels)) {
    const auto& unit = context.header.Channel[channel].ChannelUnit;
    storeLowBytes(context.compact.Channel[channel].ChannelUnit, unit, fieldLength(unit));
  }
  return status;
}

uint32_t setChannelName(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelName()");
  return setChannelText(channel, &MGR_DEF::ChannelName, format::kChannelNameLimit, text,
                        KDRVX_ERR_RVX_CHN_NAME, NullText::Clears);
}

uint32_t setChannelNumber(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelNumber()");
  return setChannelText(channel, &MGR_DEF::ChannelNumber, format::kChannelNumberLimit, text,
                        KDRVX_ERR_RVX_CHN_NUMBER, NullText::Rejected);
}

uint32_t setChannelSignalType(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelSignalType()");
  return setChannelText(channel, &MGR_DEF::ChannelSignalType, format::kChannelSignalTypeLimit, text,
                        KDRVX_ERR_RVX_CHN_SIGNAL, NullText::Rejected);
}

uint32_t setChannelZeroPoint(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelZeroPoint()");
  return setChannelText(channel, &MGR_DEF::ChannelZeroPoint, format::kChannelZeroPointLimit, text,
                        KDRVX_ERR_RVX_CHN_ZERO, NullText::Rejected);
}

uint32_t setChannelCalParameter(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelCalParameter()");
  return setChannelText(channel, &MGR_DEF::ChannelCalParameter, format::kChannelCalParameterLimit,
                        text, KDRVX_ERR_RVX_CHN_CALPARA, NullText::Rejected);
}

uint32_t setChannelFilter(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelFilter()");
  return setChannelText(channel, &MGR_DEF::ChannelFilter, format::kChannelFilterLimit, text,
                        KDRVX_ERR_RVX_CHN_FILTER, NullText::Clears);
}

uint32_t setChannelLintab(int16_t channel, const char16_t* text) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelLintab()");
  return setChannelText(channel, &MGR_DEF::ChannelLintab, format::kChannelLintabLimit, text,
                        KDRVX_ERR_RVX_CHN_LINTAB, NullText::Clears);
}

uint32_t setChannelIndRate(int16_t channel, uint32_t divisor) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelIndRate()");
  if (uint32_t status = requireChannel(channel)) return status;
  CreateContext& context = createContext();
  context.header.Channel[channel].ChannelIndRate = divisor;
  if (context.legacyLayout && channel < static_cast<int16_t>(format::kCompactMaxChannels))
    context.compact.Channel[channel].ChannelIndRate = static_cast<uint16_t>(divisor);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelISDS(int16_t channel, int16_t value) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelISDS()");
  if (uint32_t status = requireChannel(channel)) return status;
  createContext().header.Channel[channel].ISDS = static_cast<uint8_t>(value);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelLinearisation(int16_t channel, int16_t value) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelLinearisation()");
  if (uint32_t status = requireChannel(channel)) return status;
  createContext().header.Channel[channel].Linearisation = static_cast<uint8_t>(value);
  return setLastError(KDRVX_OK);
}

uint32_t setChannelMultiChannel(int16_t channel, uint16_t bits) {
  trace::call(u"KDrvxLibrary: KDRVX_SetChannelMultiChannel()");
  if (uint32_t status = requireChannel(channel)) return status;
  if (bits < 1 || bits > 32) return setLastError(KDRVX_ERR_RVX_MULTICHANNEL_BITS);
  // Success leaves the last error as it was.
  createContext().header.Channel[channel].MultiChannel = static_cast<uint8_t>(bits);
  return KDRVX_OK;
}

uint32_t convertMultiChannelValue(float value) { return std::bit_cast<uint32_t>(value); }

}  // namespace kdrvx::write
