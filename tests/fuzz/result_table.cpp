// The query results' table, driven by a script of stores, lookups and clears against a plain map.
// Properties: a lookup finds the value stored last under its row and name (A-Z in any case), or
// nothing; a clear forgets everything; keys read "<row>:<name, A-Z lowered>".
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>

#include "FuzzCheck.h"
#include "requests/ResultTable.h"

namespace {

std::string LowerAz(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string FlipAz(std::string text) {
    for (char& c : text)
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c = static_cast<char>(c ^ 0x20);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    tarnix::CResultTable table;
    std::map<std::pair<uint32_t, std::string>, std::string> model;
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegralInRange<uint8_t>(0, 9);
        // Few rows, so that keys meet again; names as the host passes them, up to a zero byte.
        const uint32_t row = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 3)
                                                 : input.ConsumeIntegral<uint32_t>();
        const std::string name = input.ConsumeRandomLengthString(24).c_str();
        const std::string key = tarnix::CResultTable::MakeKey(row, name.c_str());
        FUZZ_CHECK(key == std::to_string(row) + ":" + LowerAz(name));
        FUZZ_CHECK(key == tarnix::CResultTable::MakeKey(row, FlipAz(name).c_str()));
        if (op < 5) {
            const std::string value = input.ConsumeRandomLengthString(16);
            table.Set(row, input.ConsumeBool() ? name.c_str() : FlipAz(name).c_str(), value);
            model[{row, LowerAz(name)}] = value;
        } else if (op < 9) {
            const std::string* found = table.Find(row, FlipAz(name).c_str());
            const auto expected = model.find({row, LowerAz(name)});
            FUZZ_CHECK((found != nullptr) == (expected != model.end()));
            if (found) FUZZ_CHECK(*found == expected->second);
        } else {
            table.Clear();
            model.clear();
        }
    }
    for (const auto& [where, value] : model) {
        const std::string* found = table.Find(where.first, where.second.c_str());
        FUZZ_CHECK(found && *found == value);
    }
    return 0;
}
