// libFuzzer target over the SOAP answer parser.
#include "SoapAnswerHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qev::fuzz::exerciseSoapAnswer(data, size);
    return 0;
}
