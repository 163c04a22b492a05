#pragma once
// Printing an image file: every page of a (multi-page) TIFF, BMP or JPEG, each fitted to a printed page with its
// proportions kept and centred.
#include "reports/Renderer.h"

namespace qev::reports {

// Pages 1 to the page count of `file`; the error names the file when it is missing or cannot be read.
RenderResult printImageFile(const QString& file, QPagedPaintDevice& device);
RenderResult printImageFile(const QString& file, PageTarget& target);

} // namespace qev::reports
