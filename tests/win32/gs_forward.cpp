// Ghostscript for the tests under Wine, installed as gs\gswin32.exe: hands
// its arguments to the build machine's gs, each Windows path (whole, or after
// "-sOutputFile=") turned into the machine's own path, and returns gs's exit
// code. Wine starts a Linux program but cannot wait for it, so gs runs under
// /bin/sh, which writes its exit code to a status file that is waited for.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using UnixNameOf = char*(CDECL*)(const wchar_t*);

std::string UnixPath(UnixNameOf convert, const std::string& path) {
  int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::vector<wchar_t> wide(static_cast<size_t>(n > 0 ? n : 1));
  MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide.data(), n);
  char* unix = convert(wide.data());
  if (!unix) return path;
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

bool IsWindowsPath(const std::string& text) {
  return text.size() > 2 && text[1] == ':' && (text[2] == '\\' || text[2] == '/');
}

}  // namespace

int main(int argc, char** argv) {
  auto convert = reinterpret_cast<UnixNameOf>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (!convert) return 127;  // not under Wine
  const std::string kOutput = "-sOutputFile=";
  char status[MAX_PATH];
  char folder[MAX_PATH];
  if (!GetTempPathA(sizeof(folder), folder) || !GetTempFileNameA(folder, "gs", 0, status))
    return 125;
  DeleteFileA(status);
  std::string line =
      "Z:\\bin\\sh -c \"gs \\\"$@\\\"; echo $? >\\\"$0\\\"\" \"" + UnixPath(convert, status) + "\"";
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.compare(0, kOutput.size(), kOutput) == 0 && IsWindowsPath(arg.substr(kOutput.size()))) {
      arg = kOutput + UnixPath(convert, arg.substr(kOutput.size()));
    } else if (IsWindowsPath(arg)) {
      arg = UnixPath(convert, arg);
    }
    line += " \"" + arg + "\"";
  }
  STARTUPINFOA info{};
  info.cb = sizeof(info);
  PROCESS_INFORMATION started{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &info,
                      &started)) {
    return 126;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  // A bounded wait: ten minutes, gs's own time limit in the program.
  for (int waited = 0; waited < 600000; waited += 50) {
    HANDLE h = CreateFileA(status, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      char text[16] = {0};
      DWORD n = 0;
      ReadFile(h, text, sizeof(text) - 1, &n, nullptr);
      CloseHandle(h);
      if (n > 0 && text[n - 1] == '\n') {
        DeleteFileA(status);
        return atoi(text);
      }
    }
    Sleep(50);
  }
  return 124;
}
