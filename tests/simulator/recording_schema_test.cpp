// The published schema of a record and the reader agree on what an entry may
// be and what each entry's record must hold: the schema's list of entries is
// the tables' own, and the rules its patterns state are the reader's, tried
// both ways on every entry. (The schema test of the documentation tries the
// rest on the recordings it makes and the fuzzing seeds.)
#include "recording/recorded_entries.h"
#include "recording/recording_reader.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace zelbridge::recording {
namespace {

using nlohmann::json;

json Schema()
{
    std::ifstream file(ZELBRIDGE_RECORDING_SCHEMA);
    return json::parse(file);
}

bool NamedAgainstTheSchema(const json& record)
{
    const LoadedRecording loaded = ParseRecording(record.dump() + "\n", "one.jsonl");
    if (!loaded.recording)
        return true;
    for (const RecordFault& fault : loaded.recording->faults)
        if (fault.kind == FaultKind::kInvalid)
            return true;
    return false;
}

TEST(RecordingSchema, ListsTheEntriesTheReaderTakesAndStatesItsRulesForEach)
{
    const json schema = Schema();
    const json& defs = schema.at("$defs");
    EXPECT_EQ(defs.at("entry").at("enum"), json(RecordedEntryNames()))
        << "the schema's \"$defs\"/\"entry\"/\"enum\" should read:\n" << json(RecordedEntryNames()).dump();
    const std::regex generic(defs.at("genericCall").at("pattern").get<std::string>());
    const std::regex onConnection(defs.at("familyCallOnConnection").at("pattern").get<std::string>());
    for (const std::string& name : RecordedEntryNames()) {
        SCOPED_TRACE(name);
        const bool needsSystem = std::regex_search(name, generic);
        const bool connectionFirst = std::regex_search(name, onConnection);
        EXPECT_EQ(needsSystem, KindOfEntry(name) == EntryKind::kGeneric && name != "DefineSystem");
        json record = {{"t", 0}, {"thread", 1}, {"entry", name}, {"result", 0}};
        record["args"] = connectionFirst ? json{1, "x"} : name == "ZelCommandset" ? json{"x"} : json::array();
        if (needsSystem)
            record["system"] = 0;
        EXPECT_FALSE(NamedAgainstTheSchema(record)) << record.dump();
        json toggled = record;
        if (needsSystem)
            toggled.erase("system");
        else
            toggled["system"] = 0;
        EXPECT_TRUE(NamedAgainstTheSchema(toggled)) << toggled.dump();
        if (connectionFirst) {
            json named = record;
            named["args"][0] = "x";
            EXPECT_TRUE(NamedAgainstTheSchema(named)) << named.dump();
            named["args"] = json::array();
            EXPECT_TRUE(NamedAgainstTheSchema(named)) << named.dump();
        }
    }
}

} // namespace
} // namespace zelbridge::recording
