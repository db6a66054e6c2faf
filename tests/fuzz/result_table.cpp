// The query results' table, driven by a script of stores, lookups and clears against a plain map: a lookup finds
// the value stored last under its row and name in any case, or nothing; keys read "<row>:<name, only A-Z lowered>".
#include <fuzzer/FuzzedDataProvider.h>

#include <map>
#include <string>

#include "FuzzCheck.h"
#include "requests/ResultTable.h"

static std::string Cased(std::string text, bool upper) {
    for (char& c : text)
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') c = static_cast<char>(upper ? c & ~0x20 : c | 0x20);
    return text;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    tarnix::CResultTable table;
    std::map<std::string, std::string> model;  // by row and lowered name
    while (input.remaining_bytes() > 0) {
        const uint8_t op = input.ConsumeIntegralInRange<uint8_t>(0, 9);
        // Few rows, so that keys meet again; names as the host passes them, up to a zero byte.
        const uint32_t row = input.ConsumeBool() ? input.ConsumeIntegralInRange<uint32_t>(0, 3) : input.ConsumeIntegral<uint32_t>();
        const std::string name = input.ConsumeRandomLengthString(24).c_str(), asked = Cased(name, input.ConsumeBool()),
                          key = std::to_string(row) + ":" + Cased(name, false);
        FUZZ_CHECK(tarnix::CResultTable::MakeKey(row, asked.c_str()) == key);
        if (op < 5) {
            table.Set(row, asked.c_str(), model[key] = input.ConsumeRandomLengthString(16));
        } else if (op < 9) {
            const std::string* found = table.Find(row, asked.c_str());
            FUZZ_CHECK(found ? model.count(key) && *found == model[key] : !model.count(key));
        } else {
            table.Clear(), model.clear();
        }
    }
    return 0;
}
