#include <cstdio>

#include <gtest/gtest.h>

namespace {

// GoogleTest's own printers also hand every failure to OutputDebugStringA, which raises an exception that the
// emulated Wine on the build machines cannot survive: the program dies at its first failure and prints nothing more.
// This printer prints failures itself and hands everything else to the printer it replaces.
class failure_printer final : public ::testing::TestEventListener {
public:
    explicit failure_printer(::testing::TestEventListener* replaced) : replaced_(replaced) {}
    failure_printer(const failure_printer&) = delete;
    failure_printer& operator=(const failure_printer&) = delete;
    ~failure_printer() override { delete replaced_; }

    void OnTestPartResult(const ::testing::TestPartResult& result) override
    {
        if (result.type() == ::testing::TestPartResult::kSuccess)
            return;
        std::printf("%s:%d: %s\n%s\n", result.file_name() != nullptr ? result.file_name() : "unknown file",
                    result.line_number(), result.skipped() ? "Skipped" : "Failure", result.message());
        std::fflush(stdout);
    }

    void OnTestProgramStart(const ::testing::UnitTest& test) override { replaced_->OnTestProgramStart(test); }
    void OnTestIterationStart(const ::testing::UnitTest& test, int iteration) override
    {
        replaced_->OnTestIterationStart(test, iteration);
    }
    void OnEnvironmentsSetUpStart(const ::testing::UnitTest& test) override
    {
        replaced_->OnEnvironmentsSetUpStart(test);
    }
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest& test) override { replaced_->OnEnvironmentsSetUpEnd(test); }
    void OnTestSuiteStart(const ::testing::TestSuite& suite) override { replaced_->OnTestSuiteStart(suite); }
    void OnTestCaseStart(const ::testing::TestCase& suite) override { replaced_->OnTestCaseStart(suite); }
    void OnTestStart(const ::testing::TestInfo& test) override { replaced_->OnTestStart(test); }
    void OnTestDisabled(const ::testing::TestInfo& test) override { replaced_->OnTestDisabled(test); }
    void OnTestEnd(const ::testing::TestInfo& test) override { replaced_->OnTestEnd(test); }
    void OnTestSuiteEnd(const ::testing::TestSuite& suite) override { replaced_->OnTestSuiteEnd(suite); }
    void OnTestCaseEnd(const ::testing::TestCase& suite) override { replaced_->OnTestCaseEnd(suite); }
    void OnEnvironmentsTearDownStart(const ::testing::UnitTest& test) override
    {
        replaced_->OnEnvironmentsTearDownStart(test);
    }
    void OnEnvironmentsTearDownEnd(const ::testing::UnitTest& test) override
    {
        replaced_->OnEnvironmentsTearDownEnd(test);
    }
    void OnTestIterationEnd(const ::testing::UnitTest& test, int iteration) override
    {
        replaced_->OnTestIterationEnd(test, iteration);
    }
    void OnTestProgramEnd(const ::testing::UnitTest& test) override { replaced_->OnTestProgramEnd(test); }

private:
    ::testing::TestEventListener* replaced_;
};

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    if (::testing::TestEventListener* printer = listeners.default_result_printer())
        listeners.Append(new failure_printer(listeners.Release(printer)));
    return RUN_ALL_TESTS();
}
