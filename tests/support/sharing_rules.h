// Which second open of a file succeeds while a first one holds it: the
// sharing rules every platform layer keeps, in one process as across
// processes.
#pragma once

#include "platform/platform.h"

namespace kdrvx::test {

struct SharingRule {
  platform::OpenMode first;
  platform::OpenMode second;
  bool secondOpens;
};

inline constexpr SharingRule kSharingRules[] = {
    {platform::OpenMode::ReadShared, platform::OpenMode::ReadShared, true},
    {platform::OpenMode::ReadShared, platform::OpenMode::ReadSharedUnexamined, true},
    {platform::OpenMode::ReadShared, platform::OpenMode::ReadExclusive, false},
    {platform::OpenMode::ReadShared, platform::OpenMode::OpenReadWrite, false},
    {platform::OpenMode::ReadShared, platform::OpenMode::CreateReadWrite, false},
    {platform::OpenMode::ReadExclusive, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::OpenReadWrite, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::CreateReadWrite, platform::OpenMode::ReadShared, false},
    {platform::OpenMode::OpenReadWrite, platform::OpenMode::OpenReadWrite, false},
};

}  // namespace kdrvx::test
