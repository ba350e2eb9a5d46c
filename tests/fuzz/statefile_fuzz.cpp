// libFuzzer entry: every input through the state file reader.
#include "StateFileFuzz.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto outcome =
        statefilefuzz::Check(std::string_view(reinterpret_cast<const char*>(data), size));
    if (outcome.violation) {
        std::fprintf(stderr, "state file property broken: %s\n", outcome.violation->c_str());
        std::abort();
    }
    return 0;
}
