// The document state shared by the window's parts: the ratio and its notification.
#include <gtest/gtest.h>

#include <utility>

#include "app/global_value.h"
#include "app_test_support.h"

namespace {

TEST_F(MainFormTest, SetRatioClampsAndNotifiesOnEveryCall) {
  TRatioSpy spy(form_.get());
  TGlobalValue& g = form_->Global();
  struct Row {
    int given;
    int stored;
  };
  const Row rows[] = {{3, 3}, {3, 3}, {11, 10}, {0, 1}, {-5, 1}, {10, 10}, {1, 1}};
  int previous = g.GetRatio();
  for (const Row& row : rows) {
    spy.seen.clear();
    g.SetRatio(row.given);
    EXPECT_EQ(g.GetRatio(), row.stored);
    ASSERT_EQ(spy.seen.size(), 1u) << row.given;
    EXPECT_EQ(spy.seen[0], std::make_pair(row.stored, previous)) << row.given;
    previous = row.stored;
  }
}

}  // namespace
