// The environment report's facts, from the values the check read. In-process.
#include "check/environment.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace quibshare::check {
namespace {

std::map<std::string, std::string> Facts(const Environment& environment) {
  std::map<std::string, std::string> facts;
  for (const Fact& fact : DescribeEnvironment(environment)) facts[fact.key] = fact.value;
  return facts;
}

TEST(CheckEnvironment, NamesWindowsElevenEmulationElevationAndWhatBlocksAShare) {
  Environment windows11;
  windows11.version.dwMajorVersion = 10;
  windows11.version.dwBuildNumber = 26100;
  windows11.revision = 4351;
  windows11.displayVersion = L"24H2";
  windows11.edition = L"Professional";
  windows11.installationType = L"Client";
  windows11.processMachine = L"x64";
  windows11.nativeMachine = L"ARM64";
  windows11.elevated = false;
  windows11.longPathsEnabled = 1;
  windows11.primaryDpi = 144;
  windows11.activation = S_OK;
  windows11.isSupported = true;
  windows11.desktop = true;
  const auto facts = Facts(windows11);
  EXPECT_EQ(facts.at("windows"), "Windows 11 10.0.26100.4351 (24H2)");
  EXPECT_EQ(facts.at("edition"), "Professional (Client)");
  EXPECT_EQ(facts.at("machine"), "x64 process on ARM64 (emulated)");
  EXPECT_EQ(facts.at("elevated"), "no");
  EXPECT_EQ(facts.at("longPathsEnabled"), "1");
  EXPECT_EQ(facts.at("primaryMonitorDpi"), "144 (150%)");
  EXPECT_EQ(facts.at("dataTransferManager"), "yes, IsSupported: true");
  EXPECT_EQ(facts.at("interactiveDesktop"), "yes");
  EXPECT_TRUE(LongPathsOn(windows11));

  Environment server;
  server.version.dwMajorVersion = 10;
  server.version.dwBuildNumber = 20348;
  server.processMachine = L"x64";
  server.nativeMachine = L"x64";
  server.elevated = true;
  server.activation = static_cast<HRESULT>(0x80040154);
  server.desktopNote = L"no interactive window station (a service, or no one signed in)";
  const auto serverFacts = Facts(server);
  EXPECT_EQ(serverFacts.at("windows"), "Windows 10.0.20348.0");
  EXPECT_EQ(serverFacts.at("machine"), "x64 process on x64");
  EXPECT_EQ(serverFacts.at("elevated").rfind("yes: Windows never asks an elevated process for the data", 0), 0u);
  EXPECT_EQ(serverFacts.at("longPathsEnabled"), "not set (0)");
  EXPECT_EQ(serverFacts.at("dataTransferManager"), "no (0x80040154)");
  EXPECT_EQ(serverFacts.at("interactiveDesktop"), "no: no interactive window station (a service, or no one signed in)");
  EXPECT_FALSE(LongPathsOn(server));
}

}  // namespace
}  // namespace quibshare::check
