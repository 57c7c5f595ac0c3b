// Measures QuibShare as a host sees it, each figure beside a floor measured in the same run.
// Usage: bench_host <folder holding QuibShare.exe and the simulated platform> <floor_gui.exe>
//        <wineserver's Linux process id, or 0>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr std::size_t Runs = 21;
constexpr DWORD CpuWindowMs = 10000;

double Now() {
  LARGE_INTEGER counter{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double CounterToMs(long long counter) {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter) / static_cast<double>(frequency.QuadPart);
}

struct Child {
  PROCESS_INFORMATION info{};
  ~Child() {
    if (info.hProcess) CloseHandle(info.hProcess);
    if (info.hThread) CloseHandle(info.hThread);
  }
};

// Started as a host would, with no standard handles: the figures are about the program.
bool Start(Child& child, const std::wstring& exe, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  return CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child.info) != FALSE;
}

DWORD RunToEnd(const std::wstring& exe, const std::wstring& arguments) {
  Child child;
  if (!Start(child, exe, arguments)) return 0xFFFFFFFF;
  WaitForSingleObject(child.info.hProcess, 60000);
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(child.info.hProcess, &code);
  return code;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::vector<std::string> RecordLines(const std::wstring& path, const std::string& prefix) {
  std::ifstream file{std::filesystem::path(path)};
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

void WaitForRecord(const std::wstring& path, const std::string& prefix) {
  for (int i = 0; i < 500 && RecordLines(path, prefix).empty(); ++i) Sleep(10);
}

// Points the simulated sheet at a record of this share's own: the worker of the share before
// may still be writing to its own record.
std::wstring NewRecord(const std::wstring& folder) {
  static unsigned records = 0;
  const std::wstring record = folder + L"\\record-" + std::to_wstring(++records) + L".txt";
  SetEnvironmentVariableW(L"QUIBSHARE_SIM_LOG", record.c_str());
  return record;
}

void Print(const char* name, double value, double floor, const char* unit) {
  std::printf("%-44s %9.2f %-6s floor %9.2f %-6s ", name, value, unit, floor, unit);
  if (floor > 0) {
    std::printf("ratio %6.2f\n", value / floor);
  } else {
    std::printf("ratio    n/a (floor below the 10 ms clock tick)\n");
  }
}

// CPU time of a Linux process, read through Wine's view of /proc (Wine's own process times
// are not kept for other processes).
double LinuxCpuMs(const std::string& linuxPid) {
  if (linuxPid.empty() || linuxPid == "0") return 0;
  std::ifstream stat("Z:\\proc\\" + linuxPid + "\\stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  // A process that has gone, or a pid that was not found, has no times to read.
  const std::size_t name = text.rfind(')');
  if (name == std::string::npos || name + 2 > text.size()) return 0;
  std::istringstream fields(text.substr(name + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) {
      stime = std::stoull(field);
      break;
    }
  }
  return static_cast<double>(utime + stime) * 10.0;  // 100 ticks a second
}

// The Linux process whose command line (Wine shows the Windows one) contains `needle`.
std::string FindLinuxPid(const std::string& needle) {
  WIN32_FIND_DATAA entry{};
  const HANDLE search = FindFirstFileA("Z:\\proc\\*", &entry);
  std::string found;
  if (search == INVALID_HANDLE_VALUE) return found;
  do {
    const std::string name = entry.cFileName;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream cmdline("Z:\\proc\\" + name + "\\cmdline");
    const std::string text((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
    if (text.find(needle) != std::string::npos && text.find("bench_host") == std::string::npos) found = name;
  } while (found.empty() && FindNextFileA(search, &entry));
  FindClose(search);
  return found;
}

struct CpuRate {
  double process;
  double server;
};

// CPU per minute of a running process (and of the Wine server) over a quiet window.
CpuRate MeasureCpu(const std::string& linuxPid, const std::string& serverPid) {
  const double process0 = LinuxCpuMs(linuxPid), server0 = LinuxCpuMs(serverPid);
  Sleep(CpuWindowMs);
  const double scale = 60000.0 / CpuWindowMs;
  return {(LinuxCpuMs(linuxPid) - process0) * scale, (LinuxCpuMs(serverPid) - server0) * scale};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: bench_host <folder> <floor_gui.exe> <wineserver pid>\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const std::wstring quibShare = folder + L"\\QuibShare.exe";
  const std::wstring floorGui = argv[2];
  const std::string serverPid(argv[3], argv[3] + wcslen(argv[3]));
  const std::wstring sample = folder + L"\\sample.txt";
  std::ofstream{std::filesystem::path(sample)} << "benchmark sample\n";
  SetEnvironmentVariableW(L"QUIBSHARE_SIM_END_AFTER", L"0");
  const std::wstring input = L"--input \"" + sample + L"\"";

  // 1. A share to exit code 0, against starting two trivial GUI programs, the second with a window;
  //    and the same share waited for to its end, which the simulated sheet reports at once.
  std::vector<double> share, twoPrograms, signalToExit, waited;
  for (std::size_t i = 0; i < Runs; ++i) {
    const std::wstring record = NewRecord(folder);
    const double start = Now();
    if (RunToEnd(quibShare, input) != 0) std::fprintf(stderr, "share %zu did not give 0\n", i);
    const double end = Now();
    share.push_back(end - start);
    WaitForRecord(record, "remove ShareCompleted");
    const std::vector<std::string> handled = RecordLines(record, "clock handled ");
    const long long counter = handled.size() == 1 ? std::strtoll(handled.back().c_str() + 14, nullptr, 10) : 0;
    if (counter > 0) signalToExit.push_back(end - CounterToMs(counter));

    const double floorStart = Now();
    RunToEnd(floorGui, L"");
    RunToEnd(floorGui, L"--window");
    twoPrograms.push_back(Now() - floorStart);

    const std::wstring waitedRecord = NewRecord(folder);
    const double waitStart = Now();
    if (RunToEnd(quibShare, input + L" --wait") != 0) std::fprintf(stderr, "waited share %zu did not give 0\n", i);
    waited.push_back(Now() - waitStart);
    WaitForRecord(waitedRecord, "remove ShareCompleted");
  }
  Print("host -> exit 0 through the simulated sheet", Median(share), Median(twoPrograms), "ms");
  Print("host -> exit 0 with --wait, completed at once", Median(waited), Median(share), "ms");
  std::printf("  (the floor of the --wait figure is the same share without --wait)\n");

  // 2. Rejected input, against one trivial program.
  std::vector<double> rejected, oneProgram;
  for (std::size_t i = 0; i < Runs; ++i) {
    double start = Now();
    RunToEnd(quibShare, L"--input \"" + folder + L"\\missing.txt\"");
    rejected.push_back(Now() - start);
    start = Now();
    RunToEnd(floorGui, L"");
    oneProgram.push_back(Now() - start);
  }
  Print("host -> exit 2 for a missing file", Median(rejected), Median(oneProgram), "ms");

  // 3. The broker's exit after the worker's signal, against a program waiting on an event.
  std::vector<double> eventToExit;
  for (std::size_t i = 0; i < Runs; ++i) {
    const std::wstring name = L"Local\\QuibShareBench" + std::to_wstring(i);
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    Child waiter;
    Start(waiter, floorGui, L"--wait " + name);
    Sleep(200);
    const double set = Now();
    SetEvent(event);
    WaitForSingleObject(waiter.info.hProcess, 10000);
    eventToExit.push_back(Now() - set);
    CloseHandle(event);
  }
  if (!signalToExit.empty()) {
    Print("broker exit after the worker's signal", Median(signalToExit), Median(eventToExit), "ms");
    std::printf("  (%zu of %zu shares measured)\n",
                signalToExit.size(), Runs);
  }

  // 4. CPU per minute of a worker with the sheet open, and awaiting a request that never comes.
  const std::wstring eventName = L"Local\\QuibPluginUi-{BE0C0000-0000-0000-0000-000000000000}";
  const HANDLE handoff = CreateEventW(nullptr, TRUE, FALSE, eventName.c_str());
  const HANDLE block = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 514,
                                          (eventName + L"-reason").c_str());
  const std::wstring workerArguments = input + L" --ui-ready-event \"" + eventName + L"\"";
  Child idle;
  Start(idle, floorGui, L"--idle");
  Sleep(500);
  const CpuRate floor = MeasureCpu(FindLinuxPid("--idle"), serverPid);
  TerminateProcess(idle.info.hProcess, 0);
  struct Phase {
    const char* name;
    const wchar_t* request;
  };
  for (const Phase phase : {Phase{"worker CPU with the sheet open", L"inside"},
                            Phase{"worker CPU awaiting the data request", L"never"}}) {
    SetEnvironmentVariableW(L"QUIBSHARE_SIM_REQUEST", phase.request);
    SetEnvironmentVariableW(L"QUIBSHARE_SIM_END", L"none");
    Child worker;
    Start(worker, quibShare, workerArguments);
    Sleep(1000);
    const CpuRate rate = MeasureCpu(FindLinuxPid("--ui-ready-event"), serverPid);
    TerminateProcess(worker.info.hProcess, 0);
    WaitForSingleObject(worker.info.hProcess, 5000);
    Print(phase.name, rate.process, floor.process, "ms/min");
    if (serverPid != "0") Print("  Wine server CPU meanwhile", rate.server, floor.server, "ms/min");
  }
  CloseHandle(block);
  CloseHandle(handoff);
  return 0;
}
