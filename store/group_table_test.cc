// group_table_test.cc: GroupTable: the worked examples in order, escapes, capacities,
// empty names, Clear, large tables and the out-of-memory results.
#include "store/group_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "store/alloc_failure_for_test.h"

namespace pb {
namespace {

struct Group {
  std::string name;
  int32_t parent;
  bool operator==(const Group&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Group& g) {
  return os << "{\"" << g.name << "\", " << g.parent << "}";
}

// prefix followed by the decimal number (built by appending: GCC 12 warns falsely on
// "literal" + std::string at -O2).
std::string Numbered(char prefix, int32_t number) {
  std::string text(1, prefix);
  text += std::to_string(number);
  return text;
}

std::vector<Group> Contents(const GroupTable& table) {
  std::vector<Group> groups;
  for (int32_t i = 0; i < table.Count(); ++i) {
    const char* name = table.GetName(i);
    groups.push_back({name == nullptr ? "<null>" : name, table.GetParent(i)});
  }
  return groups;
}

// ParseGroups with capacity = result, as the presence receiver calls it.
std::vector<int32_t> Parse(GroupTable& table, const char* text, int32_t* result) {
  const int32_t n = GroupTable::CountGroups(text);
  std::vector<int32_t> ids(n > 0 ? static_cast<size_t>(n) : 0, -99);
  *result = table.ParseGroups(text, ids.empty() ? nullptr : ids.data(), n);
  return ids;
}

TEST(GroupTable, WorkedExamplesInOrder) {
  struct Step {
    const char* text;
    int32_t result;
    std::vector<Group> added;
    std::vector<int32_t> ids;
  };
  const std::vector<Step> steps = {
      {"A>B&E", 2, {{"A", -1}, {"B", 0}, {"E", -1}}, {1, 2}},
      {"E&A>B>D", 2, {{"D", 1}}, {2, 3}},
      {"R&&D>Q&>A", 1, {{"R&D", -1}, {"Q>A", 4}}, {5}},
      {"B", 1, {{"B", -1}}, {6}},
      {"A&", 1, {{"", -1}}, {0}},
      {"&", 1, {}, {7}},
      {"A>>B", 1, {{"", 0}, {"B", 8}}, {9}},
      {"", 0, {}, {}},
  };
  GroupTable table;
  std::vector<Group> expected;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.text);
    int32_t result = -1;
    EXPECT_EQ(Parse(table, step.text, &result), step.ids);
    EXPECT_EQ(result, step.result);
    expected.insert(expected.end(), step.added.begin(), step.added.end());
    EXPECT_EQ(Contents(table), expected);
  }
  EXPECT_EQ(table.Count(), 10);
}

TEST(GroupTable, CountGroups) {
  EXPECT_EQ(GroupTable::CountGroups(nullptr), 0);
  EXPECT_EQ(GroupTable::CountGroups(""), 0);
  EXPECT_EQ(GroupTable::CountGroups("A"), 1);
  EXPECT_EQ(GroupTable::CountGroups("A&B"), 2);
  EXPECT_EQ(GroupTable::CountGroups("A&B&C"), 3);
  EXPECT_EQ(GroupTable::CountGroups("A&"), 1);
  EXPECT_EQ(GroupTable::CountGroups("&"), 1);
  EXPECT_EQ(GroupTable::CountGroups("&A"), 2);
  EXPECT_EQ(GroupTable::CountGroups("A&&B"), 1);
  EXPECT_EQ(GroupTable::CountGroups("A&>B"), 1);
  EXPECT_EQ(GroupTable::CountGroups("A&&&B"), 2);
  EXPECT_EQ(GroupTable::CountGroups("&&&"), 1);
  EXPECT_EQ(GroupTable::CountGroups("A>B>C"), 1);
  EXPECT_EQ(GroupTable::CountGroups("A&&"), 1);
}

TEST(GroupTable, EscapesNeverSplit) {
  GroupTable table;
  int32_t ids[2] = {-99, -99};
  EXPECT_EQ(table.ParseGroups("A&&B", ids, 2), 1);
  EXPECT_EQ(Contents(table), (std::vector<Group>{{"A&B", -1}}));
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(ids[1], -99);

  EXPECT_EQ(table.ParseGroups("A&>B", ids, 2), 1);
  EXPECT_EQ(Contents(table), (std::vector<Group>{{"A&B", -1}, {"A>B", -1}}));
  EXPECT_EQ(ids[0], 1);

  // "A&&&B": the escaped '&' ends the first name, the next '&' separates.
  EXPECT_EQ(table.ParseGroups("A&&&B", ids, 2), 2);
  EXPECT_EQ(ids[0], 2);
  EXPECT_EQ(ids[1], 3);
  EXPECT_STREQ(table.GetName(2), "A&");
  EXPECT_STREQ(table.GetName(3), "B");
}

TEST(GroupTable, NamesAreCaseSensitive) {
  GroupTable table;
  EXPECT_EQ(table.Intern("Sales", -1), 0);
  EXPECT_EQ(table.Intern("sales", -1), 1);
  EXPECT_EQ(table.Intern("Sales", -1), 0);
  EXPECT_EQ(table.Count(), 2);
}

TEST(GroupTable, SameNameUnderDifferentParentsIsAnotherGroup) {
  GroupTable table;
  EXPECT_EQ(table.Intern("A", -1), 0);
  EXPECT_EQ(table.Intern("B", 0), 1);
  EXPECT_EQ(table.Intern("B", -1), 2);
  EXPECT_EQ(table.Intern("B", 0), 1);
  EXPECT_EQ(table.Intern("B", 1), 3);
  EXPECT_EQ(table.GetParent(3), 1);
}

TEST(GroupTable, ParentOutsideTheTableIsStoredAsTopLevel) {
  GroupTable table;
  EXPECT_EQ(table.Intern("A", 5), 0);
  EXPECT_EQ(table.GetParent(0), -1);
  EXPECT_EQ(table.Intern("B", 1), 1);  // 1 is nextId itself: outside
  EXPECT_EQ(table.GetParent(1), -1);
  EXPECT_EQ(table.Intern("A", -7), 0);  // the same group as (A, -1), not a duplicate
  EXPECT_EQ(table.Intern("A", 99), 0);
  EXPECT_EQ(table.Count(), 2);
}

TEST(GroupTable, NullNameIsTheEmptyName) {
  GroupTable table;
  EXPECT_EQ(table.Intern(nullptr, -1), 0);
  EXPECT_EQ(table.Intern("", -1), 0);
  EXPECT_STREQ(table.GetName(0), "");
}

TEST(GroupTable, CapacitySmallerThanCountStillInternsEverything) {
  GroupTable table;
  int32_t ids[4] = {-99, -99, -99, -99};
  EXPECT_EQ(table.ParseGroups("X&Y>Z&W", ids, 1), 3);
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(ids[1], -99);
  EXPECT_EQ(Contents(table), (std::vector<Group>{{"X", -1}, {"Y", -1}, {"Z", 1}, {"W", -1}}));

  EXPECT_EQ(table.ParseGroups("P&Q", ids, 0), 2);
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(table.ParseGroups("R&S", ids, -1), 2);
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(table.ParseGroups("T&U", nullptr, 2), 2);
  EXPECT_EQ(table.Count(), 10);
}

TEST(GroupTable, EmptyNamesAndTrailingSeparator) {
  GroupTable table;
  int32_t ids[3] = {-99, -99, -99};
  // A separator at the start opens an empty name; "&&" and "&>" after it are escapes.
  EXPECT_EQ(table.ParseGroups("&A&&&>", ids, 3), 2);
  EXPECT_EQ(Contents(table), (std::vector<Group>{{"", -1}, {"A&>", -1}}));
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], -99);

  GroupTable levels;
  EXPECT_EQ(levels.ParseGroups(">", ids, 3), 1);
  EXPECT_EQ(Contents(levels), (std::vector<Group>{{"", -1}, {"", 0}}));
  EXPECT_EQ(ids[0], 1);

  // A trailing '&' interns one more, empty, top-level group whose id is not written with
  // capacity = count; with a larger capacity it is written as well.
  GroupTable trailing;
  int32_t more[3] = {-99, -99, -99};
  EXPECT_EQ(trailing.ParseGroups("A&B&", more, 3), 2);
  EXPECT_EQ(Contents(trailing), (std::vector<Group>{{"A", -1}, {"B", -1}, {"", -1}}));
  EXPECT_EQ(more[0], 0);
  EXPECT_EQ(more[1], 1);
  EXPECT_EQ(more[2], 2);
  int32_t exact[2] = {-99, -99};
  EXPECT_EQ(trailing.ParseGroups("A&B&", exact, 2), 2);
  EXPECT_EQ(exact[0], 0);
  EXPECT_EQ(exact[1], 1);
}

