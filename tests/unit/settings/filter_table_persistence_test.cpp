// Every stored row of the filter table against the per-camera store: its range ends and its default
// survive a save and load under the row's stored name, and a stored value just outside the range loads
// as the row's default.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "persistence/settings_persistence.h"
#include "temporary_store.h"

namespace orvane::persistence {
namespace {

using settings::FilterRow;
using settings::kFilters;
using settings::StoredKey;

class FilterTablePersistenceTest : public ::testing::Test {
 protected:
  FilterTablePersistenceTest()
      : root_(std::string("Software\\Kavrin\\OrvaneFilterTableTest\\") +
              ::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
  SettingsPersistence Persistence() { return SettingsPersistence(session_, root_); }
  std::string Subkey(const FilterRow& row) const {
    return root_ + "\\" + CameraKeyName(2) + (row.key == StoredKey::kFilter ? "\\Filter" : "\\Gray");
  }

  orvane::testing::TemporarySettingsStore store_;
  platform::SettingsSession session_;
  std::string root_;
};

TEST_F(FilterTablePersistenceTest, EveryStoredRowKeepsItsRangeEndsAndDefaultUnderItsName) {
  int storedRows = 0;
  for (const FilterRow& row : kFilters) {
    if (row.key == StoredKey::kNone) continue;
    ++storedRows;
    for (int32_t value : {row.range.min, row.range.max, row.defaultValue}) {
      CameraSettings saved;
      saved.image.Set(row.id, value);
      ASSERT_TRUE(Persistence().SaveCamera(2, saved));
      EXPECT_EQ(session_.ReadDword(Subkey(row), row.storedName), value) << row.storedName;
      CameraSettings loaded;
      Persistence().LoadCamera(2, {}, {}, loaded);
      EXPECT_EQ(loaded.image.Get(row.id), value) << row.storedName;
    }
  }
  EXPECT_EQ(storedRows, 19);  // ten filter values, nine gray values
}

TEST_F(FilterTablePersistenceTest, AStoredValueJustOutsideItsRangeLoadsAsTheDefault) {
  for (const FilterRow& row : kFilters) {
    if (row.key == StoredKey::kNone) continue;
    for (int32_t outside : {row.range.min - 1, row.range.max + 1}) {
      ASSERT_TRUE(session_.CreateKey(Subkey(row)));
      ASSERT_TRUE(session_.WriteDword(Subkey(row), row.storedName, outside));
      settings::ImageValues loaded;
      loaded.Set(row.id, row.range.min == row.defaultValue ? row.range.max : row.range.min);
      if (row.key == StoredKey::kFilter) {
        ASSERT_TRUE(Persistence().LoadFilter(2, loaded));
      } else {
        ASSERT_TRUE(Persistence().LoadGray(2, loaded));
      }
      EXPECT_EQ(loaded.Get(row.id), row.defaultValue) << row.storedName << " stored " << outside;
    }
  }
}

TEST_F(FilterTablePersistenceTest, AMissingSubkeyGivesEveryRowItsDefaultAndNoOtherRowIsTouched) {
  settings::ImageValues values;
  for (const FilterRow& row : kFilters) {
    values.Set(row.id, row.range.max == row.defaultValue ? row.range.min : row.range.max);
  }
  const settings::ImageValues before = values;
  EXPECT_FALSE(Persistence().LoadFilter(3, values));
  EXPECT_FALSE(Persistence().LoadGray(3, values));
  for (const FilterRow& row : kFilters) {
    EXPECT_EQ(values.Get(row.id), row.key == StoredKey::kNone ? before.Get(row.id) : row.defaultValue) << row.id;
  }
}

TEST(FilterTable, IdsAreUniqueAndStoredNamesAreUniqueWithinTheirSubkey) {
  std::set<int> ids;
  std::set<std::pair<StoredKey, std::string>> names;
  for (const FilterRow& row : kFilters) {
    EXPECT_TRUE(ids.insert(row.id).second) << row.id;
    if (row.key == StoredKey::kNone) continue;
    ASSERT_NE(row.storedName, nullptr) << row.id;
    EXPECT_TRUE(names.insert({row.key, row.storedName}).second) << row.storedName;
    EXPECT_TRUE(row.range.Contains(row.defaultValue)) << row.storedName;
  }
}

}  // namespace
}  // namespace orvane::persistence
