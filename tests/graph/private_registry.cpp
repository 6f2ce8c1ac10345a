// Every graph scenario runs against a private registry (the streaming threads read their
// priorities from it), never the user's: a global test environment sets one up for the
// whole program. Tests that need a fresh one of their own still use ScopedTestRegistry.
#include <gtest/gtest.h>

#include <memory>

#include "test_registry.h"

namespace {

class PrivateRegistry : public testing::Environment {
 public:
  void SetUp() override { registry_ = std::make_unique<cehost::test::ScopedTestRegistry>(); }
  void TearDown() override { registry_.reset(); }

 private:
  std::unique_ptr<cehost::test::ScopedTestRegistry> registry_;
};

[[maybe_unused]] testing::Environment* const g_privateRegistry = testing::AddGlobalTestEnvironment(new PrivateRegistry);

}  // namespace
