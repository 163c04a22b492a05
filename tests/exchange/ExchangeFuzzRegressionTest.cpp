// Every saved input of the fuzz targets over what arrives from outside (SOAP answers, the request data text,
// received mail and its HTML, the reply data file, the state and result lists) runs through the fuzzer's own
// harness; each must finish without a crash, a broken promise or a sanitizer report.
#include "FuzzInputs.h"

#include "../../tools/fuzz/HtmlSanitizeHarness.h"
#include "../../tools/fuzz/MimeReadHarness.h"
#include "../../tools/fuzz/ReplyFilesHarness.h"
#include "../../tools/fuzz/RequestDataTextHarness.h"
#include "../../tools/fuzz/SoapAnswerHarness.h"

#include <gtest/gtest.h>

namespace {

struct Target {
    const char* name;
    void (*harness)(const uint8_t*, size_t);
};

class ExchangeFuzzRegressionTest : public ::testing::TestWithParam<Target> {};

TEST_P(ExchangeFuzzRegressionTest, SavedInputsRunCleanly) {
    const auto inputs = qev::test::savedFuzzInputs("exchange", GetParam().name);
    ASSERT_FALSE(inputs.empty());
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        GetParam().harness(input.bytes.data(), input.bytes.size());
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, ExchangeFuzzRegressionTest,
                         ::testing::Values(Target{"soap_answer", qev::fuzz::exerciseSoapAnswer},
                                           Target{"request_data_text", qev::fuzz::exerciseRequestDataText},
                                           Target{"mime_read", qev::fuzz::exerciseMimeReadEveryWay},
                                           Target{"html_sanitize", qev::fuzz::exerciseHtmlSanitize},
                                           Target{"resp_dat", qev::fuzz::exerciseRespDat},
                                           Target{"state_list", qev::fuzz::exerciseStateLists}),
                         [](const ::testing::TestParamInfo<Target>& p) { return std::string(p.param.name); });

} // namespace
