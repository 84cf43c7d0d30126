#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "history/HistoryStore.h"

// The cases every store of the history must pass; each test program instantiates them for the
// stores it has.
namespace trevane::history::testing {

// One store, empty at first; every Open() is a connection of its own to it.
class StoreUnderTest {
  public:
    virtual ~StoreUnderTest() = default;
    virtual std::unique_ptr<HistoryStore> Open() = 0;
};

struct StoreKind {
    std::string name;
    // Null when the store cannot be had here (the test is skipped, loudly, or fails in CI).
    std::function<std::unique_ptr<StoreUnderTest>()> make;
};

inline void PrintTo(const StoreKind& kind, std::ostream* out) {
    *out << kind.name;
}

class SharedStoreCases : public ::testing::TestWithParam<StoreKind> {
  protected:
    void SetUp() override;
    HistoryStore& Store() { return *store_; }
    std::unique_ptr<HistoryStore> OpenAnother() { return under_->Open(); }
    std::int64_t Add(const TestRecord& record);

  private:
    std::unique_ptr<StoreUnderTest> under_;
    std::unique_ptr<HistoryStore> store_;
};

inline std::string StoreName(const ::testing::TestParamInfo<StoreKind>& info) {
    return info.param.name;
}

}  // namespace trevane::history::testing
