#include "support/read_support.h"

namespace kdrvx::test {

uint32_t ReadTest::open(const std::string& bytes, const std::string& name) {
  writeBytes(dir.file(name), bytes);
  return KDRVX_OpenRead(c(dir.wide(name)));
}

void ReadTest::writeRvi(const std::string& bytes, const std::string& name) {
  const std::string path = dir.file(name).string();
  writeBytes(path.substr(0, path.size() - 3) + "RVI", bytes);
}

namespace {
template <typename Query, typename... Args>
std::u16string delivered(size_t size, Query query, Args... args) {
  std::u16string buffer(size, u'#');
  query(reinterpret_cast<KDRVX_CHAR*>(buffer.data()), args...);
  return buffer.c_str();
}
}  // namespace

std::u16string text(HeaderTextQuery query, uint16_t capacity) {
  return delivered(capacity, query, capacity);
}

std::u16string text(ChannelTextQuery query, int16_t channel, uint16_t capacity) {
  return delivered(capacity, query, channel, capacity);
}

std::u16string text(uint32_t (*query)(KDRVX_CHAR*)) {
  return delivered(query == KDRVX_GetDate ? 11 : 10, query);
}

std::u16string variable(int16_t channel) {
  std::u16string buffer(8, u'\0');
  KDRVX_GetChannelVariable(reinterpret_cast<KDRVX_CHAR*>(buffer.data()), channel, 7);
  return buffer.c_str();
}

}  // namespace kdrvx::test
