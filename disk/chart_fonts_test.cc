// The fonts that charts keep between pictures are released when the suite
// ends, so that the leak checker of the sanitizer build sees none of the
// font libraries' caches left behind.
#include <gtest/gtest.h>

#include "disk/chart_canvas.h"

namespace quarrin {
namespace {

class ReleaseChartFontsAtEnd : public testing::Environment {
 public:
  void TearDown() override { ReleaseChartFonts(); }
};

const testing::Environment* const kReleaseChartFonts =
    testing::AddGlobalTestEnvironment(new ReleaseChartFontsAtEnd);

}  // namespace
}  // namespace quarrin
