// libFuzzer target over the table and memo readers.
#include "DbfReadHarness.h"

#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string folder = [] {
        char tmpl[] = "/tmp/dbf-fuzz-XXXXXX";
        const char* d = ::mkdtemp(tmpl);
        return std::string(d ? d : "/tmp");
    }();
    qev::fuzz::exerciseTableBytes(folder, data, size);
    return 0;
}
