#pragma once
// The scanner port on SANE: every setting of a scan request is mapped onto the source's own options when it has
// them (source, mode, depth, resolution, area corners, brightness, contrast) and named in the outcome when it has
// not. SANE is process-wide: keep one SaneScanner at a time.
#include "capture/scan/Scanner.h"

#include <map>
#include <memory>

namespace qev::platform {

class SaneScanner final : public capture::Scanner {
public:
    SaneScanner();
    ~SaneScanner() override;
    SaneScanner(const SaneScanner&) = delete;
    SaneScanner& operator=(const SaneScanner&) = delete;

    bool listSources(std::vector<capture::ScanSourceInfo>& out, std::string* error) override;
    bool open(const std::string& source, std::string* error) override;
    void close() override;
    bool isOpen() const override { return m_handle != nullptr; }
    std::string currentSource() const override { return m_source; }
    bool configure(const capture::ScanRequest& request, std::vector<std::string>& notSet, std::string* error) override;
    capture::ScanOutcome scan(const capture::ScanRequest& request, capture::ScanSink& sink) override;
    bool setOption(const std::string& name, const std::string& value, std::string* error) override;
    std::vector<capture::ScanOption> options() override;

private:
    struct Impl;
    bool readPage(capture::Raster& out, capture::ScanSink& sink, bool& cancelled, std::string* error);
    void* m_handle = nullptr; // SANE_Handle
    bool m_initialised = false;
    bool m_feederActive = false;
    bool m_thresholdToBw = false; // the source has no line-art mode: grey pages are thresholded here
    double m_dpi = 0;
    std::string m_source;
};

} // namespace qev::platform
