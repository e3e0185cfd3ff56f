#include "app/qt/open_filter.h"

#include <gtest/gtest.h>

#include "app/tform1.h"

namespace larkspur {
namespace {

TEST(OpenFilterTest, ConvertsTheWindowsFilter) {
  EXPECT_EQ(NameFiltersFromOpenFilter(kOpenFilter),
            (std::vector<std::string>{"ROFS2, UDA (*.rofs2.* *.uda.* *.language.*)", "ALL (*)"}));
}

TEST(OpenFilterTest, EdgeCases) {
  EXPECT_TRUE(NameFiltersFromOpenFilter("").empty());
  EXPECT_EQ(NameFiltersFromOpenFilter("Images|*.img;;*.bin;"),
            (std::vector<std::string>{"Images (*.img *.bin)"}));
  try {
    NameFiltersFromOpenFilter("ALL|*.*|Lone");
    FAIL() << "lone description accepted";
  } catch (const OpenFilterError& error) {
    EXPECT_STREQ(error.what(), "Open filter \"ALL|*.*|Lone\": description \"Lone\" has no patterns");
  }
  EXPECT_THROW(NameFiltersFromOpenFilter("ALL|;"), OpenFilterError);
}

TEST(OpenFilterTest, FilterIndexIsOneBasedWithFallbackToFirst) {
  EXPECT_EQ(SelectedFilterEntry(1, 2), 0);
  EXPECT_EQ(SelectedFilterEntry(2, 2), 1);
  EXPECT_EQ(SelectedFilterEntry(0, 2), 0);
  EXPECT_EQ(SelectedFilterEntry(3, 2), 0);
}

}  // namespace
}  // namespace larkspur
