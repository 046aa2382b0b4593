// The install path and how library names become the files that are loaded.
#include "loader/library_loader.h"
#include "test_environment.h"

#include <gtest/gtest.h>

#include <string>

namespace zelbridge {
namespace {

using test::BinaryDirectory;
using test::BinaryPath;
using test::PathSeparator;
using test::ScopedDriverScript;
using test::ScopedInstallPath;

class LibraryLoaderTest : public ::testing::Test {
protected:
    // Loads through the loader and reports which test driver answered.
    std::string LoadedTag(const char* name)
    {
        script.ClearLog();
        platform::ModuleHandle module = LoadControllerLibrary(name);
        if (!module)
            return "nothing";
        platform::CloseModule(module);
        const std::string log = script.Log();
        return log.substr(0, log.find(':'));
    }

    ScopedInstallPath installPath;
    ScopedDriverScript script;
    const std::string installFolder = BinaryDirectory() + PathSeparator() + "installed";
};

TEST_F(LibraryLoaderTest, WithoutAnInstallPathABareNameUsesTheSearchOrder)
{
    installPath.Remove();
    EXPECT_STREQ(ReadInstallPath(), "");
    EXPECT_EQ(LoadedTag("drv_full.dll"), "full");
    EXPECT_EQ(LoadedTag("drv_installed.dll"), "nothing");
}

TEST_F(LibraryLoaderTest, ABareNameIsLoadedFromTheInstallFolderOnly)
{
    installPath.Set(installFolder);
    EXPECT_EQ(ReadInstallPath(), installFolder);
    EXPECT_EQ(LoadedTag("drv_installed.dll"), "installed");
    // No second attempt by the bare name.
    EXPECT_EQ(LoadedTag("drv_full.dll"), "nothing");
}

TEST_F(LibraryLoaderTest, ANameWithASeparatorIsLoadedUnchangedWithoutReadingTheInstallPath)
{
    installPath.Set(installFolder);
    EXPECT_EQ(LoadedTag(BinaryPath("drv_full.dll").c_str()), "full");
    // Had the path been read, the change below would not be seen.
    installPath.Set(BinaryDirectory());
    EXPECT_EQ(LoadedTag("drv_full.dll"), "full");
    EXPECT_EQ(ReadInstallPath(), BinaryDirectory());
}

TEST_F(LibraryLoaderTest, TheInstallPathIsReadOnceAndKept)
{
    installPath.Set(installFolder);
    EXPECT_EQ(ReadInstallPath(), installFolder);
    installPath.Set("elsewhere");
    EXPECT_EQ(ReadInstallPath(), installFolder);
    installPath.Remove();
    EXPECT_EQ(ReadInstallPath(), installFolder);
    EXPECT_EQ(LoadedTag("drv_installed.dll"), "installed");
    // Only a refresh reads it again.
    EXPECT_STREQ(ReadInstallPath(true), "");
}

TEST_F(LibraryLoaderTest, AValueTooLongCountsAsMissingAndIsTriedAgain)
{
    installPath.Set(std::string(299, 'x'));
    EXPECT_STREQ(ReadInstallPath(), "");
    installPath.Set(std::string(259, 'y'));
    EXPECT_EQ(ReadInstallPath(), std::string(259, 'y'));
}

TEST_F(LibraryLoaderTest, AnEmptyValueCountsAsReadAndLoadsByBareName)
{
    installPath.Set("");
    EXPECT_STREQ(ReadInstallPath(), "");
    installPath.Set(installFolder);
    EXPECT_STREQ(ReadInstallPath(), "");
    EXPECT_EQ(LoadedTag("drv_full.dll"), "full");
}

TEST_F(LibraryLoaderTest, ATrailingSeparatorIsDoubledAndStillLoads)
{
    installPath.Set(installFolder + PathSeparator());
    const auto composed = ComposeLibraryPath("M318_ZEL_DLL.DLL");
    ASSERT_NE(composed, nullptr);
    EXPECT_EQ(std::string(composed.get()), installFolder + PathSeparator() + PathSeparator() + "M318_ZEL_DLL.DLL");
    EXPECT_EQ(LoadedTag("drv_installed.dll"), "installed");
}

TEST_F(LibraryLoaderTest, ComposeLibraryPathJoinsPathAndFileName)
{
    installPath.Remove();
    EXPECT_STREQ(ComposeLibraryPath("M318_ZEL_DLL.DLL").get(), "M318_ZEL_DLL.DLL");
}

TEST_F(LibraryLoaderTest, ComposeLibraryPathWithAShortPath)
{
    installPath.Set("D:QX");
    const auto composed = ComposeLibraryPath("M318_ZEL_DLL.DLL");
    EXPECT_EQ(std::string(composed.get()), std::string("D:QX") + PathSeparator() + "M318_ZEL_DLL.DLL");
    EXPECT_EQ(std::string(composed.get()).size(), 21u);
}

TEST_F(LibraryLoaderTest, AComposedNameTooLongIsRefusedNotCut)
{
    // Folder, separator and name come to 1024 characters, one too many.
    installPath.Set(installFolder);
    const std::string longName(1023 - installFolder.size(), 'n');
    EXPECT_EQ(LoadControllerLibrary(longName.c_str()), nullptr);
    EXPECT_EQ(platform::LastError(), platform::kErrorNameTooLong);
}

#if defined(_WIN32)
TEST_F(LibraryLoaderTest, AValueStoredWithoutItsZeroLosesItsLastCharacter)
{
    installPath.SetRaw(installFolder + "X");
    EXPECT_EQ(ReadInstallPath(), installFolder);
    EXPECT_EQ(LoadedTag("drv_installed.dll"), "installed");
}

TEST_F(LibraryLoaderTest, AValueOf300BytesCountsAsMissing)
{
    installPath.SetRaw(std::string(300, 'z'));
    EXPECT_STREQ(ReadInstallPath(), "");
    installPath.Set(installFolder);
    EXPECT_EQ(ReadInstallPath(), installFolder);
}
#endif

} // namespace
} // namespace zelbridge
