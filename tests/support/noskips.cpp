// Linked into the GoogleTest programs under KRVW_NO_SKIPS (CI): a skip fails.
// ctest cannot tell, as its discovered tests count GoogleTest's skip line as a
// skip whatever else matches; so the skip gets a failure as the test ends,
// before the result printer, which hears of the end after this listener.
#include <gtest/gtest.h>

namespace {

class SkipFails : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& test) override {
        if (test.result()->Skipped())
            ADD_FAILURE() << "a skipped test fails in this build (KRVW_NO_SKIPS)";
    }
};

const bool g_installed = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new SkipFails);
    return true;
}();

} // namespace
