// node_list_bench.cc: a full host read of 1,000 peers with the node list on: time and how many
// times the profile files were parsed.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/plugin_state.h"
#include "core/settings.h"
#include "files/profile_cache.h"
#include "hostview/host_interface.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "wire/entry_command.h"

namespace {

namespace fs = std::filesystem;
constexpr int kPeers = 1000;

// One complete read as a host does it: lock, count, every record size-first, every group.
void ReadEverything(size_t* bytes) {
  pb::HostLockEntryList();
  std::vector<uint8_t> record;
  const int32_t count = pb::HostGetEntryCount();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t size = pb::HostGetEntryData(i, nullptr, 0);
    record.resize(static_cast<size_t>(size));
    *bytes += static_cast<size_t>(pb::HostGetEntryData(i, record.data(), size));
  }
  const int32_t groups = pb::HostGetGroupCount();
  for (int32_t i = 0; i < groups; ++i) {
    const int32_t size = pb::HostGetGroupData(i, nullptr, 0);
    record.resize(static_cast<size_t>(size));
    *bytes += static_cast<size_t>(pb::HostGetGroupData(i, record.data(), size));
  }
  pb::HostUnlockEntryList();
}

}  // namespace

int main() {
  const fs::path dir = fs::temp_directory_path() / "pb_node_list_bench";
  fs::create_directories(dir);
  const std::string node_list = (dir / "NodeList.ini").string();
  {
    std::ofstream out(node_list, std::ios::binary);
    out << "[GROUP]\r\nCOUNT=50\r\n";
    for (int g = 1; g <= 50; ++g) out << "GROUP" << g << "=Group" << g << "," << g / 2 << "\r\n";
    out << "[MACHINE]\r\nDEFAULT=Guest,1\r\n";
    for (int p = 0; p < kPeers; ++p) {
      out << "peer" << p << "=Person " << p << "," << (p % 50 + 1) << "&" << (p % 7 + 1) << "\r\n";
    }
  }
  const std::string user = pb::UserSectionName();
  const std::string primus =
      pb::platform::ReplaceFileName(pb::platform::ExecutablePath(), "Primus.ini");
  std::ofstream(primus, std::ios::binary)
      << "[" << user << "]\r\nNodeListPath=" << node_list << "\r\n";

  pb::g_stOrgData.entryList = pb::EntryList::Create();
  pb::g_stOrgData.peerGroups = new pb::GroupTable();
  pb::g_stOrgData.seedType = 0;
  pb::g_stOrgData.initialized = 1;
  for (int p = 0; p < kPeers; ++p) {
    uint8_t address[16] = {
        2, 0, 0x1B, 0xD9, 10, 1, static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)};
    const std::string nickname = "peer" + std::to_string(p);
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(1, 0, nickname.c_str(), "", "user", "PC", 0);
    int32_t id = pb::g_stOrgData.peerGroups->Intern(("Team" + std::to_string(p % 20)).c_str(), -1);
    pb::g_stOrgData.entryList->Upsert(address, command.data(), &id, 1);
  }

  size_t bytes = 0;
  for (int round = 0; round < 3; ++round) {
    const uint64_t parses_before = pb::ProfileSnapshotParses();
    const auto start = std::chrono::steady_clock::now();
    ReadEverything(&bytes);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    printf("full read %d: %d peers, %.2f ms, profile file parses %llu\n", round + 1, kPeers,
           std::chrono::duration<double, std::milli>(elapsed).count(),
           static_cast<unsigned long long>(pb::ProfileSnapshotParses() - parses_before));
  }
  printf("(%zu record bytes read)\n", bytes);

  // With the node list on but no file anywhere, every entry runs the whole search.
  fs::remove(primus);
  {
    const auto start = std::chrono::steady_clock::now();
    ReadEverything(&bytes);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    printf("full read without any node-list file: %.2f ms\n",
           std::chrono::duration<double, std::milli>(elapsed).count());
  }
  std::ofstream(primus, std::ios::binary)
      << "[" << user << "]\r\nNodeListPath=" << node_list << "\r\n";

  // For comparison, the same read done the uncached way, straight through the profile
  // functions: per peer four reader calls, each reading Primus.ini once and the MACHINE
  // section twice (DEFAULT, then the key); at the lock COUNT and every GROUP line.
  const auto start = std::chrono::steady_clock::now();
  char value[1024];
  int parses = 0;
  for (int g = 0; g <= 50; ++g, ++parses) {
    pb::platform::GetProfileString("GROUP", ("GROUP" + std::to_string(g)).c_str(), "error", value,
                                   256, node_list.c_str());
  }
  for (int p = 0; p < kPeers; ++p) {
    const std::string key = "peer" + std::to_string(p);
    for (int call = 0; call < 4; ++call) {
      pb::platform::GetProfileString(user.c_str(), "NodeListPath", "", value, 260, primus.c_str());
      pb::platform::GetProfileString("MACHINE", "DEFAULT", "", value, 1024, node_list.c_str());
      pb::platform::GetProfileString("MACHINE", key.c_str(), value, value, 1024, node_list.c_str());
      parses += 3;
    }
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  printf("uncached equivalent: %.2f ms, profile file parses %d\n",
         std::chrono::duration<double, std::milli>(elapsed).count(), parses);

  pb::g_stOrgData.initialized = 0;
  pb::EntryList::Destroy(pb::g_stOrgData.entryList);
  delete pb::g_stOrgData.peerGroups;
  fs::remove(primus);
  fs::remove_all(dir);
  return 0;
}
