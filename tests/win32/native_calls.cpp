#include "win32/native_calls.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "config/temp_names.h"
#include "platform/platform.h"
#include "platform/process.h"
// last: its macros (DeleteFile) must not rename the platform layer's calls
#ifndef NOMINMAX
#define NOMINMAX
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winspool.h>  // after <windows.h>, whose types it uses

namespace win32test {

namespace {

char kEnvironment[] = "Windows x64";

std::wstring Wide(const std::string& utf8) {
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring text(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &text[0], n);
  text.resize(text.size() - 1);
  return text;
}

// This test binary's full name (the real one, whatever the tests set as
// the program's name).
std::string TestProgram() {
  char name[MAX_PATH * 4];
  DWORD n = GetModuleFileNameA(nullptr, name, sizeof(name));
  return std::string(name, n);
}

// The spooler's calls take the texts they only read as char*.
char* Chars(const std::string& text) { return const_cast<char*>(text.c_str()); }

int CounterHelper(const std::string& folder, const std::string& out, int count) {
  platform::SetModuleFileNameForTesting(folder + "\\tarvelin");
  std::ofstream names(out, std::ios::binary);
  for (int i = 0; i < count; ++i) {
    char name[MAX_PATH];
    CountedTempFileName(sizeof(name), name, ".pdf");
    names << name << "\n";
  }
  return names.good() ? 0 : 1;
}

// Holds the file open for writing, others may only read it, with a
// byte-range lock over all of it, as a program that edits it may.
int LockFileHelper(const std::string& path, const std::string& ready) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, 0, nullptr);
  OVERLAPPED whole{};
  if (h == INVALID_HANDLE_VALUE ||
      !LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole)) {
    return 1;
  }
  platform::WriteFileAtomically(ready, "locked");
  Sleep(INFINITE);
  return 0;
}

// A run that holds the lock and starts a page tool with it, then waits to
// be killed; the tool's process id is announced.
int HoldAndStartHelper(const std::string& path, const std::string& ready) {
  platform::FileLock lock(path);
  platform::ChildProcess tool;
  int error = 0;
  if (!lock.Held() || !platform::StartChildProcess(HelperCommand({"sleep", "60000"}), false, &tool,
                                                   &error, lock.NativeHandle())) {
    return 1;
  }
  platform::WriteFileAtomically(ready, std::to_string(tool.pid));
  Sleep(INFINITE);
  return 0;
}

}  // namespace

uint32_t AddPrinterWithDriver(const std::string& printer, const std::string& port,
                              const std::string& driver) {
  char module[] = "wineps.drv", processor[] = "WinPrint", datatype[] = "RAW";
  DRIVER_INFO_3A info{};
  info.cVersion = 3;
  info.pName = Chars(driver);
  info.pEnvironment = kEnvironment;
  info.pDriverPath = info.pDataFile = info.pConfigFile = module;
  if (!AddPrinterDriverA(nullptr, 3, reinterpret_cast<BYTE*>(&info))) return GetLastError();
  PRINTER_INFO_2A record{};
  record.pPrinterName = Chars(printer);
  record.pPortName = Chars(port);
  record.pDriverName = Chars(driver);
  record.pPrintProcessor = processor;
  record.pDatatype = datatype;
  HANDLE added = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&record));
  if (!added) return GetLastError();
  ClosePrinter(added);
  return 0;
}

void RemovePrinterAndDriver(const std::string& printer, const std::string& driver) {
  HANDLE handle = nullptr;
  PRINTER_DEFAULTSA access{nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (OpenPrinterA(Chars(printer), &handle, &access)) {
    DeletePrinter(handle);
    ClosePrinter(handle);
  }
  DeletePrinterDriverA(nullptr, kEnvironment, Chars(driver));
}

std::string PrinterRecordText(const std::string& printer) {
  HANDLE handle = nullptr;
  if (!OpenPrinterA(Chars(printer), &handle, nullptr)) return "";
  DWORD needed = 0;
  GetPrinterA(handle, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed ? needed : 1);
  std::string text;
  if (GetPrinterA(handle, 2, buffer.data(), needed, &needed)) {
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer.data());
    auto field = [](const char* value) { return std::string(value ? value : "") + "|"; };
    char attributes[16];
    std::snprintf(attributes, sizeof(attributes), "%lx",
                  static_cast<unsigned long>(info->Attributes));
    text = field(info->pPortName) + field(info->pDriverName) + field(info->pComment) +
           field(info->pPrintProcessor) + field(info->pDatatype) + attributes;
  }
  ClosePrinter(handle);
  return text;
}

void DeleteMachineKey(const std::string& key) { RegDeleteTreeA(HKEY_LOCAL_MACHINE, key.c_str()); }

std::string HelperCommand(const std::vector<std::string>& words) {
  std::vector<std::string> all = {TestProgram(), "--helper"};
  all.insert(all.end(), words.begin(), words.end());
  std::string line;
  platform::JoinCommandLine(all, &line);
  return line;
}

bool WaitForFile(const std::string& path, int timeoutMs, std::string* contents) {
  for (int waited = 0; waited <= timeoutMs; waited += 20) {
    if (platform::ReadWholeFile(path, contents)) return true;
    Sleep(20);
  }
  return false;
}

bool EndProcess(long pid) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (!process) return false;
  bool ended = TerminateProcess(process, 1) && WaitForSingleObject(process, 10000) == 0;
  CloseHandle(process);
  return ended;
}

bool CopyToWideName(const std::string& from, const std::string& utf8To) {
  std::wstring to = L"\\\\?\\" + Wide(utf8To);
  for (size_t pos = to.find(L'\\', 7); pos != std::wstring::npos; pos = to.find(L'\\', pos + 1)) {
    CreateDirectoryW(to.substr(0, pos).c_str(), nullptr);
  }
  return CopyFileW(Wide(from).c_str(), to.c_str(), FALSE) != 0;
}

std::string AnsiText(const std::string& utf8, bool* exact) {
  std::wstring wide = Wide(utf8);
  BOOL replaced = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, &replaced);
  std::string text(static_cast<size_t>(n > 0 ? n : 1), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &text[0], n, nullptr, &replaced);
  text.resize(text.size() - 1);
  *exact = !replaced;
  return text;
}

bool WideNameExists(const std::string& utf8Name) {
  std::wstring name = L"\\\\?\\" + Wide(utf8Name);
  return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int RunHelper(int argc, char** argv) {
  if (argc < 3 || std::string(argv[1]) != "--helper") return -1;
  std::string name = argv[2];
  std::vector<std::string> args(argv + 3, argv + argc);
  if (name == "counter" && args.size() == 3) {
    return CounterHelper(args[0], args[1], std::atoi(args[2].c_str()));
  }
  if (name == "lock-file" && args.size() == 2) return LockFileHelper(args[0], args[1]);
  if (name == "hold-and-start" && args.size() == 2) return HoldAndStartHelper(args[0], args[1]);
  if (name == "sleep" && args.size() == 1) {
    Sleep(static_cast<DWORD>(std::atoi(args[0].c_str())));
    return 0;
  }
  std::fprintf(stderr, "unknown helper %s\n", name.c_str());
  return 2;
}

}  // namespace win32test
