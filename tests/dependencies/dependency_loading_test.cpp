// Drivers that import a library lying only beside them load, by a full path
// and from the install folder; when that library is nowhere, the load fails
// with the result, last-error value and trace lines of a plain load.
#include "family_test_support.h"

#include "zelbridge.h"

namespace zelbridge::test {
namespace {

class DependencyLoadingTest : public FamilyTest {
protected:
    const std::string besideFolder = LibraryFolder("beside");
    const std::string lackingFolder = LibraryFolder("lacking");
};

TEST_F(DependencyLoadingTest, DriversWhoseLibrariesLieBesideThemLoadAndAnswer)
{
    const std::string driver = InFolder(besideFolder, "drv_dependent.dll");
    const int system = DefineSystem(driver.c_str(), "DRV_");
    EXPECT_GE(system, 0);
    script.SetResult("DRV_ConnectRS232", 4);
    EXPECT_EQ(ConnectRS232(system, 1, 9600), system);

    installPath.Set(besideFolder);
    trace.Take();
    script.SetResult("M329_GetError", 5);
    EXPECT_EQ(M329_GetError(2), 5);
    EXPECT_EQ(trace.Take(), Items({"ZEL: M329_GetError()\n"}) + kM329Lines.Entry() +
                                kM329Lines.Trying(InFolder(besideFolder, "M329_ZEL_DLL.DLL")) + kM329Lines.Loaded());
    // The tag comes from the dependency: the drivers really called into it.
    EXPECT_EQ(script.Log(), "beside:load\nbeside:DRV_ConnectRS232(1,9600)\nbeside:load\nbeside:M329_GetError(2)\n");
}

TEST_F(DependencyLoadingTest, ADependencyFoundNowhereFailsTheLoadAsAPlainLoadDoes)
{
    const std::string driver = InFolder(lackingFolder, "drv_dependent.dll");
    EXPECT_EQ(DefineSystem(driver.c_str(), "DRV_"), -1);
    EXPECT_EQ(platform::LastError(), 126u); // ERROR_MOD_NOT_FOUND

    installPath.Set(lackingFolder);
    trace.Take();
    EXPECT_EQ(M329_IsDLLAvailable(), 0);
    EXPECT_EQ(trace.Take(), kM329Lines.Entry() + kM329Lines.Trying(InFolder(lackingFolder, "M329_ZEL_DLL.DLL")) +
                                kM329Lines.NotFound() + kM329Lines.LastError(126));
    EXPECT_EQ(script.Log(), "");
}

} // namespace
} // namespace zelbridge::test
