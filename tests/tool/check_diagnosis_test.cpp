// `zelbridge check` run as a user runs it on libraries that do not load: each
// reason named with the file, in text and in JSON, broken files refused
// without a crash, and the overview of every library the module uses.
#include "test_environment.h"
#include "tool_runner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace zelbridge::test {
namespace {

using Arguments = std::vector<std::string>;

#if defined(_WIN32)
constexpr char kNotALibrary[] = "is not a Windows DLL";
constexpr char kNoun[] = "DLL";
constexpr char kFirstFolderRole[] = "(the application's folder)";
// Where the install path is read from, and the type a path and raw bytes get there.
#if defined(_WIN64)
constexpr char kInstallPathSource[] = "HKEY_LOCAL_MACHINE\\Software\\QX\\Zelbridge, value Path (64-bit view): ";
#else
// The win32 tests run in a 32-bit prefix, which has one registry view.
constexpr char kInstallPathSource[] = "HKEY_LOCAL_MACHINE\\Software\\QX\\Zelbridge, value Path: ";
#endif
constexpr char kPathType[] = "REG_SZ";
constexpr char kRawType[] = "REG_BINARY";
#else
constexpr char kNotALibrary[] = "is not an ELF shared library";
constexpr char kNoun[] = "shared library";
constexpr char kFirstFolderRole[] = "(the tool's run path)";
constexpr char kInstallPathSource[] = "ZELBRIDGE_PATH: ";
constexpr char kPathType[] = "environment variable";
constexpr char kRawType[] = "environment variable";
#endif

constexpr bool k64Bit = sizeof(void*) == 8;
const std::string kThisArchitecture = k64Bit ? "64-bit (x86-64)" : "32-bit (i686)";
// The fixture of the other architecture: the other Windows one, or a 32-bit ELF file.
const std::string kOtherArchitecture = k64Bit ? "32-bit (i686)" : "64-bit (x86-64)";

::testing::AssertionResult Contains(const std::string& text, const std::string& part)
{
    if (text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}


std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

std::uint32_t ReadWord(const std::string& bytes, std::size_t at, std::size_t size)
{
    std::uint32_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
    return value;
}

void WriteWord(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes.at(at + i) = static_cast<char>(value >> (8 * i));
}

// Files the tests write next to the tool for the life of the object: broken
// copies of a small real DLL, an empty file and a text file, all named .dll.
class BrokenFiles {
public:
    BrokenFiles()
    {
        const std::string sample = ReadBytes(BinaryPath("zel_pe_sample.dll"));
        const std::size_t pe = ReadWord(sample, 0x3c, 4);
        const std::size_t optional = pe + 24;
        // Cut inside the optional header, before its size of the headers.
        Write("zel_truncated.dll", sample.substr(0, optional + 30));

        std::string outside = sample;
        const std::size_t directories = optional + (ReadWord(sample, optional, 2) == 0x10b ? 96 : 112);
        WriteWord(outside, directories + 8, 0x7fff0000);
        Write("zel_imports_outside.dll", outside);

        // The name of the imported library, and all after it, without a zero.
        std::string unterminated = sample;
        const std::size_t name = unterminated.find("KERNEL32.dll");
        EXPECT_NE(name, std::string::npos);
        unterminated.replace(name, std::string::npos, unterminated.size() - name, 'A');
        Write("zel_unterminated_name.dll", unterminated);

        Write("zel_empty.dll", "");
        Write("zel_not_a_library.dll", "This is a text file, not a library.\n");
    }

    ~BrokenFiles()
    {
        for (const std::string& path : written_)
            std::remove(path.c_str());
    }

private:
    void Write(const char* name, const std::string& bytes)
    {
        written_.push_back(BinaryPath(name));
        std::ofstream(written_.back(), std::ios::binary) << bytes;
    }

    std::vector<std::string> written_;
};

class CheckDiagnosis : public ::testing::Test {
protected:
    CheckDiagnosis() { installPath.Remove(); }

    static Arguments Driver(const char* file) { return {"check", "--driver", file, "--prefix", "ZEL_"}; }

    static std::string Folder(const char* name) { return BinaryDirectory() + PathSeparator() + name; }

    ScopedInstallPath installPath;
};

TEST_F(CheckDiagnosis, EachReasonALibraryDoesNotLoadIsNamedWithItsFile)
{
    const BrokenFiles files;
    const struct {
        Arguments arguments;
        const char* installFolder;
        // Each in the text; the first is the problem's kind in JSON.
        std::vector<std::string> text;
        const char* kind;
    } cases[] = {
        {Driver("zel_nowhere.dll"), nullptr,
         {"Loaded:           no, error ", "Why:              " + std::string("zel_nowhere.dll") + " is not found in:\n",
          BinaryDirectory() + " " + kFirstFolderRole + "\n"},
         "not-found"},
        {{"check", "--family", "T520"}, "installed",
         {"T520_ZEL_DLL.DLL is not found in:\n                    " + Folder("installed") + " (the install folder)\n"},
         "not-found"},
        {Driver("zel_other_arch.dll"), nullptr,
         {std::string("zel_other_arch.dll") + " is a " + kOtherArchitecture + " " + kNoun + "; " ZELBRIDGE_LOADED_MODULE " is " +
          kThisArchitecture + "\n"},
         "wrong-architecture"},
        // Bytes that JSON escapes, and one that is not UTF-8.
        {Driver("zel_\"odd\x01\xe9.dll"), nullptr, {std::string("zel_\"odd\x01\xe9.dll") + " is not found in:\n"}, "not-found"},
        {Driver("zel_not_a_library.dll"), nullptr, {std::string("zel_not_a_library.dll") + " " + kNotALibrary}, "not-a-library"},
        {Driver("zel_needs_absent.dll"), nullptr,
         {std::string("zel_needs_absent.dll") + " needs zel_absent.dll, which is not found in:\n",
          BinaryDirectory() + " " + kFirstFolderRole + "\n"},
         "not-found"},
#if defined(_WIN32)
        // A library beside the driver serves it: the load is tried again with
        // the driver's folder searched, and check says so. It then fails for
        // want of operations.
        {Driver("zel_needs_absent.dll"), "fixtures_beside",
         {"Loaded:           yes\nNote:             loads only with its own folder searched for its dependencies "
          "(zel_absent.dll lies beside it); Zelbridge loads it that way\n"},
         nullptr},
#else
        {Driver("zel_needs_absent.dll"), "fixtures_beside",
         {"A copy is at " + Folder("fixtures_beside") + PathSeparator() + "zel_absent.dll, but "}, "not-found"},
#endif
#if defined(_WIN32)
        // Windows refuses it with error 127; Wine loads it with a stub in the
        // function's place. Either way the tool names the function.
        {Driver("zel_needs_function.dll"), nullptr,
         {std::string("zel_needs_function.dll") + " imports ZelWithdrawn from ",
          "zel_provider.dll, which does not export it\n"},
         "missing-function"},
#else
        // ELF does not tie an imported symbol to a library: the loader names it.
        {Driver("zel_needs_function.dll"), nullptr, {"undefined symbol: ZelWithdrawn"}, nullptr},
#endif
        {Driver("zel_empty.dll"), nullptr,
         {std::string("zel_empty.dll") + " is not a valid " + kNoun + ": the file is empty\n", "Loaded:           no, not tried\n"},
         "invalid"},
        {Driver("zel_truncated.dll"), nullptr,
         {std::string("zel_truncated.dll") + " is not a valid DLL: the optional header is cut off\n"}, "invalid"},
        {Driver("zel_imports_outside.dll"), nullptr,
         {std::string("zel_imports_outside.dll") + " is not a valid DLL: the import table points outside the file\n"},
         "invalid"},
        {Driver("zel_unterminated_name.dll"), nullptr,
         {std::string("zel_unterminated_name.dll") +
          " is not a valid DLL: the name of an imported library has no terminating zero\n"},
         "invalid"},
    };
    for (const auto& failure : cases) {
        if (failure.installFolder)
            installPath.Set(Folder(failure.installFolder));
        else
            installPath.Remove();
        const std::string label = failure.arguments[2];
        const ToolRun run = RunTool(failure.arguments);
        EXPECT_EQ(run.exitCode, 1) << label << "\n" << run.out << run.err;
        for (const std::string& part : failure.text)
            EXPECT_TRUE(Contains(run.out, part)) << label;
        // Every system message with its insert filled in.
        EXPECT_EQ(run.out.find("%1"), std::string::npos) << run.out;

        Arguments json = failure.arguments;
        json.push_back("--json");
        const ToolRun jsonRun = RunTool(json);
        EXPECT_EQ(jsonRun.exitCode, 1) << label;
        EXPECT_EQ(jsonRun.out.find('\n'), jsonRun.out.size() - 1) << jsonRun.out;
        EXPECT_FALSE(nlohmann::json::parse(jsonRun.out, nullptr, false).is_discarded()) << jsonRun.out;
        if (failure.kind) {
            EXPECT_TRUE(Contains(jsonRun.out, std::string("\"problems\":[{\"kind\":\"") + failure.kind + "\""));
        }
        const bool loadedWithOwnFolder = failure.text.front().find("Note:") != std::string::npos;
        EXPECT_TRUE(Contains(jsonRun.out, loadedWithOwnFolder ? "\"loadedWith\":\"own-folder\"" : "\"loadedWith\":null"))
            << label;
    }
}

TEST_F(CheckDiagnosis, TheOverviewShowsTheInstallPathAndEveryLibrary)
{
    // Without an install path the complete libraries next to the tool are found.
    const ToolRun found = RunTool({"check"});
    EXPECT_EQ(found.exitCode, 0) << found.out;
    EXPECT_TRUE(Contains(found.out, "Zelbridge:        " ZELBRIDGE_LOADED_MODULE ", " + kThisArchitecture + "\n"));
    EXPECT_TRUE(Contains(found.out, "Install path:     (none set)\n"));
    EXPECT_TRUE(Contains(found.out, "  M329_      M329_ZEL_DLL.DLL      found: " + BinaryPath("M329_ZEL_DLL.DLL") + "\n"));
    EXPECT_TRUE(Contains(found.out, "  QXGraph3D  wxQXGraph3D.dll       found: " + BinaryPath("wxQXGraph3D.dll") + "\n"));

    installPath.Set(Folder("families_incomplete"));
    const ToolRun incomplete = RunTool({"check"});
    EXPECT_EQ(incomplete.exitCode, 1);
    EXPECT_TRUE(Contains(incomplete.out, "Install path:     " + Folder("families_incomplete") + "\n"));
    EXPECT_TRUE(Contains(incomplete.out, std::string("Read from:        ") + kInstallPathSource + kPathType + ", " +
                                             std::to_string(Folder("families_incomplete").size() + 1) + " bytes\n"));
    EXPECT_TRUE(Contains(incomplete.out, "  M329_      M329_ZEL_DLL.DLL      incomplete: lacks M329_GetCurrentInterfaceId\n"));
    // A library that is not there is no fault.
    EXPECT_TRUE(Contains(incomplete.out, "  QXGraph3D  wxQXGraph3D.dll       missing\n"));
    const ToolRun json = RunTool({"check", "--json"});
    EXPECT_EQ(json.exitCode, 1);
    EXPECT_TRUE(Contains(json.out, "{\"check\":\"overview\",\"module\":{\"file\":\"" ZELBRIDGE_LOADED_MODULE "\""));
    EXPECT_TRUE(Contains(json.out, std::string("\"installPath\":{\"state\":\"usable\",\"type\":\"") + kPathType + "\""));
    EXPECT_TRUE(Contains(json.out, "{\"user\":\"M329_\",\"file\":\"M329_ZEL_DLL.DLL\",\"state\":\"incomplete\""));
    EXPECT_TRUE(Contains(json.out, "\"missingFunctions\":[\"M329_GetCurrentInterfaceId\"]"));

    // A value longer than the module reads counts as none, and is a fault.
    installPath.SetRaw(std::string(300, 'x'));
    const ToolRun tooLong = RunTool({"check"});
    EXPECT_EQ(tooLong.exitCode, 1);
    EXPECT_TRUE(Contains(tooLong.out, "Install path:     (unusable: "));
    EXPECT_TRUE(Contains(tooLong.out, " bytes, longer than the module reads, so it is taken as none)\n"));
    EXPECT_TRUE(Contains(tooLong.out, std::string(kInstallPathSource) + kRawType + ", "));

    installPath.Set(Folder("no_such_folder"));
    const ToolRun nowhere = RunTool({"check"});
    EXPECT_EQ(nowhere.exitCode, 1);
    EXPECT_TRUE(Contains(nowhere.out, Folder("no_such_folder") + "\n                    (no such folder)\n"));
    EXPECT_TRUE(Contains(nowhere.out, "  T5XX_      T5XX_ZEL_DLL.DLL      missing\n"));
}

#if defined(_WIN32)
TEST_F(CheckDiagnosis, NamesAreCompletedAsTheLoaderCompletesThemAndShownAsWritten)
{
    // The loopback driver under a name without an extension, which the loader never opens.
    const std::string copy = BinaryPath("Loop32");
    std::ofstream(copy, std::ios::binary) << ReadBytes(BinaryPath(ZELBRIDGE_LOOPBACK_FILE));
    const std::string root = BinaryDirectory().substr(0, 3);
    const struct {
        std::string driver;
        int exitCode;
        std::string shown;
    } cases[] = {
        {"Loopback", 0, "File tried:       Loopback.DLL\nFound at:         " + BinaryPath("Loopback.DLL") + "\n"},
        {"Loop32", 1, "Why:              Loop32.DLL is not found in:\n"},
        // A trailing dot stands for no extension.
        {copy + ".", 0, "File tried:       " + copy + "\nLoaded:           yes\n"},
        {"\\Loop32.dll", 1, "Loop32.dll is not found in:\n                    " + root + " (the folder named)\n"},
    };
    for (const auto& name : cases) {
        const ToolRun run = RunTool({"check", "--driver", name.driver, "--prefix", "LOOP_"});
        EXPECT_EQ(run.exitCode, name.exitCode) << run.out;
        EXPECT_TRUE(Contains(run.out, name.shown));
    }
    const ToolRun json = RunTool({"check", "--driver", "Loopback", "--prefix", "LOOP_", "--json"});
    EXPECT_TRUE(Contains(json.out, "\"foundAt\":" + nlohmann::json(BinaryPath("Loopback.DLL")).dump()));
    EXPECT_TRUE(Contains(json.out, "\"architecture\":\"" + kThisArchitecture + "\""));
    std::remove(copy.c_str());

    installPath.Set(BinaryDirectory() + "\\");
    EXPECT_TRUE(Contains(RunTool({"check"}).out, "\n                    (ends in a separator: the module adds another"));

    // A value that is not a string is not a folder, whatever its bytes spell.
    installPath.SetRaw(std::string("C:\\", 4));
    const ToolRun binary = RunTool({"check"});
    EXPECT_EQ(binary.exitCode, 1);
    EXPECT_TRUE(Contains(binary.out, "Install path:     (unusable: a REG_BINARY value, not a string)\n"));
}
#endif

} // namespace
} // namespace zelbridge::test