TEST(GroupTable, NullTextGivesZero) {
  GroupTable table;
  int32_t id = -99;
  EXPECT_EQ(table.ParseGroups(nullptr, &id, 1), 0);
  EXPECT_EQ(table.ParseGroups("", &id, 1), 0);
  EXPECT_EQ(id, -99);
  EXPECT_EQ(table.Count(), 0);
}

TEST(GroupTable, BadIndexes) {
  GroupTable table;
  EXPECT_EQ(table.GetName(0), nullptr);
  EXPECT_EQ(table.GetParent(0), -1);
  table.Intern("A", -1);
  EXPECT_EQ(table.GetName(1), nullptr);
  EXPECT_EQ(table.GetName(-1), nullptr);
  EXPECT_EQ(table.GetParent(1), -1);
  EXPECT_EQ(table.GetParent(-1), -1);
  EXPECT_EQ(table.GetParent(INT32_MIN), -1);
}

TEST(GroupTable, ClearStartsIdsAgainAtZero) {
  GroupTable table;
  int32_t result = 0;
  Parse(table, "A>B&C", &result);
  EXPECT_EQ(table.Count(), 3);
  EXPECT_EQ(table.Clear(), 1);
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(table.GetName(0), nullptr);
  EXPECT_EQ(table.Intern("Z", -1), 0);
  EXPECT_STREQ(table.GetName(0), "Z");
  EXPECT_EQ(table.Intern("A", -1), 1);  // the old A is gone
  EXPECT_EQ(table.Clear(), 1);
  EXPECT_EQ(table.Clear(), 1);
}

