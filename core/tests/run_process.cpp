// Test support: the platform calls that start a child process (test code only, so they sit
// here rather than in the program's platform file).
#include "core/tests/run_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace fs = std::filesystem;

namespace qm::testkit {

namespace {

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Three files for the child's standard streams, removed again when the run is over.
struct StreamFiles {
  fs::path in, out, err;
  explicit StreamFiles(const std::string& input) {
    std::random_device rd;
    fs::path base =
        fs::temp_directory_path() / ("qm-run-" + std::to_string(rd()) + "-" + std::to_string(rd()));
    in = base.string() + ".in";
    out = base.string() + ".out";
    err = base.string() + ".err";
    std::ofstream(in, std::ios::binary) << input;
  }
  ~StreamFiles() {
    std::error_code ec;
    for (const auto& p : {in, out, err}) fs::remove(p, ec);
  }
};

constexpr int kPollMilliseconds = 2;

std::chrono::steady_clock::time_point deadline_of(const Command& c) {
  if (c.timeout_seconds <= 0) return std::chrono::steady_clock::time_point::max();
  return std::chrono::steady_clock::now() +
         std::chrono::milliseconds(static_cast<long long>(c.timeout_seconds * 1000));
}

#ifdef _WIN32
std::wstring wide(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

// One argument quoted so that the child's CommandLineToArgvW gives it back unchanged.
void append_quoted(std::wstring& line, const std::wstring& arg) {
  if (!line.empty()) line += L' ';
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += arg;
    return;
  }
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes count only before a quote: double them there, and escape the quote.
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

std::wstring environment_block(const std::vector<std::pair<std::string, std::string>>& changes) {
  std::vector<std::wstring> vars;
  if (wchar_t* all = GetEnvironmentStringsW()) {
    for (wchar_t* p = all; *p; p += wcslen(p) + 1) vars.emplace_back(p);
    FreeEnvironmentStringsW(all);
  }
  for (const auto& [name, value] : changes) {
    std::wstring key = wide(name) + L"=";
    std::erase_if(vars, [&](const std::wstring& v) {
      return CompareStringOrdinal(v.c_str(), static_cast<int>(key.size()), key.c_str(),
                                  static_cast<int>(key.size()), TRUE) == CSTR_EQUAL;
    });
    vars.push_back(key + wide(value));
  }
  std::wstring block;
  for (const auto& v : vars) block += v + L'\0';
  block += L'\0';
  return block;
}

HANDLE inheritable(const fs::path& p, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  return CreateFileW(p.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

Outcome start_and_wait(const Command& c, const StreamFiles& files) {
  Outcome r;
  std::wstring line;
  for (const auto& a : c.args) append_quoted(line, wide(a));
  std::wstring env = environment_block(c.env);
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = inheritable(files.in, false);
  si.hStdOutput = inheritable(files.out, true);
  si.hStdError = inheritable(files.err, true);
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           env.data(), nullptr, &si, &pi);
  for (HANDLE h : {si.hStdInput, si.hStdOutput, si.hStdError})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) return r;
  r.started = true;
  const auto deadline = deadline_of(c);
  bool killed = false;
  while (WaitForSingleObject(pi.hProcess, kPollMilliseconds) == WAIT_TIMEOUT) {
    // Windows has no signals to send; a console event reaches only a child sharing our
    // console, which a test run with its output in files has not.
    if (std::chrono::steady_clock::now() >= deadline ||
        (c.stop_when && c.stop_when(slurp(files.out)))) {
      TerminateProcess(pi.hProcess, 1);
      killed = r.stopped = true;
      break;
    }
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  if (!killed && GetExitCodeProcess(pi.hProcess, &code)) r.code = static_cast<int>(code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return r;
}
#else
Outcome start_and_wait(const Command& c, const StreamFiles& files) {
  Outcome r;
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string v(*e);
    bool replaced = false;
    for (const auto& change : c.env) replaced = replaced || v.rfind(change.first + "=", 0) == 0;
    if (!replaced) env.push_back(v);
  }
  for (const auto& [name, value] : c.env) env.push_back(name + "=" + value);
  std::vector<char*> argv, envp;
  for (const auto& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, files.in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, files.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&fa, 2, files.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return r;
  r.started = true;
  const auto deadline = deadline_of(c);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      r.stopped = true;
      waitpid(pid, &status, 0);
      break;
    }
    if (!r.stopped && c.stop_when && c.stop_when(slurp(files.out))) {
      r.stopped = true;
      kill(pid, c.stop == Command::Stop::Interrupt   ? SIGINT
                : c.stop == Command::Stop::Terminate ? SIGTERM
                                                     : SIGKILL);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMilliseconds));
  }
  if (WIFEXITED(status)) r.code = WEXITSTATUS(status);
  return r;
}
#endif

}  // namespace

Outcome run_process(const Command& c) {
  if (c.args.empty()) return {};
  StreamFiles files(c.input);
  Outcome r = start_and_wait(c, files);
  r.out = slurp(files.out);
  r.err = slurp(files.err);
  return r;
}

bool program_succeeds(const std::vector<std::string>& args) {
  Outcome r = run_process({args});
  return r.started && r.code == 0;
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::string cur;
  bool inWord = false;
  char quote = 0;
  for (char c : text) {
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        cur += c;
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(cur);
      cur.clear();
      inWord = false;
    } else {
      cur += c;
      inWord = true;
    }
  }
  if (inWord) words.push_back(cur);
  return words;
}

std::string platform_lines(std::string_view text) {
#ifdef _WIN32
  const std::string_view eol = "\r\n";
#else
  const std::string_view eol = "\n";
#endif
  std::string r;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n')
      r += eol;
    else
      r += text[i];
  }
  return r;
}

}  // namespace qm::testkit
