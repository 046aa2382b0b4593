// The forwarding kinds: the echo lines around the call, what reaches the
// driver, and the lines and results when the family library is missing.
#include "family_test_support.h"

#include "zelbridge.h"

#include <memory>
#include <string>
#include <vector>

namespace zelbridge::test {
namespace {

// The families load from next to the test program; each test starts with the
// library it uses loaded, and the load's own lines and log taken away.
class LoadedFamilyTest : public FamilyTest {
protected:
    void SetUp() override
    {
        FamilyTest::SetUp();
        installPath.Remove();
    }
    void Load(AvailabilityCheck isAvailable)
    {
        ASSERT_EQ(isAvailable(), 1);
        trace.Take();
        script.ClearLog();
    }
};

TEST_F(LoadedFamilyTest, CommandEchoComesBeforeTheCheck)
{
    Load(&M329_IsDLLAvailable);
    script.SetResult("M329_ZelCommandset", 5);
    EXPECT_EQ(M329_ZelCommandset(7, "MOV X 10"), 5);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_ZelCommandset(", "7", ", \"", "MOV X 10", "\")\n"}) + kM329Lines.Entry() +
                                kM329Lines.DllOk());
    EXPECT_EQ(script.Log(), "m329:M329_ZelCommandset(7,\"MOV X 10\")\n");
}

TEST_F(LoadedFamilyTest, ANullCommandReachesTheDriverAndIsLeftOutOfTheEcho)
{
    Load(&M318_IsDLLAvailable);
    EXPECT_EQ(M318_ZelCommandset(2, nullptr), 0);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M318_ZelCommandset(", "2", ", \"", "\")\n"}) + kM318Lines.Entry());
    EXPECT_EQ(script.Log(), "m318:M318_ZelCommandset(2,null)\n");
}

TEST_F(LoadedFamilyTest, AnswerEchoShowsTheBufferAsTheDriverLeftItEvenOnFailure)
{
    Load(&M317_VB_IsDLLAvailable);
    script.SetAnswer("POS 12.5", 0);
    script.SetResult("M317_ZelGetAnswer", -3);
    char answer[64] = {};
    EXPECT_EQ(M317_VB_ZelGetAnswer(-2, answer, sizeof answer), -3);
    EXPECT_STREQ(answer, "POS 12.5");
    // No line before the check; the echo ends in a backslash and an "n".
    EXPECT_EQ(trace.Take(), kM317VbLines.Entry() + kM317VbLines.DllOk() +
                                Items({"ZEL: M317_VB_ZelGetAnswer(", "-2", ", ,", "64", ") => \"", "POS 12.5", "\\n"}));
    EXPECT_EQ(script.Log(), "m317vb:M317_ZelGetAnswer(-2,ptr,64)\n");
}

TEST_F(LoadedFamilyTest, AnswerEchoReadsNoFurtherThanTheCallersBuffer)
{
    Load(&M329_IsDLLAvailable);
    script.SetAnswer("ABCDEFGH", 0);
    script.script().answerUnterminated = true;
    // Exactly as large as the caller said, so that a read past it is caught.
    const std::unique_ptr<char[]> filled(new char[4]);
    EXPECT_EQ(M329_ZelGetAnswer(1, filled.get(), 4), 0);
    const std::unique_ptr<char[]> untouched(new char[2]{'Q', 'R'});
    const struct {
        char* buffer;
        int size;
        const char* echoed;
    } cases[] = {{filled.get(), 4, "ABCD"}, {filled.get(), 2, "AB"}, {untouched.get(), 0, nullptr},
                 {untouched.get(), -1, nullptr}, {nullptr, 8, nullptr}};
    for (const auto& call : cases) {
        trace.Take();
        script.SetAnswer(call.size > 0 && call.buffer == filled.get() ? "ABCDEFGH" : "", 0);
        M329_ZelGetAnswer(1, call.buffer, call.size);
        std::vector<std::string> items{"ZEL: M329_ZelGetAnswer(", "1", ", ,", std::to_string(call.size), ") => \""};
        if (call.echoed)
            items.push_back(call.echoed);
        items.push_back("\\n");
        EXPECT_EQ(trace.Take(), kM329Lines.Entry() + kM329Lines.DllOk() + Items(items)) << call.size;
    }
}

TEST_F(LoadedFamilyTest, SizeResultLineShowsWhatTheDriverStored)
{
    Load(&T520_IsDLLAvailable);
    script.SetAnswer("", 23);
    script.SetResult("T520_ZelGetAnswerSize", 1);
    int size = -1;
    EXPECT_EQ(T520_ZelGetAnswerSize(6, &size), 1);
    EXPECT_EQ(size, 23);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T520_ZelGetAnswerSize(", "6", ")\n"}) + kT520Lines.Entry() +
                                Items({"ZEL: T520_ZelGetAnswerSize() iAnswerSize = ", "23", "\n"}));
    EXPECT_EQ(script.Log(), "t520:T520_ZelGetAnswerSize(6,ptr)\n");
}

TEST_F(LoadedFamilyTest, ANullSizePointerReachesTheDriverAndSkipsTheSizeResultLine)
{
    Load(&M329_IsDLLAvailable);
    script.SetResult("M329_ZelGetAnswerSize", 4);
    EXPECT_EQ(M329_ZelGetAnswerSize(6, nullptr), 4);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_ZelGetAnswerSize(", "6", ")\n"}) + kM329Lines.Entry() + kM329Lines.DllOk());
    EXPECT_EQ(script.Log(), "m329:M329_ZelGetAnswerSize(6,null)\n");
}

