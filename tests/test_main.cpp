#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <windows.h>

#include <gtest/gtest.h>

#include "test_watchdog.h"

namespace {

// A test that runs past this many seconds has hung: VELMORA_TEST_LIMIT_SECONDS sets another limit for the long runs.
constexpr unsigned default_test_limit_seconds = 120;

// What the watchdog reads: the running test's name and start, and what it says it waits for. The name is written
// only between tests, while started_at is 0.
struct running_test {
    std::string name;
    std::atomic<ULONGLONG> started_at{0};
    std::atomic<const char*> waiting_for{nullptr};
    // Set once the tests have run: the watchdog ends before the program does, since a thread still waiting at the
    // program's exit brings it down under the emulated Wine of the build machines.
    HANDLE tests_done = nullptr;
};
running_test current;

unsigned test_limit_seconds()
{
    const char* configured = std::getenv("VELMORA_TEST_LIMIT_SECONDS");
    const unsigned long limit = configured != nullptr ? std::strtoul(configured, nullptr, 10) : 0;
    return limit != 0 ? static_cast<unsigned>(limit) : default_test_limit_seconds;
}

// Ends the program with a failure, naming the test, once one has run past the limit. The process is terminated
// rather than exited: a hung test's threads may hold what an orderly exit would wait for.
DWORD WINAPI watch_tests(void* limit_seconds) noexcept
{
    const ULONGLONG limit_ms = static_cast<ULONGLONG>(reinterpret_cast<UINT_PTR>(limit_seconds)) * 1000;
    while (WaitForSingleObject(current.tests_done, 1000) == WAIT_TIMEOUT) {
        const ULONGLONG started_at = current.started_at.load();
        if (started_at == 0 || GetTickCount64() - started_at < limit_ms)
            continue;
        const char* waiting_for = current.waiting_for.load();
        std::printf("\nwatchdog: %s has run for more than %u s; it waits for %s. Ending the program.\n",
                    current.name.c_str(), static_cast<unsigned>(limit_ms / 1000),
                    waiting_for != nullptr ? waiting_for : "nothing it has named");
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return 0;
}

class watchdog_listener final : public ::testing::EmptyTestEventListener {
public:
    void OnTestStart(const ::testing::TestInfo& test) override
    {
        current.name = std::string(test.test_suite_name()) + "." + test.name();
        current.waiting_for = nullptr;
        current.started_at = GetTickCount64();
    }
    void OnTestEnd(const ::testing::TestInfo&) override { current.started_at = 0; }
};

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

void velmora_tests::watchdog_waiting_for(const char* what) noexcept
{
    current.waiting_for = what;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::TestEventListeners& listeners = ::testing::UnitTest::GetInstance()->listeners();
    if (::testing::TestEventListener* printer = listeners.default_result_printer())
        listeners.Append(new failure_printer(listeners.Release(printer)));
    listeners.Append(new watchdog_listener);
    const unsigned limit = test_limit_seconds();
    current.tests_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const HANDLE watchdog =
        CreateThread(nullptr, 0, watch_tests, reinterpret_cast<void*>(static_cast<UINT_PTR>(limit)), 0, nullptr);
    const int status = RUN_ALL_TESTS();
    SetEvent(current.tests_done);
    if (watchdog != nullptr) {
        WaitForSingleObject(watchdog, INFINITE);
        CloseHandle(watchdog);
    }
    CloseHandle(current.tests_done);
    return status;
}
