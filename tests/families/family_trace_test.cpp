// The availability check of each load style, item by item: first and second
// call, a library that is missing and one that lacks a driver function.
#include "family_test_support.h"

#include "zelbridge.h"

namespace zelbridge::test {
namespace {

class FamilyTraceTest : public FamilyTest {};

TEST_F(FamilyTraceTest, FullTraceFirstCallNamesTheComposedFileAndTheSecondSaysDllOk)
{
    installPath.Set(installedFolder);
    script.SetResult("M329_IsConnected", 17);

    EXPECT_EQ(M329_IsConnected(3), 17);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_IsConnected()\n"}) + kM329Lines.Entry() +
                                kM329Lines.Trying(InFolder(installedFolder, "M329_ZEL_DLL.DLL")) + kM329Lines.Loaded());

    EXPECT_EQ(M329_IsConnected(3), 17);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_IsConnected()\n"}) + kM329Lines.Entry() + kM329Lines.DllOk());
    EXPECT_EQ(script.Log(), "installed-m329:load\n"
                            "installed-m329:M329_IsConnected(3)\n"
                            "installed-m329:M329_IsConnected(3)\n");
}

TEST_F(FamilyTraceTest, WithoutAnInstallPathTheFullTraceLoadsAndShowsTheBareName)
{
    installPath.Remove();
    EXPECT_EQ(M317_VB_IsDLLAvailable(), 1);
    EXPECT_EQ(trace.Take(), kM317VbLines.Entry() + kM317VbLines.Trying("M317_VB_ZEL_DLL.DLL") + kM317VbLines.Loaded());
    EXPECT_EQ(script.Log(), "m317vb:load\n");
}

TEST_F(FamilyTraceTest, SharedLoaderWritesNoTryingLine)
{
    installPath.Set(installedFolder);
    script.SetResult("M317_Connect", 2);

    EXPECT_EQ(M317_Connect(9600), 2);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M317_Connect()\n"}) + kM317Lines.Entry() + kM317Lines.Loaded());

    EXPECT_EQ(M317_IsDLLAvailable(), 1);
    EXPECT_EQ(trace.Take(), kM317Lines.Entry() + kM317Lines.DllOk());
    EXPECT_EQ(script.Log(), "installed-m317:load\ninstalled-m317:M317_Connect(9600)\n");
}

TEST_F(FamilyTraceTest, ShortTraceNamesTheBareFileAndNeverSaysDllOk)
{
    installPath.Set(installedFolder);
    script.SetResult("T520_GetError", -7);

    EXPECT_EQ(T520_GetError(4), -7);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T520_GetError()\n"}) + kT520Lines.Entry() +
                                kT520Lines.Trying("T520_ZEL_DLL.DLL") + kT520Lines.Loaded());

    EXPECT_EQ(T520_GetError(4), -7);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T520_GetError()\n"}) + kT520Lines.Entry());
    // The bare name was traced, the installed library loaded.
    EXPECT_EQ(script.Log(), "installed-t520:load\ninstalled-t520:T520_GetError(4)\ninstalled-t520:T520_GetError(4)\n");
}

// What the hook below sets once the short-trace trying line has gone out.
ScopedInstallPath* installPathOnTrying = nullptr;
std::string pathOnTrying;

TEST_F(FamilyTraceTest, ShortTraceWritesItsTryingLineBeforeReadingTheInstallPath)
{
    installPath.Remove();
    installPathOnTrying = &installPath;
    pathOnTrying = installedFolder;
    // Had the path been read before the trying line, no path would be known
    // and the library next to the test program would load instead.
    trace.SetHook([](const std::string& item) {
        if (item == "ZEL: M318_IsDLLAvailable() trying to load \"")
            installPathOnTrying->Set(pathOnTrying);
    });

    EXPECT_EQ(M318_IsDLLAvailable(), 1);
    EXPECT_EQ(script.Log(), "installed-m318:load\n");
    EXPECT_EQ(trace.Take(), kM318Lines.Entry() + kM318Lines.Trying("M318_ZEL_DLL.DLL") + kM318Lines.Loaded());
}

// Every trace item leaves this in the thread's last error, as a write to a
// debugger might; a last-error line showing it was read too late.
constexpr std::uint32_t kOverwrittenError = 0x5EED;

class FailedLoadTest : public FamilyTraceTest {
protected:
    void SetUp() override
    {
        FamilyTraceTest::SetUp();
        installPath.Set(missingFolder);
        trace.SetHook([](const std::string&) { platform::SetLastError(kOverwrittenError); });
    }
};

TEST_F(FailedLoadTest, FullTraceReportsTheLastErrorTheFailedLoadLeft)
{
    const std::string composed = InFolder(missingFolder, "M329_ZEL_DLL.DLL");
    EXPECT_EQ(M329_GetError(1), FUNCTION_NOT_AVAILABLE);
    const Items items = trace.Take();

    const std::uint32_t loadError = FailedLoadError(composed);
    EXPECT_NE(loadError, kOverwrittenError);
    EXPECT_EQ(items, Items({"ZEL: M329_GetError()\n"}) + kM329Lines.Entry() + kM329Lines.Trying(composed) +
                         kM329Lines.NotFound() + kM329Lines.LastError(loadError));
}

