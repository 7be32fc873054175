// The drawing module's failure path: an image that cannot be loaded makes
// every drawing call fail with the same clear reason, never a crash. (The
// module as built is loaded by the agent tests that ask for charts and the
// popup.)
#include "agent/module_drawing.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace quarrin {
namespace {

std::string FailureOf(ModuleDrawing& drawing) {
  try {
    drawing.DrawChart("t", {}, {});
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "no failure";
}

TEST(ModuleDrawingTest, AnImageThatCannotBeLoadedFailsEveryCallWithItsReason) {
  const std::string not_elf = "MZ this is no shared object";
  struct Case {
    const char* name;
    const void* image;
    size_t size;
  } cases[] = {{"empty", nullptr, 0}, {"not ELF", not_elf.data(), not_elf.size()}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ModuleDrawing drawing(c.image, c.size);
    const std::string first = FailureOf(drawing);
    EXPECT_EQ(first.rfind("The drawing module cannot be loaded: ", 0), 0u) << first;
    EXPECT_EQ(FailureOf(drawing), first);
    EXPECT_THROW(drawing.DrawDiskMap("c", {}), std::runtime_error);
    EXPECT_THROW(drawing.NewPopupLoop(), std::runtime_error);
  }
}

}  // namespace
}  // namespace quarrin
