// The tool's runs with CreateProcessW, an anonymous pipe and console events.
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "tool_runner.h"

namespace gcuproto::link::testing {

namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<std::size_t>(size > 0 ? size : 0));
  return wide;
}

// One argument as the C runtime's parser reads it back: quoted when it has
// blanks or quotes, with the backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// This process takes the console events it sends to a tool, and goes on.
BOOL WINAPI LetPass(DWORD) { return TRUE; }

HANDLE Inheritable(HANDLE handle) {
  ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

}  // namespace

struct Tool::Process {
  PROCESS_INFORMATION info{};
  HANDLE out = INVALID_HANDLE_VALUE;
};

Tool::Tool(std::vector<std::string> args) : process_(std::make_unique<Process>()) {
  const std::wstring program = std::filesystem::absolute(GCUPROTO_TOOL).make_preferred().wstring();
  std::wstring command_line = Quoted(program);
  for (const std::string& arg : args) command_line += L" " + Quoted(Wide(arg));

  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  HANDLE write_end = INVALID_HANDLE_VALUE;
  EXPECT_TRUE(::CreatePipe(&process_->out, &write_end, &inherited, 0));
  ::SetHandleInformation(process_->out, HANDLE_FLAG_INHERIT, 0);
  const HANDLE null = ::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    &inherited, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = null;
  startup.hStdOutput = write_end;
  startup.hStdError = Inheritable(reinterpret_cast<HANDLE>(::_get_osfhandle(_fileno(stderr))));
  // A console of its own, so that a console event reaches the tool alone; in
  // a process group of its own the tool would not take Ctrl-C, which is all
  // that wine sends. Under load wine now and then fails to start a program;
  // it is tried again.
  bool started = false;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    started =
        ::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                         CREATE_NEW_CONSOLE, nullptr, nullptr, &startup, &process_->info) != 0;
  }
  EXPECT_TRUE(started) << "cannot start " << GCUPROTO_TOOL << ": error " << ::GetLastError();
  ::CloseHandle(write_end);
  ::CloseHandle(null);
}

Tool::~Tool() {
  if (process_->info.hProcess != nullptr) {
    ::TerminateProcess(process_->info.hProcess, 1);
    ::WaitForSingleObject(process_->info.hProcess, INFINITE);
    ::CloseHandle(process_->info.hProcess);
    ::CloseHandle(process_->info.hThread);
  }
  ::CloseHandle(process_->out);
}

namespace {

// One byte of the pipe, waiting at most `seconds`; false at its end or when
// none came. An anonymous pipe has no timed wait, only PeekNamedPipe.
bool ReadByte(HANDLE pipe, double seconds, char* byte) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) return false;
    DWORD got = 0;
    if (available > 0) return ::ReadFile(pipe, byte, 1, &got, nullptr) && got == 1;
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(5);
  }
}

}  // namespace

std::string Tool::Line(double seconds) {
  std::string line;
  char c;
  while (ReadByte(process_->out, seconds, &c) && c != '\n') line += c;
  return line;
}

std::string Tool::Rest(double seconds) {
  std::string rest;
  char c;
  while (ReadByte(process_->out, seconds, &c)) rest += c;
  return rest;
}

// Events go to every process of the sender's console: this process joins
// the tool's for the moment of sending, and leaves it again. It keeps no
// console of its own after that; its output goes to pipes and files.
void Tool::Signal(int) {
  static const bool letting_pass = ::SetConsoleCtrlHandler(LetPass, TRUE) != 0;
  EXPECT_TRUE(letting_pass);
  ::FreeConsole();
  EXPECT_TRUE(::AttachConsole(process_->info.dwProcessId))
      << "cannot join the tool's console: error " << ::GetLastError();
  if (!::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0)) {
    EXPECT_TRUE(::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0))
        << "no console event reaches the tool: error " << ::GetLastError();
  }
  ::FreeConsole();
}

int Tool::Wait(double seconds) {
  const DWORD waited =
      ::WaitForSingleObject(process_->info.hProcess, static_cast<DWORD>(seconds * 1000));
  if (waited != WAIT_OBJECT_0) return -1;
  DWORD status = 0;
  ::GetExitCodeProcess(process_->info.hProcess, &status);
  ::CloseHandle(process_->info.hProcess);
  ::CloseHandle(process_->info.hThread);
  process_->info = PROCESS_INFORMATION{};
  return static_cast<int>(status);
}

}  // namespace gcuproto::link::testing