TEST_F(LoadedFamilyTest, LineEchoShowsTheFirstArgumentAndCallsT5xxReadLine)
{
    Load(&T5XX_IsDLLAvailable);
    script.SetResult("T5XX_T5XXReadLine", 12);
    EXPECT_EQ(T5XX_ReadLine(5, 11, -12), 12);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T5XX_ReadLine(", "5", ")\n"}) + kT5XXLines.Entry());
    EXPECT_EQ(script.Log(), "t5xx:T5XX_T5XXReadLine(5,11,-12)\n");
}

TEST_F(LoadedFamilyTest, SilentForwardersWriteOnlyTheChecksLines)
{
    Load(&M317_IsDLLAvailable);
    script.SetResult("M317_SetQMCA", 31);
    EXPECT_EQ(M317_SetQMCA(1, 2, 3, 4, 5), 31);
    EXPECT_EQ(trace.Take(), kM317Lines.Entry() + kM317Lines.DllOk());
    Load(&T5XX_IsDLLAvailable);
    script.SetResult("T5XX_T5XXSendString", 8);
    EXPECT_EQ(T5XX_SendString(9, 10), 8);
    EXPECT_EQ(trace.Take(), kT5XXLines.Entry());
    EXPECT_EQ(script.Log(), "t5xx:T5XX_T5XXSendString(9,10)\n");
}

TEST_F(LoadedFamilyTest, CloseConnectionForwardsAndReturnsNothing)
{
    Load(&M329_IsDLLAvailable);
    M329_CloseConnection(4);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_CloseConnection()\n"}) + kM329Lines.Entry() + kM329Lines.DllOk());
    EXPECT_EQ(script.Log(), "m329:M329_CloseConnection(4)\n");
}

// Without their libraries: which forwarders add an unavailable line.
class MissingFamilyTest : public FamilyTest {
protected:
    void SetUp() override
    {
        FamilyTest::SetUp();
        installPath.Set(missingFolder);
    }

    // The failed check's lines of a full-trace family.
    Items FullTraceAttempt(const CheckLines& lines)
    {
        const std::string composed = InFolder(missingFolder, lines.fileName);
        return lines.Entry() + lines.Trying(composed) + lines.NotFound() + lines.LastError(FailedLoadError(composed));
    }
    Items ShortTraceAttempt(const CheckLines& lines)
    {
        return lines.Entry() + lines.Trying(lines.fileName) + lines.NotFound();
    }
};

TEST_F(MissingFamilyTest, OnlyFamiliesThatSaySoReportAnUnavailableCommand)
{
    EXPECT_EQ(M318_ZelCommandset(1, "X"), 0);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M318_ZelCommandset(", "1", ", \"", "X", "\")\n"}) + ShortTraceAttempt(kM318Lines));

    EXPECT_EQ(M329_ZelCommandset(1, "X"), 0);
    const Items items = trace.Take();
    EXPECT_EQ(items, Items({"ZEL: M329_ZelCommandset(", "1", ", \"", "X", "\")\n"}) + FullTraceAttempt(kM329Lines) +
                         Items({"ZEL: M329_ZelCommandset() - NO DLL!\n"}));
    EXPECT_EQ(script.Log(), "");
}

TEST_F(MissingFamilyTest, AnswerAndSizeForwardersReportTheMissingLibraryInEveryFamily)
{
    char answer[8] = "unset";
    EXPECT_EQ(T520_ZelGetAnswer(1, answer, sizeof answer), 0);
    EXPECT_STREQ(answer, "unset");
    EXPECT_EQ(trace.Take(), ShortTraceAttempt(kT520Lines) + Items({"ZEL: T520_ZelGetAnswer() - NO DLL!\n"}));

    int size = 99;
    EXPECT_EQ(T5XX_ZelGetAnswerSize(1, &size), 0);
    EXPECT_EQ(size, 99);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T5XX_ZelGetAnswerSize(", "1", ")\n"}) + ShortTraceAttempt(kT5XXLines) +
                                Items({"ZEL: T5XX_ZelGetAnswerSize() - NO DLL!\n"}));
}

TEST_F(MissingFamilyTest, LineAndSilentForwardersAddNothingToTheFailedCheck)
{
    EXPECT_EQ(T5XX_ReadLine(3, 1, 2), 0);
    EXPECT_EQ(trace.Take(), Items({"ZEL: T5XX_ReadLine(", "3", ")\n"}) + ShortTraceAttempt(kT5XXLines));

    EXPECT_EQ(M329_OpenQxStagesEditDialog(3), 0);
    const Items items = trace.Take();
    EXPECT_EQ(items, FullTraceAttempt(kM329Lines));
}

TEST_F(MissingFamilyTest, FallbacksFollowTheKindOfOperation)
{
    EXPECT_EQ(M318_InterfaceSetupDlg(1), -1);
    EXPECT_EQ(T520_ConnectNIgpib(1, 2), -1);
    EXPECT_EQ(M317_VB_GetCurrentBoardId(1), -1);
    EXPECT_EQ(M329_GetCurrentInterfaceId(1), -1);
    EXPECT_EQ(M317_GetError(1), FUNCTION_NOT_AVAILABLE);
    EXPECT_EQ(M329_IsConnected(1), 0);
    EXPECT_EQ(T5XX_TranslateError(1, 2, 3), 0);
    EXPECT_EQ(M317_SetQMC(1, 2, 3, 4), 0);
    M318_CloseConnection(1);
    EXPECT_EQ(script.Log(), "");
}

} // namespace
} // namespace zelbridge::test
