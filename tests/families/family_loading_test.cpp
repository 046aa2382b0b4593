// When family libraries are loaded and released: a library that appears
// later, families that share names but not libraries, and the attach and
// detach steps.
#include "family_test_support.h"

#include "families/family_binding.h"
#include "families/family_lifecycle.h"
#include "zelbridge.h"

#include <filesystem>

namespace zelbridge::test {
namespace {

namespace fs = std::filesystem;

// An empty folder next to the test programs that library files can be copied into.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& name) : path_(LibraryFolder(name))
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
        fs::create_directories(path_);
    }
    // A library still loaded cannot be deleted on Windows; the next run clears it.
    ~ScratchFolder()
    {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    void CopyLibrary(const std::string& fileName) const
    {
        fs::copy_file(LibraryFolder("families") + PathSeparator() + fileName, InFolder(path_, fileName));
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class FamilyLoadingTest : public FamilyTest {};

TEST_F(FamilyLoadingTest, ALibraryThatAppearsLaterIsLoadedByTheNextCall)
{
    const ScratchFolder folder("families_late");
    installPath.Set(folder.path());
    EXPECT_EQ(M329_IsDLLAvailable(), 0);
    EXPECT_EQ(M317_IsDLLAvailable(), 0);

    folder.CopyLibrary("M329_ZEL_DLL.DLL");
    folder.CopyLibrary("M317_ZEL_DLL.DLL");
    script.SetResult("M329_GetError", 3);
    EXPECT_EQ(M329_GetError(1), 3);
    EXPECT_EQ(M317_IsDLLAvailable(), 1);
    EXPECT_EQ(script.Log(), "installed-m329:load\ninstalled-m329:M329_GetError(1)\ninstalled-m317:load\n");
}

TEST_F(FamilyLoadingTest, OneFamilyMissingLeavesTheOthersWorking)
{
    const ScratchFolder folder("families_t5xx_only");
    folder.CopyLibrary("T5XX_ZEL_DLL.DLL");
    installPath.Set(folder.path());

    EXPECT_EQ(T520_ConnectRS232(1, 2), -1);
    script.SetResult("T5XX_ConnectRS232", 0);
    EXPECT_EQ(T5XX_ConnectRS232(1, 2), 0);
    EXPECT_EQ(T520_IsDLLAvailable(), 0);
    EXPECT_EQ(script.Log(), "installed-t5xx:load\ninstalled-t5xx:T5XX_ConnectRS232(1,2)\n");
}

TEST_F(FamilyLoadingTest, M317AndM317VbLoadTheirOwnLibrariesAlthoughTheyShareNames)
{
    installPath.Remove();
    script.SetResult("M317_Connect", 40);
    EXPECT_EQ(M317_Connect(5), 40);
    trace.Take();

    // The VB family still makes its own first load.
    EXPECT_EQ(M317_VB_Connect(6), 40);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M317_VB_Connect()\n"}) + kM317VbLines.Entry() +
                                kM317VbLines.Trying("M317_VB_ZEL_DLL.DLL") + kM317VbLines.Loaded());
    EXPECT_EQ(M317_Connect(7), 40);
    EXPECT_EQ(script.Log(), "m317:load\nm317:M317_Connect(5)\n"
                            "m317vb:load\nm317vb:M317_Connect(6)\n"
                            "m317:M317_Connect(7)\n");
}

TEST_F(FamilyLoadingTest, DetachReleasesFourFamilyLibrariesInOrder)
{
    installPath.Remove();
    for (AvailabilityCheck isAvailable : {&M329_IsDLLAvailable, &T5XX_IsDLLAvailable, &M318_IsDLLAvailable,
                                 &M317_VB_IsDLLAvailable, &M317_IsDLLAvailable, &T520_IsDLLAvailable})
        ASSERT_EQ(isAvailable(), 1);
    script.ClearLog();

    ReleaseFamilyLibrariesAtDetach();
    EXPECT_EQ(script.Log(), "m317vb:unload\nm318:unload\nt5xx:unload\nm329:unload\n");
    EXPECT_FALSE(FamilyBindingOf(Family::M329).loaded());
    EXPECT_TRUE(FamilyBindingOf(Family::M317).loaded());
    EXPECT_TRUE(FamilyBindingOf(Family::T520).loaded());

    // A second detach finds nothing left to release.
    script.ClearLog();
    ReleaseFamilyLibrariesAtDetach();
    EXPECT_EQ(script.Log(), "");
}

TEST_F(FamilyLoadingTest, ResetLeavesEveryFamilyUnloaded)
{
    installPath.Remove();
    ASSERT_EQ(M317_IsDLLAvailable(), 1);
    ASSERT_EQ(T5XX_IsDLLAvailable(), 1);
    ResetFamilyBindings();
    for (std::size_t family = 0; family < kFamilyCount; ++family)
        EXPECT_FALSE(FamilyBindingOf(static_cast<Family>(family)).loaded()) << family;

    trace.Take();
    EXPECT_EQ(M317_IsDLLAvailable(), 1);
    EXPECT_EQ(trace.Take(), kM317Lines.Entry() + kM317Lines.Loaded());
}

} // namespace
} // namespace zelbridge::test
