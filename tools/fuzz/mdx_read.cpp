// libFuzzer target over the production index reader and writer.
#include "MdxReadHarness.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/mdx-fuzz-XXXXXX";
        const char* d = ::mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    if (!qev::fuzz::exerciseIndexBytes(folder, data, size)) std::abort(); // the regeneration must always repair
    return 0;
}