TEST(GroupTable, ThousandsOfGroupsKeepIdsAndLookups) {
  GroupTable table;
  constexpr int32_t kGroups = 20000;
  for (int32_t i = 0; i < kGroups; ++i) {
    const std::string name = Numbered('g', i % 1000);
    ASSERT_EQ(table.Intern(name.c_str(), i < 1000 ? -1 : i - 1000), i);
  }
  for (int32_t i = kGroups - 1; i >= 0; --i) {
    const std::string name = Numbered('g', i % 1000);
    ASSERT_EQ(table.Intern(name.c_str(), i < 1000 ? -1 : i - 1000), i);
    ASSERT_EQ(table.GetName(i), name);
  }
  EXPECT_EQ(table.Count(), kGroups);
}

// --- Out of memory -------------------------------------------------------------------------

TEST(GroupTableOutOfMemory, InternFailsWithoutUsingUpAnId) {
  // Every single allocation of Intern in turn fails once; then all of them fail from each point.
  for (bool persistent : {false, true}) {
    GroupTable table;
    table.Intern("A", -1);
    table.Intern("B", 0);
    for (long k = 0;; ++k) {
      int32_t id;
      long failures;
      {
        test::ScopedAllocationFailure failure(k, persistent);
        id = table.Intern("C", 1);
        failures = failure.failures();
      }
      if (failures == 0) {
        EXPECT_EQ(id, 2);
        break;
      }
      ASSERT_EQ(id, -1) << k;
      ASSERT_EQ(table.Count(), 2) << k;
      ASSERT_LT(k, 100);
    }
    EXPECT_EQ(Contents(table), (std::vector<Group>{{"A", -1}, {"B", 0}, {"C", 1}}));
    EXPECT_EQ(table.Intern("C", 1), 2);
  }
}

TEST(GroupTableOutOfMemory, ManyInternsUnderFailureStayConsistent) {
  // Growth of the index and the node array fails at every point in turn.
  for (long k = 0; k < 200; ++k) {
    GroupTable table;
    int32_t next = 0;
    for (int32_t i = 0; i < 40; ++i) {
      const std::string name = Numbered('n', i);
      int32_t id;
      {
        test::ScopedAllocationFailure failure(i == 20 ? k : 1000000, false);
        id = table.Intern(name.c_str(), -1);
      }
      if (id == -1) {
        ASSERT_EQ(table.Count(), next);
        id = table.Intern(name.c_str(), -1);
      }
      ASSERT_EQ(id, next);
      ++next;
    }
    for (int32_t i = 0; i < 40; ++i) {
      ASSERT_EQ(table.Intern(Numbered('n', i).c_str(), -1), i);
    }
  }
}

TEST(GroupTableOutOfMemory, WorkingBufferFailureInternsAndWritesNothing) {
  GroupTable table;
  int32_t ids[2] = {-99, -99};
  {
    test::ScopedAllocationFailure failure(0);
    EXPECT_EQ(table.ParseGroups("A>B&C", ids, 2), 2);
  }
  EXPECT_EQ(table.Count(), 0);
  EXPECT_EQ(ids[0], -99);
  EXPECT_EQ(ids[1], -99);
}

TEST(GroupTableOutOfMemory, FailedLevelBecomesParentMinusOne) {
  GroupTable table;
  int32_t ids[2] = {-99, -99};
  {
    // Allocation 0 is the working buffer; allocation 1 is the first of Intern("A").
    test::ScopedAllocationFailure failure(1, false);
    EXPECT_EQ(table.ParseGroups("A>B&C", ids, 2), 2);
  }
  // A failed; B was interned as a top-level group; C as usual.
  EXPECT_EQ(Contents(table), (std::vector<Group>{{"B", -1}, {"C", -1}}));
  EXPECT_EQ(ids[0], 0);
  EXPECT_EQ(ids[1], 1);

  GroupTable none;
  {
    test::ScopedAllocationFailure failure(1, true);
    EXPECT_EQ(none.ParseGroups("A>B&C", ids, 2), 2);
  }
  EXPECT_EQ(none.Count(), 0);
  EXPECT_EQ(ids[0], -1);
  EXPECT_EQ(ids[1], -1);
}

}  // namespace
}  // namespace pb
