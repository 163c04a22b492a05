#pragma once
// The scanner as the capture windows use it: list the sources, open one, set resolution, pixel kind, area,
// brightness and contrast, scan one page or a feeder batch with progress and cancel, and list the source's options.
// The SANE implementation lives with the platform ports; FileScanner reads pages from image files.
#include "capture/ImageLib.h"

#include <string>
#include <vector>

namespace qev::capture {

enum class PixelKind { BlackWhite, Grey, Colour };

struct ScanRequest {
    double dpi = 300;
    PixelKind pixels = PixelKind::Grey;
    int depth = 8; // bits per sample asked of the source; 0 leaves the source's own
    // Area in inches from the top-left corner of the scanning surface; an empty area scans the whole surface.
    double left = 0;
    double top = 0;
    double right = 0;
    double bottom = 0;
    int brightness = 0; // -1000..1000, 0 leaves the source's own
    int contrast = 0;   // -1000..1000, 0 leaves the source's own
    bool feeder = false;
    bool showDialog = false; // the source's own dialog; no source on this platform has one
    int pages = 1;           // most pages to take; with the feeder, 0 takes pages until it is empty

    bool hasArea() const { return right > left && bottom > top; }
};

struct ScanSourceInfo {
    std::string name;
    std::string vendor;
    std::string model;
    std::string type;
};

// One option of the open source, for the capabilities window.
struct ScanOption {
    std::string name;
    std::string title;
    std::string description;
    std::string type;       // "BOOL", "INT", "FIXED", "STRING", "BUTTON", "GROUP"
    std::string constraint; // "NONE", "RANGE", "WORD_LIST", "STRING_LIST"
    std::string unit;       // "", "pixel", "bit", "mm", "dpi", "%", "us"
    std::string value;      // the current value as text; empty when it has none or is inactive
    double minimum = 0;
    double maximum = 0;
    double step = 0;
    std::vector<std::string> choices;
    bool active = true;
    bool settable = true;
};

// Receives the pages of a scan as they arrive.
class ScanSink {
public:
    virtual ~ScanSink() = default;
    // One page, numbered from 1; false stops the batch (the scan then ends as cancelled).
    virtual bool page(Raster&& page, int number) = 0;
    // Progress of the page being read, 0..100.
    virtual void progress(int percent) { (void)percent; }
    // Asked while a page is read; true cancels the scan.
    virtual bool cancelRequested() { return false; }
};

struct ScanOutcome {
    enum class Status { Done, Cancelled, Failed };
    Status status = Status::Failed;
    int pages = 0;                   // pages handed to the sink
    std::string error;               // why it failed (Spanish, for the operator)
    std::vector<std::string> notSet; // settings the source could not take, in the operator's words
    bool ok() const { return status == Status::Done; }
};

class Scanner {
public:
    virtual ~Scanner() = default;
    virtual bool listSources(std::vector<ScanSourceInfo>& out, std::string* error) = 0;
    // Opens a source by name; an empty name opens the first source listed.
    virtual bool open(const std::string& source, std::string* error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual std::string currentSource() const = 0;
    // Applies the settings of a request to the open source; `notSet` names those it could not take.
    virtual bool configure(const ScanRequest& request, std::vector<std::string>& notSet, std::string* error) = 0;
    // Configures and scans; the pages reach the sink one by one.
    virtual ScanOutcome scan(const ScanRequest& request, ScanSink& sink) = 0;
    // Sets one of the source's own options by name (a value as text); false when it has no such option.
    virtual bool setOption(const std::string& name, const std::string& value, std::string* error) = 0;
    virtual std::vector<ScanOption> options() = 0;
};

// Pages read from image files of a folder, in name order (every page of a multi-page TIFF counts): the scanner of
// tests and of offices that receive their scans from elsewhere. Its one source is the folder. The area crops and the
// pixel kind converts; resolution, brightness and contrast stay those of the files and are reported as not set.
class FileScanner final : public Scanner {
public:
    explicit FileScanner(std::string folder) : m_folder(std::move(folder)) {}
    bool listSources(std::vector<ScanSourceInfo>& out, std::string* error) override;
    bool open(const std::string& source, std::string* error) override;
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    std::string currentSource() const override { return m_open ? m_folder : std::string(); }
    bool configure(const ScanRequest& request, std::vector<std::string>& notSet, std::string* error) override;
    ScanOutcome scan(const ScanRequest& request, ScanSink& sink) override;
    bool setOption(const std::string& name, const std::string& value, std::string* error) override;
    std::vector<ScanOption> options() override;

private:
    std::vector<std::string> files() const;
    std::string m_folder;
    bool m_open = false;
    size_t m_next = 0; // next file of a flatbed scan: each single-page scan takes the next file, then starts over
};

// Turns a page into the pixel kind asked for: grey or black-and-white (threshold at mid-grey), colour kept.
Raster toPixelKind(const Raster& page, PixelKind kind);

// The Spanish name of a scan setting, as the operator reads it in the list of settings not taken.
inline constexpr char kSettingResolution[] = "resolución";
inline constexpr char kSettingPixels[] = "tipo de imagen";
inline constexpr char kSettingArea[] = "área de digitalización";
inline constexpr char kSettingBrightness[] = "brillo";
inline constexpr char kSettingContrast[] = "contraste";
inline constexpr char kSettingFeeder[] = "alimentador automático";
inline constexpr char kSettingDialog[] = "interfaz del scanner";

} // namespace qev::capture