TEST_F(FailedLoadTest, SharedLoaderReportsTheLastErrorWithoutATryingLine)
{
    EXPECT_EQ(M317_GetCurrentBoardId(0), -1);
    const Items items = trace.Take();

    const std::uint32_t loadError = FailedLoadError(InFolder(missingFolder, "M317_ZEL_DLL.DLL"));
    EXPECT_NE(loadError, kOverwrittenError);
    EXPECT_EQ(items, Items({"ZEL: M317_GetCurrentBoardId()\n"}) + kM317Lines.Entry() + kM317Lines.NotFound() +
                         kM317Lines.LastError(loadError));
}

TEST_F(FailedLoadTest, ShortTraceReportsNoLastError)
{
    EXPECT_EQ(T5XX_ConnectPciBoard(1), -1);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T5XX_ConnectPciBoard()\n"}) + kT5XXLines.Entry() +
                                kT5XXLines.Trying("T5XX_ZEL_DLL.DLL") + kT5XXLines.NotFound());
}

TEST_F(FailedLoadTest, AMissingLibraryIsLookedForAgainOnEveryCall)
{
    const Items attempt = kM318Lines.Entry() + kM318Lines.Trying("M318_ZEL_DLL.DLL") + kM318Lines.NotFound();
    for (int call = 0; call < 3; ++call) {
        EXPECT_EQ(M318_IsConnected(1), 0);
        EXPECT_EQ(trace.Take(), Items({"ZEL: M318_IsConnected()\n"}) + attempt) << "call " << call;
    }
}

class IncompleteLibraryTest : public FamilyTraceTest {
protected:
    void SetUp() override
    {
        FamilyTraceTest::SetUp();
        installPath.Set(incompleteFolder);
    }
};

TEST_F(IncompleteLibraryTest, FullTraceReleasesTheLibraryAndTriesAgainNextTime)
{
    const Items attempt = kM329Lines.Entry() + kM329Lines.Trying(InFolder(incompleteFolder, "M329_ZEL_DLL.DLL")) +
                          kM329Lines.Loaded() + kM329Lines.Incomplete();
    EXPECT_EQ(M329_ConnectRS232(1, 9600), -1);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_ConnectRS232()\n"}) + attempt);
    EXPECT_EQ(M329_IsDLLAvailable(), 0);
    EXPECT_EQ(trace.Take(), attempt);
    EXPECT_EQ(script.Log(), "incomplete-m329:load\nincomplete-m329:unload\n"
                            "incomplete-m329:load\nincomplete-m329:unload\n");
}

TEST_F(IncompleteLibraryTest, SharedLoaderReleasesALibraryThatLacksItsFirstFunction)
{
    EXPECT_EQ(M317_IsConnected(2), 0);
    EXPECT_EQ(trace.Take(),
              Items({"ZEL: M317_IsConnected()\n"}) + kM317Lines.Entry() + kM317Lines.Loaded() + kM317Lines.Incomplete());
    EXPECT_EQ(script.Log(), "incomplete-m317:load\nincomplete-m317:unload\n");
}

TEST_F(IncompleteLibraryTest, ShortTraceReleasesALibraryThatLacksItsLastFunction)
{
    char answer[8] = "unset";
    EXPECT_EQ(M318_ZelGetAnswer(1, answer, sizeof answer), 0);
    EXPECT_EQ(trace.Take(), kM318Lines.Entry() + kM318Lines.Trying("M318_ZEL_DLL.DLL") + kM318Lines.Loaded() +
                                kM318Lines.Incomplete() + Items({"ZEL: M318_ZelGetAnswer() - NO DLL!\n"}));
    EXPECT_STREQ(answer, "unset");
    EXPECT_EQ(script.Log(), "incomplete-m318:load\nincomplete-m318:unload\n");
}

TEST_F(IncompleteLibraryTest, TheVbFamilyNeedsTheM317NamesNotItsOwn)
{
    // This library exports M317_VB_Connect but not M317_Connect.
    EXPECT_EQ(M317_VB_Connect(1), -1);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M317_VB_Connect()\n"}) + kM317VbLines.Entry() +
                                kM317VbLines.Trying(InFolder(incompleteFolder, "M317_VB_ZEL_DLL.DLL")) +
                                kM317VbLines.Loaded() + kM317VbLines.Incomplete());
    EXPECT_EQ(script.Log(), "incomplete-m317vb:load\nincomplete-m317vb:unload\n");
}

TEST_F(IncompleteLibraryTest, T5xxNeedsItsT5xxSendStringNotTheEntryPointName)
{
    // This library exports T5XX_SendString but not T5XX_T5XXSendString.
    EXPECT_EQ(T5XX_SendString(1, 2), 0);
    EXPECT_EQ(T5XX_GetError(1), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(T5XX_InterfaceSetupDlg(0), -1);
    EXPECT_EQ(script.Log(), "incomplete-t5xx:load\nincomplete-t5xx:unload\n"
                            "incomplete-t5xx:load\nincomplete-t5xx:unload\n"
                            "incomplete-t5xx:load\nincomplete-t5xx:unload\n");
}

} // namespace
} // namespace zelbridge::test
