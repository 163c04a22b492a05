// Saved fuzzer seeds and finds for the SOAP answer parser, the request data text, the mail reading and the reply
// and list files run through the
// fuzzers' harnesses; each must finish without a crash, a broken promise or a sanitizer report.
#include "../../tools/fuzz/MimeReadHarness.h"
#include "../../tools/fuzz/ReplyFilesHarness.h"
#include "../../tools/fuzz/RequestDataTextHarness.h"
#include "../../tools/fuzz/SoapAnswerHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

template <typename Harness> int replay(const char* folder, Harness harness) {
    const std::filesystem::path corpus = std::filesystem::path(QEV_SOURCE_DIR "/tests/exchange/data/fuzz") / folder;
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(corpus)) {
        std::ifstream in(e.path(), std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(e.path().filename().string());
        harness(bytes.data(), bytes.size());
        ++n;
    }
    return n;
}

TEST(ExchangeFuzzRegressionTest, SoapAnswerInputsRunCleanly) {
    EXPECT_GT(replay("soap_answer", qev::fuzz::exerciseSoapAnswer), 0);
}

TEST(ExchangeFuzzRegressionTest, RequestDataTextInputsRunCleanly) {
    EXPECT_GT(replay("request_data_text", qev::fuzz::exerciseRequestDataText), 0);
}

TEST(ExchangeFuzzRegressionTest, MimeReadInputsRunCleanly) {
    EXPECT_GT(replay("mime_read", qev::fuzz::exerciseMimeRead), 0);
}

} // namespace

TEST(ExchangeFuzzRegressionTest, ReplyAndListFileInputsRunCleanly) {
    EXPECT_GT(replay("resp_dat", qev::fuzz::exerciseRespDat), 0);
    EXPECT_GT(replay("state_list", qev::fuzz::exerciseStateLists), 0);
}
