// entry_list_bench.cc: prints the cost per entry of reading every entry of an EntryList by index,
// as the host does between LockEntryList and UnlockEntryList. Figures only, no assertions.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "store/entry_list.h"
#include "wire/entry_command.h"

namespace {

constexpr int kRuns = 9;

pb::EntryList* BuildList(int32_t entries) {
  pb::EntryList* list = pb::EntryList::Create();
  if (list == nullptr) return nullptr;
  const int32_t ids[3] = {0, 1, 2};
  for (int32_t i = 0; i < entries; ++i) {
    std::string nickname = "user";
    nickname += std::to_string(i);
    pb::EntryCommandBuffer command =
        pb::BuildEntryCommand(2, i % 3, nickname.c_str(), "Sales>East&Staff", "logon", "PC", 0);
    // AF_INET, port 7129 in network order, 10.x.y.z.
    uint8_t address[16] = {2, 0, 0x1B, 0xD9, 10};
    address[5] = static_cast<uint8_t>(i >> 16);
    address[6] = static_cast<uint8_t>(i >> 8);
    address[7] = static_cast<uint8_t>(i);
    if (command.empty() || list->Upsert(address, command.data(), ids, 1 + i % 3) != 1) {
      pb::EntryList::Destroy(list);
      return nullptr;
    }
  }
  return list;
}

// One full read by index; the sum keeps the calls from being optimised away.
uint64_t ReadAll(const pb::EntryList& list) {
  uint64_t sum = 0;
  char text[256];
  uint8_t address[16];
  int32_t ids[16];
  const int32_t count = list.Count();
  for (int32_t i = 0; i < count; ++i) {
    sum += static_cast<uint32_t>(list.GetDisplayName(i, text, sizeof text, nullptr));
    sum += static_cast<uint32_t>(list.GetAddress(i, address, sizeof address)) + address[7];
    const int32_t n = list.GetGroupIdCount(i);
    list.GetGroupIds(i, ids, 16);
    sum += static_cast<uint32_t>(n) + static_cast<uint32_t>(n > 0 ? ids[0] : 0);
    sum += static_cast<uint32_t>(list.GetStatus(i));
    sum += static_cast<uint32_t>(list.GetNickname(i, text, sizeof text));
    sum += static_cast<uint32_t>(list.GetLogonUser(i, text, sizeof text));
    sum += static_cast<uint32_t>(list.GetMachineName(i, text, sizeof text));
    sum += static_cast<uint32_t>(list.GetAddressText(i, text, sizeof text));
  }
  return sum;
}

}  // namespace

int main() {
  std::printf("EntryList: full read by index (8 accessors per entry), median of %d runs\n", kRuns);
  std::printf("%10s %14s %16s\n", "entries", "ns/entry", "us/full read");
  uint64_t sink = 0;
  for (int32_t entries : {100, 1000, 10000}) {
    pb::EntryList* list = BuildList(entries);
    if (list == nullptr) {
      std::printf("%10d  could not build the list\n", entries);
      return 1;
    }
    // Small lists are read many times per run so that a run lasts long enough to time.
    const int repeats = std::max(1, 100000 / entries);
    std::vector<double> per_entry;
    sink += ReadAll(*list);  // warm-up
    for (int run = 0; run < kRuns; ++run) {
      const auto start = std::chrono::steady_clock::now();
      for (int r = 0; r < repeats; ++r) sink += ReadAll(*list);
      const auto stop = std::chrono::steady_clock::now();
      const double ns = std::chrono::duration<double, std::nano>(stop - start).count();
      per_entry.push_back(ns / (static_cast<double>(repeats) * entries));
    }
    std::sort(per_entry.begin(), per_entry.end());
    const double median = per_entry[per_entry.size() / 2];
    std::printf("%10d %14.1f %16.1f\n", entries, median, median * entries / 1000.0);
    pb::EntryList::Destroy(list);
  }
  std::printf("(checksum %llu)\n", static_cast<unsigned long long>(sink));
  return 0;
}
