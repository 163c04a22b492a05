// libFuzzer target over the reduction of received HTML to safe markup.
#include "HtmlSanitizeHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseHtmlSanitize(data, size);
    return 0;
}
