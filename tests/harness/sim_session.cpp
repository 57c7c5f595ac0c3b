// Scenarios and record of the simulated platform.
#include "harness/sim_session.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace quibshare::test {

SimSession::SimSession() : recordPath_(folder_.Path() + L"\\record.txt") {
  Set(L"LOG", recordPath_);
}

SimSession::~SimSession() {
  for (const std::wstring& name : names_) SetEnvironmentVariableW(name.c_str(), nullptr);
}

void SimSession::Set(const std::wstring& name, const std::wstring& value) {
  const std::wstring variable = L"QUIBSHARE_SIM_" + name;
  SetEnvironmentVariableW(variable.c_str(), value.c_str());
  names_.push_back(variable);
}

std::vector<std::wstring> SimSession::Record(const std::wstring& prefix) const {
  std::ifstream file{std::filesystem::path(recordPath_), std::ios::binary};
  std::stringstream bytes;
  bytes << file.rdbuf();
  const std::string text = bytes.str();
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const int size = MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), wide.data(), size);
    if (wide.rfind(prefix, 0) == 0) lines.push_back(wide);
  }
  return lines;
}

}  // namespace quibshare::test
