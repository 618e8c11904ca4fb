// host_read_bench.cc: the time of a full host read of the entry list through the exports, for
// lists of growing size, with the node list off or on.
//
//   host_read_bench --node-list off|on [--sizes 100,1000,10000] [--runs R]
//
// Runs a started plug-in instance (so it belongs in a network namespace of its own). Writes
// Peerbeacon.ini and Primus.ini beside its own executable, so copy it to a scratch directory
// first. The peers are stored the way the presence receiver stores them (groups interned,
// then the node upserted, under the entry-list lock); the read is what a host does: lock,
// every entry record size-first then filled, every group record likewise, unlock.
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "core/plugin_state.h"
#include "core/settings.h"
#include "peerbeacon.h"
#include "platform/platform.h"
#include "store/entry_list.h"
#include "store/group_table.h"
#include "tests/test_host.h"
#include "wire/entry_command.h"

namespace {

using pbbench::NowNs;
using pbbench::Result;

constexpr int kNodeListGroups = 50;

std::string Nickname(int64_t i) { return "peer" + std::to_string(i); }

bool WriteSettings(const std::string& user, bool node_list) {
  const std::string exe = pb::platform::ExecutablePath();
  const std::string settings = pb::platform::ReplaceFileName(exe, "Peerbeacon.ini");
  const std::string primus = pb::platform::ReplaceFileName(exe, "Primus.ini");
  const std::string list = pb::platform::ReplaceFileName(exe, "NodeList.ini");
  std::ofstream(settings, std::ios::binary)
      << "[" << user << "]\r\nSeedType=" << (node_list ? 0 : 4) << "\r\n";
  std::ofstream(primus, std::ios::binary)
      << "[" << user << "]\r\nNodeListPath=" << (node_list ? list : std::string()) << "\r\n";
  return true;
}

// A node list naming every peer: a display name and two of its groups each.
void WriteNodeList(int64_t peers) {
  const std::string path =
      pb::platform::ReplaceFileName(pb::platform::ExecutablePath(), "NodeList.ini");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << "[GROUP]\r\nCOUNT=" << kNodeListGroups << "\r\n";
  for (int g = 1; g <= kNodeListGroups; ++g) {
    out << "GROUP" << g << "=Site" << g << "," << g / 2 << "\r\n";
  }
  out << "[MACHINE]\r\nDEFAULT=Guest,1\r\n";
  for (int64_t p = 0; p < peers; ++p) {
    out << Nickname(p) << "=Person " << p << "," << (p % kNodeListGroups + 1) << "&" << (p % 7 + 1)
        << "\r\n";
  }
}

// Empties the list and the peer groups (ExitEntry) and stores peers as the receiver would.
bool Fill(int64_t peers) {
  ExitEntry();
  pb::EntryList* list = pb::g_stOrgData.entryList;
  pb::GroupTable* groups = pb::g_stOrgData.peerGroups;
  if (list == nullptr || groups == nullptr || list->Wait(pb::platform::kInfinite) != 1)
    return false;
  bool ok = true;
  for (int64_t i = 0; i < peers && ok; ++i) {
    const std::string group_text =
        "Dept" + std::to_string(i % 40) + ">Team" + std::to_string(i % 7) + "&All";
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(pb::kEntryUpdate, static_cast<int32_t>(i % 3 == 0),
                              Nickname(i).c_str(), group_text.c_str(), "user", "PC", 0);
    const int32_t n = pb::GroupTable::CountGroups(group_text.c_str());
    std::vector<int32_t> ids(static_cast<size_t>(n));
    groups->ParseGroups(group_text.c_str(), ids.data(), n);
    const uint8_t address[16] = {2,
                                 0,
                                 0x1B,
                                 0xD9,
                                 10,
                                 static_cast<uint8_t>(i >> 16),
                                 static_cast<uint8_t>(i >> 8),
                                 static_cast<uint8_t>(i)};
    ok = !command.empty() && list->Upsert(address, command.data(), ids.data(), n) == 1;
  }
  list->Release();
  return ok;
}

// One full host read; returns the bytes of every record, so nothing is optimised away.
int64_t ReadEverything(std::vector<uint8_t>* record) {
  int64_t bytes = 0;
  if (LockEntryList() != 1) return -1;
  const int32_t count = GetEntryCount();
  for (int32_t i = 0; i < count; ++i) {
    const int32_t size = GetEntryData(i, nullptr, 0);
    if (size <= 0) continue;
    if (record->size() < static_cast<size_t>(size)) record->resize(static_cast<size_t>(size));
    bytes += GetEntryData(i, record->data(), size);
  }
  const int32_t groups = GetGroupCount();
  for (int32_t i = 0; i < groups; ++i) {
    const int32_t size = GetGroupData(i, nullptr, 0);
    if (size <= 0) continue;
    if (record->size() < static_cast<size_t>(size)) record->resize(static_cast<size_t>(size));
    bytes += GetGroupData(i, record->data(), size);
  }
  UnlockEntryList();
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = pbbench::Option(argc, argv, "--node-list", "off");
  const bool node_list = mode == "on";
  const std::vector<int64_t> sizes =
      pbbench::ParseList(pbbench::Option(argc, argv, "--sizes", "100,1000,10000"));
  const int runs = static_cast<int>(pbbench::IntOption(argc, argv, "--runs", 7));
  const std::string user = pb::UserSectionName();
  WriteSettings(user, node_list);
  if (pb::testing_host::Initialize("host read bench", nullptr) != 1) {
    std::fprintf(stderr, "host_read_bench: the plug-in did not start\n");
    return 1;
  }
  std::vector<uint8_t> record;
  int64_t sink = 0;
  double first_per_entry = 0, last_per_entry = 0;
  for (const int64_t peers : sizes) {
    if (node_list) WriteNodeList(peers);
    if (!Fill(peers)) {
      std::fprintf(stderr, "host_read_bench: could not store %lld peers\n",
                   static_cast<long long>(peers));
      return 1;
    }
    // Small lists are read several times per sample so that a sample lasts long enough.
    const int64_t repeats = std::max<int64_t>(1, 20000 / peers);
    sink += ReadEverything(&record);  // warm-up; also lets the node list be parsed once
    LockEntryList();
    const int32_t listed = GetEntryCount();
    const int32_t group_count = GetGroupCount();
    UnlockEntryList();
    std::vector<double> per_read_us;
    for (int run = 0; run < runs; ++run) {
      const int64_t start = NowNs();
      for (int64_t r = 0; r < repeats; ++r) sink += ReadEverything(&record);
      per_read_us.push_back(static_cast<double>(NowNs() - start) / 1e3 /
                            static_cast<double>(repeats));
    }
    const double us = pbbench::Median(per_read_us);
    const double per_entry_ns = us * 1e3 / static_cast<double>(peers);
    const std::string key = "host_read." + mode + "." + std::to_string(peers) + ".";
    Result(key + "entries", listed);
    Result(key + "groups", group_count);
    Result(key + "full_read_us", us);
    Result(key + "ns_per_entry", per_entry_ns);
    if (first_per_entry == 0) first_per_entry = per_entry_ns;
    last_per_entry = per_entry_ns;
  }
  Result("host_read." + mode + ".growth",
         first_per_entry > 0 ? last_per_entry / first_per_entry : 0);
  ExitEntry();
  pb::testing_host::UnInitialize();
  std::fprintf(stderr, "(checksum %lld)\n", static_cast<long long>(sink));
  return 0;
}
