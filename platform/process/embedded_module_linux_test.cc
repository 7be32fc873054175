#include "platform/process/embedded_module_linux.h"

#include <gtest/gtest.h>

#include <string>

// Two small modules built for this test (embedded_test_module_linux.cc).
extern "C" const unsigned char quarrin_test_module_a_begin[];
extern "C" const unsigned char quarrin_test_module_a_end[];
extern "C" const unsigned char quarrin_test_module_b_begin[];
extern "C" const unsigned char quarrin_test_module_b_end[];

namespace quarrin {
namespace {

using Entry = const char* (*)();

std::unique_ptr<EmbeddedModule> LoadTestModule(const unsigned char* begin, const unsigned char* end,
                                               EmbeddedModule::Lifetime lifetime) {
  std::string error;
  auto module = EmbeddedModule::Load("quarrin-test", begin, static_cast<size_t>(end - begin),
                                     &error, lifetime);
  EXPECT_NE(module, nullptr) << error;
  return module;
}

std::string Call(const EmbeddedModule& module, const char* entry) {
  std::string error;
  void* address = module.Symbol(entry, &error);
  if (address == nullptr) return "no " + std::string(entry) + ": " + error;
  return reinterpret_cast<Entry>(address)();
}

// A module that stays loaded must not be handed out again for a later
// module whose in-memory file gets the same descriptor number; and a module
// loaded and unloaded in turn is the right one every time.
TEST(EmbeddedModuleTest, EachLoadGetsItsOwnModule) {
  auto a = LoadTestModule(quarrin_test_module_a_begin, quarrin_test_module_a_end,
                          EmbeddedModule::Lifetime::kProcess);
  ASSERT_NE(a, nullptr);
  for (int round = 0; round < 3; ++round) {
    auto b = LoadTestModule(quarrin_test_module_b_begin, quarrin_test_module_b_end,
                            EmbeddedModule::Lifetime::kOwner);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Call(*b, "QuarrinTestModuleB"), "b") << "round " << round;
    std::string error;
    EXPECT_EQ(b->Symbol("QuarrinTestModuleA", &error), nullptr) << "round " << round;
  }
  EXPECT_EQ(Call(*a, "QuarrinTestModuleA"), "a");
}

TEST(EmbeddedModuleTest, AnImageThatIsNoModuleIsRefusedWithTheLoadersReason) {
  const unsigned char garbage[] = "not a shared object";
  std::string error;
  EXPECT_EQ(EmbeddedModule::Load("quarrin-test", garbage, sizeof garbage, &error), nullptr);
  EXPECT_NE(error.find("/proc/self/fd/"), std::string::npos) << error;
  EXPECT_EQ(EmbeddedModule::Load("quarrin-test", garbage, 0, &error), nullptr);
  EXPECT_NE(error.find("empty"), std::string::npos) << error;
}

}  // namespace
}  // namespace quarrin
