// When and from where the graph library is loaded, how often, and what the
// entry points give while it cannot be used.
#include "graph_test_fixture.h"

#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

namespace zelbridge::test {
namespace {

void ExpectEveryResultUnavailable(const std::vector<GraphCall>& calls)
{
    EXPECT_EQ(calls.size(), 31u);
    for (const GraphCall& call : calls)
        EXPECT_EQ(call.result, UnavailableResult(call.function)) << call.function;
}

TEST_F(GraphTest, WithoutTheLibraryCreateGivesMinusOneAndTheOthersZero)
{
    // The library next to the test programs would be found by its bare name:
    // an install path must keep the search in its own folder.
    installPath.Set(BinarySubfolder("graph-missing"));
    EXPECT_EQ(module.Get<decltype(&QXGraph3DCreate)>("QXGraph3DCreate")(1, 2), -1);
    EXPECT_EQ(module.Get<decltype(&QXGraph3DSetRange)>("QXGraph3DSetRange")(1, 2, 0.5, 1.5), 0);
    ExpectEveryResultUnavailable(CallEveryEntryPoint(1));
    EXPECT_EQ(script.Log(), "");
}

TEST_F(GraphTest, WithAnInstallPathTheLibraryIsLoadedFromThatFolder)
{
    installPath.Set(BinarySubfolder("graph-installed"));
    script.SetResult("QXGraph3DCreate", 5);
    EXPECT_EQ(module.Get<decltype(&QXGraph3DCreate)>("QXGraph3DCreate")(1, 2), 5);
    EXPECT_EQ(script.Log(), "installed:load\ninstalled:QXGraph3DCreate(1,2)\n");
}

TEST_F(GraphTest, AFailedLoadIsTriedAgainOnTheNextCall)
{
    namespace fs = std::filesystem;
    const fs::path folder = BinarySubfolder("graph-retry");
    std::error_code ignored;
    // A copy loaded by an earlier run on Windows could not be deleted then.
    fs::remove_all(folder, ignored);
    ASSERT_TRUE(fs::create_directory(folder));
    installPath.Set(folder.string());
    const auto create = module.Get<decltype(&QXGraph3DCreate)>("QXGraph3DCreate");
    script.SetResult("QXGraph3DCreate", 77);

    EXPECT_EQ(create(1, 2), -1);
    EXPECT_EQ(create(1, 2), -1);
    fs::copy_file(BinaryPath(kGraphLibraryFile), folder / kGraphLibraryFile);
    EXPECT_EQ(create(3, 4), 77);
    EXPECT_EQ(script.Log(), "graph:load\ngraph:QXGraph3DCreate(3,4)\n");
}

TEST_F(GraphTest, AnIncompleteLibraryIsLoadedOnceKeptAndNeverCalled)
{
    installPath.Set(BinarySubfolder("graph-incomplete"));
    ExpectEveryResultUnavailable(CallEveryEntryPoint(1));
    ExpectEveryResultUnavailable(CallEveryEntryPoint(2));
    EXPECT_EQ(script.Log(), "incomplete:load\n");
    EXPECT_EQ(LoadsHeldByTheModule(BinaryPath(kGraphLibraryFile, "graph-incomplete"), "incomplete"), 1);
}

TEST_F(GraphTest, TwoThreadsMakingTheFirstCallTogetherLoadTheLibraryOnce)
{
    // The first load stays in the library's initialisation long enough for
    // the other thread's call to arrive while it is under way.
    script.SetResult(kGraphLoadDelayKey, 300);
    script.SetResult("QXGraph3DCreate", 42);
    const auto create = module.Get<decltype(&QXGraph3DCreate)>("QXGraph3DCreate");
    std::atomic<int> waiting{0};
    std::atomic<bool> start{false};
    int results[2] = {};
    const auto firstCall = [&](int thread) {
        ++waiting;
        while (!start)
            std::this_thread::yield();
        results[thread] = create(thread, 0);
    };
    std::thread first(firstCall, 0);
    std::thread second(firstCall, 1);
    while (waiting < 2)
        std::this_thread::yield();
    start = true;
    first.join();
    second.join();

    EXPECT_EQ(results[0], 42);
    EXPECT_EQ(results[1], 42);
    const std::string log = script.Log();
    EXPECT_EQ(log.find("graph:load\n"), 0u) << log;
    EXPECT_NE(log.find("graph:QXGraph3DCreate(0,0)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("graph:QXGraph3DCreate(1,0)\n"), std::string::npos) << log;
    EXPECT_EQ(LoadsHeldByTheModule(BinaryPath(kGraphLibraryFile), "graph"), 1);
}

} // namespace
} // namespace zelbridge::test
