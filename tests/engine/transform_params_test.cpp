// The table of the transforms' parameters against the front ends' own tables: every range
// admits its default and its starting value, and every kavun-cli option and every field of the
// window's panel stands for exactly one parameter (and every parameter has one of each).

#include "engine/transform_params.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>

#include "app/panel_table.h"
#include "cli/options.h"

namespace kavun {
namespace {

TEST(TransformParams, EveryRangeAdmitsItsDefaultAndEveryFrontEndWordMapsToOneParameter) {
  std::map<std::pair<std::string, int>, int> cliPlaces;  // (option, place) -> parameters
  std::map<std::string, int> fieldNames;                 // component name -> parameters
  std::map<TParamId, int> cliRows;
  std::map<TParamId, int> fieldRows;
  for (const cli::TCliParam& c : cli::kCliParams) {
    ++cliPlaces[{c.Option, c.Index}];
    ++cliRows[c.Param];
  }
  for (const mainform::TNumberFieldRow& f : mainform::kNumberFieldRows) {
    ++fieldNames[f.Name];
    ++fieldRows[f.Param];
  }
  for (const TNumericParam& p : kNumericParams) {
    SCOPED_TRACE(p.Name);
    EXPECT_LE(p.Low, p.DefaultOnExit);
    EXPECT_LE(p.DefaultOnExit, p.High);
    EXPECT_LE(p.Low, p.Initial);
    EXPECT_LE(p.Initial, p.High);
    EXPECT_EQ(cliRows[p.Id], 1);
    EXPECT_EQ(fieldRows[p.Id], 1);
    EXPECT_EQ(cli::CliParam(p.Id).Param, p.Id);
    EXPECT_EQ(mainform::NumberFieldRow(p.Id).Param, p.Id);
  }
  for (const auto& [place, count] : cliPlaces) {
    EXPECT_EQ(count, 1) << place.first << " place " << place.second;
  }
  for (const auto& [name, count] : fieldNames) EXPECT_EQ(count, 1) << name;
  // The places of an option's value are 0, 1, ... without a gap.
  std::map<std::string, std::set<int>> places;
  for (const cli::TCliParam& c : cli::kCliParams) places[c.Option].insert(c.Index);
  for (const auto& [option, indices] : places) {
    EXPECT_EQ(*indices.rbegin() + 1, static_cast<int>(indices.size())) << option;
  }
  // Every XOR mode has one --mode name and one button; the default is each front end's first.
  for (const TXorMode& m : kXorModes) {
    SCOPED_TRACE(m.Name);
    int names = 0;
    int buttons = 0;
    for (const cli::TCliXorMode& c : cli::kCliXorModes) names += c.Mode == m.Mode ? 1 : 0;
    for (const mainform::TXorButtonRow& b : mainform::kXorButtonRows) {
      buttons += b.Mode == m.Mode ? 1 : 0;
    }
    EXPECT_EQ(names, 1);
    EXPECT_EQ(buttons, 1);
  }
  EXPECT_EQ(cli::kCliXorModes[0].Mode, kDefaultXorMode);
}

}  // namespace
}  // namespace kavun
