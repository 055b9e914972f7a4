// Holds a file open as another program does while it runs a command, and
// exits with the command's exit status; the command's output is this
// program's. SHARE says what the holder lets others do: "none" (every
// other open is refused), "read" or "read-write" (no rename or delete).
//   hold_file SHARE FILE COMMAND [ARGUMENTS...]
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring quoted(const wchar_t* argument) {
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (const wchar_t* c = argument; *c != 0; ++c) {
    if (*c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(*c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out += *c;
  }
  out.append(backslashes * 2, L'\\');
  return out + L"\"";
}

}  // namespace

int main() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr || count < 4) {
    std::fprintf(stderr, "usage: hold_file none|read|read-write FILE COMMAND [ARGUMENTS...]\n");
    return 125;
  }
  const std::wstring share = arguments[1];
  const DWORD mode = share == L"read"         ? FILE_SHARE_READ
                     : share == L"read-write" ? FILE_SHARE_READ | FILE_SHARE_WRITE
                                              : 0;
  const HANDLE held = CreateFileW(arguments[2], GENERIC_READ | GENERIC_WRITE, mode, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_file: cannot open the file: error %lu\n", GetLastError());
    return 125;
  }
  // The held handle is not inheritable; the standard handles are.
  std::wstring command;
  for (int i = 3; i < count; ++i) command += (i > 3 ? L" " : L"") + quoted(arguments[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &process)) {
    std::fprintf(stderr, "hold_file: cannot run the command: error %lu\n", GetLastError());
    return 125;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 125;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(held);
  LocalFree(arguments);
  return static_cast<int>(status);
}
