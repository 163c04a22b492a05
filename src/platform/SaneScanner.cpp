#include "platform/SaneScanner.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace qev::platform {

using capture::PixelKind;
using capture::Raster;
using capture::ScanOption;
using capture::ScanOutcome;
using capture::ScanRequest;

namespace {

SANE_Handle handleOf(void* h) {
    return static_cast<SANE_Handle>(h);
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// The index of an option by name, 0 when the source has none.
int findOption(SANE_Handle h, const char* name) {
    for (int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d) return 0;
        if (d->name && std::strcmp(d->name, name) == 0) return SANE_OPTION_IS_ACTIVE(d->cap) ? i : 0;
    }
}

bool singleNumber(const SANE_Option_Descriptor* d) {
    return (d->type == SANE_TYPE_INT || d->type == SANE_TYPE_FIXED) &&
           d->size == static_cast<SANE_Int>(sizeof(SANE_Word));
}

double wordValue(const SANE_Option_Descriptor* d, SANE_Word w) {
    return d->type == SANE_TYPE_FIXED ? SANE_UNFIX(w) : static_cast<double>(w);
}

SANE_Word toWord(const SANE_Option_Descriptor* d, double v) {
    return d->type == SANE_TYPE_FIXED ? SANE_FIX(v) : static_cast<SANE_Word>(std::lround(v));
}

// The value the constraint allows nearest to `v`.
double allowed(const SANE_Option_Descriptor* d, double v) {
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        const SANE_Range* r = d->constraint.range;
        const double lo = wordValue(d, r->min);
        const double hi = wordValue(d, r->max);
        const double q = wordValue(d, r->quant);
        v = std::clamp(v, lo, hi);
        if (q > 0) v = std::min(hi, lo + std::round((v - lo) / q) * q);
        return v;
    }
    if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST) {
        const SANE_Word* list = d->constraint.word_list;
        double best = v;
        double bestDistance = -1;
        for (int i = 1; i <= list[0]; ++i) {
            const double c = wordValue(d, list[i]);
            if (bestDistance < 0 || std::fabs(c - v) < bestDistance) {
                best = c;
                bestDistance = std::fabs(c - v);
            }
        }
        return best;
    }
    return v;
}

bool getNumber(SANE_Handle h, int index, double& out) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
    if (!d || !singleNumber(d)) return false;
    SANE_Word w = 0;
    if (sane_control_option(h, index, SANE_ACTION_GET_VALUE, &w, nullptr) != SANE_STATUS_GOOD) return false;
    out = wordValue(d, w);
    return true;
}

// Sets a numeric option to the allowed value nearest `v`; `actual` is what the source then holds.
bool setNumber(SANE_Handle h, const char* name, double v, double* actual) {
    const int index = findOption(h, name);
    if (!index) return false;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
    if (!singleNumber(d) || !SANE_OPTION_IS_SETTABLE(d->cap)) return false;
    SANE_Word w = toWord(d, allowed(d, v));
    SANE_Int info = 0;
    if (sane_control_option(h, index, SANE_ACTION_SET_VALUE, &w, &info) != SANE_STATUS_GOOD) return false;
    double got = 0;
    if (!getNumber(h, findOption(h, name), got)) return false;
    if (actual) *actual = got;
    return true;
}

std::vector<std::string> stringChoices(const SANE_Option_Descriptor* d) {
    std::vector<std::string> out;
    if (d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
        for (const SANE_String_Const* s = d->constraint.string_list; s && *s; ++s)
            out.emplace_back(*s);
    return out;
}

bool setString(SANE_Handle h, int index, const std::string& value) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
    if (!d || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(d->cap) || d->size <= 0) return false;
    std::vector<char> buf(static_cast<size_t>(d->size), '\0');
    std::strncpy(buf.data(), value.c_str(), buf.size() - 1);
    SANE_Int info = 0;
    return sane_control_option(h, index, SANE_ACTION_SET_VALUE, buf.data(), &info) == SANE_STATUS_GOOD;
}

// Sets a string-list option to the first choice that contains one of the wanted words; the choice made, or empty.
std::string chooseString(SANE_Handle h, const char* name, const std::vector<std::string>& wanted) {
    const int index = findOption(h, name);
    if (!index) return {};
    const std::vector<std::string> choices = stringChoices(sane_get_option_descriptor(h, index));
    for (const std::string& w : wanted)
        for (const std::string& c : choices)
            if (lower(c).find(lower(w)) != std::string::npos) return setString(h, index, c) ? c : std::string();
    return {};
}

// A brightness or contrast of -1000..1000 on the option's own range (its middle for 0).
bool setLevel(SANE_Handle h, const char* name, int level) {
    const int index = findOption(h, name);
    if (!index) return false;
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
    double v = level / 10.0;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE) {
        const double lo = wordValue(d, d->constraint.range->min);
        const double hi = wordValue(d, d->constraint.range->max);
        v = (lo + hi) / 2 + level / 1000.0 * (hi - lo) / 2;
    }
    return setNumber(h, name, v, nullptr);
}

const char* typeName(SANE_Value_Type t) {
    switch (t) {
    case SANE_TYPE_BOOL:
        return "BOOL";
    case SANE_TYPE_INT:
        return "INT";
    case SANE_TYPE_FIXED:
        return "FIXED";
    case SANE_TYPE_STRING:
        return "STRING";
    case SANE_TYPE_BUTTON:
        return "BUTTON";
    default:
        return "GROUP";
    }
}

const char* unitName(SANE_Unit u) {
    switch (u) {
    case SANE_UNIT_PIXEL:
        return "pixel";
    case SANE_UNIT_BIT:
        return "bit";
    case SANE_UNIT_MM:
        return "mm";
    case SANE_UNIT_DPI:
        return "dpi";
    case SANE_UNIT_PERCENT:
        return "%";
    case SANE_UNIT_MICROSECOND:
        return "us";
    default:
        return "";
    }
}

std::string number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

SaneScanner::SaneScanner() {
    SANE_Int version = 0;
    m_initialised = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
}

SaneScanner::~SaneScanner() {
    close();
    if (m_initialised) sane_exit();
}

bool SaneScanner::listSources(std::vector<capture::ScanSourceInfo>& out, std::string* error) {
    out.clear();
    if (!m_initialised) return fail(error, "No se pudo iniciar el acceso a los scanners (SANE)");
    const SANE_Device** list = nullptr;
    const SANE_Status s = sane_get_devices(&list, SANE_FALSE);
    if (s != SANE_STATUS_GOOD)
        return fail(error, std::string("No se pudo obtener la lista de scanners: ") + sane_strstatus(s));
    for (int i = 0; list && list[i]; ++i)
        out.push_back({list[i]->name ? list[i]->name : "", list[i]->vendor ? list[i]->vendor : "",
                       list[i]->model ? list[i]->model : "", list[i]->type ? list[i]->type : ""});
    return true;
}

bool SaneScanner::open(const std::string& source, std::string* error) {
    close();
    std::string name = source;
    if (name.empty()) {
        std::vector<capture::ScanSourceInfo> sources;
        if (!listSources(sources, error)) return false;
        if (sources.empty()) return fail(error, "No hay ningún scanner conectado");
        name = sources.front().name;
    }
    if (!m_initialised) return fail(error, "No se pudo iniciar el acceso a los scanners (SANE)");
    SANE_Handle h = nullptr;
    const SANE_Status s = sane_open(name.c_str(), &h);
    if (s != SANE_STATUS_GOOD) return fail(error, "No se pudo abrir el scanner " + name + ": " + sane_strstatus(s));
    m_handle = h;
    m_source = name;
    return true;
}

void SaneScanner::close() {
    if (m_handle) sane_close(handleOf(m_handle));
    m_handle = nullptr;
    m_source.clear();
}

bool SaneScanner::configure(const ScanRequest& request, std::vector<std::string>& notSet, std::string* error) {
    notSet.clear();
    if (!m_handle) return fail(error, "No hay ningún scanner abierto");
    SANE_Handle h = handleOf(m_handle);

    // Source first: a feeder source may change the other options.
    m_feederActive = false;
    if (findOption(h, SANE_NAME_SCAN_SOURCE)) {
        if (request.feeder) {
            m_feederActive = !chooseString(h, SANE_NAME_SCAN_SOURCE, {"adf", "feeder", "alimentador"}).empty();
        } else {
            (void)chooseString(h, SANE_NAME_SCAN_SOURCE, {"flatbed", "normal"});
        }
    }
    if (request.feeder && !m_feederActive) notSet.push_back(capture::kSettingFeeder);

    // Pixel kind: line art when the source has it, else grey at one bit, else grey thresholded here.
    m_thresholdToBw = false;
    bool depthDone = false;
    if (request.pixels == PixelKind::BlackWhite) {
        if (chooseString(h, SANE_NAME_SCAN_MODE, {"lineart", "binary", "black", "halftone"}).empty()) {
            if (chooseString(h, SANE_NAME_SCAN_MODE, {"gray", "grey"}).empty() && findOption(h, SANE_NAME_SCAN_MODE))
                notSet.push_back(capture::kSettingPixels);
            double got = 0;
            depthDone = setNumber(h, SANE_NAME_BIT_DEPTH, 1, &got) && got == 1;
            if (!depthDone) (void)setNumber(h, SANE_NAME_BIT_DEPTH, 8, nullptr);
            m_thresholdToBw = true;
            depthDone = true;
        } else {
            depthDone = true;
        }
    } else {
        const std::vector<std::string> words = request.pixels == PixelKind::Grey
                                                   ? std::vector<std::string>{"gray", "grey"}
                                                   : std::vector<std::string>{"color", "colour", "rgb"};
        if (chooseString(h, SANE_NAME_SCAN_MODE, words).empty()) notSet.push_back(capture::kSettingPixels);
    }
    if (!depthDone && request.depth > 0 && findOption(h, SANE_NAME_BIT_DEPTH)) {
        double got = 0;
        if (!setNumber(h, SANE_NAME_BIT_DEPTH, request.depth, &got) || got != request.depth)
            notSet.push_back(capture::kSettingPixels);
    }

    double dpi = 0;
    if (!setNumber(h, SANE_NAME_SCAN_RESOLUTION, request.dpi, &dpi) || std::fabs(dpi - request.dpi) > 0.5) {
        notSet.push_back(capture::kSettingResolution);
        if (dpi <= 0) {
            const int index = findOption(h, SANE_NAME_SCAN_RESOLUTION);
            if (!index || !getNumber(h, index, dpi)) dpi = request.dpi;
        }
    }
    m_dpi = dpi;

    // Area: the corners in the option's unit (millimetres or pixels); the whole surface without an area.
    const char* corners[4] = {SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_X, SANE_NAME_SCAN_BR_Y};
    const double inches[4] = {request.left, request.top, request.right, request.bottom};
    bool areaOk = true;
    for (int i = 0; i < 4; ++i) {
        const int index = findOption(h, corners[i]);
        if (!index) {
            areaOk = false;
            continue;
        }
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
        double want = 0;
        if (!request.hasArea()) {
            want = (i < 2) ? -1e9 : 1e9; // clamped to the surface by the range
        } else {
            want = d->unit == SANE_UNIT_PIXEL ? inches[i] * dpi : inches[i] * 25.4;
        }
        double got = 0;
        if (!setNumber(h, corners[i], want, &got)) {
            areaOk = false;
            continue;
        }
        const double tolerance = d->unit == SANE_UNIT_PIXEL ? 2.0 : 0.6;
        if (request.hasArea() && std::fabs(got - want) > tolerance) areaOk = false;
    }
    if (!areaOk && request.hasArea()) notSet.push_back(capture::kSettingArea);

    if (request.brightness != 0 && !setLevel(h, SANE_NAME_BRIGHTNESS, request.brightness))
        notSet.push_back(capture::kSettingBrightness);
    if (request.contrast != 0 && !setLevel(h, SANE_NAME_CONTRAST, request.contrast))
        notSet.push_back(capture::kSettingContrast);
    if (request.showDialog) notSet.push_back(capture::kSettingDialog);
    return true;
}

bool SaneScanner::readPage(Raster& out, capture::ScanSink& sink, bool& cancelled, std::string* error) {
    SANE_Handle h = handleOf(m_handle);
    cancelled = false;
    SANE_Parameters p{};
    SANE_Status s = sane_get_parameters(h, &p);
    if (s != SANE_STATUS_GOOD)
        return fail(error, std::string("El scanner no informó el formato de la página: ") + sane_strstatus(s));
    if (!p.last_frame || (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB))
        return fail(error, "El scanner entrega la página en tres pasadas de color, que no se admiten");
    if (p.depth != 1 && p.depth != 8 && p.depth != 16)
        return fail(error, "El scanner entrega " + std::to_string(p.depth) + " bits por muestra; se admiten 1, 8 o 16");
    const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
    const int width = p.pixels_per_line;
    const int64_t minLine = (int64_t(width) * channels * p.depth + 7) / 8;
    if (width <= 0 || p.bytes_per_line < minLine)
        return fail(error, "El scanner informó un ancho de página inválido (" + std::to_string(width) + ")");
    if (p.lines > 0 && int64_t(width) * p.lines > capture::kMaxPixels)
        return fail(error, "La página digitalizada (" + std::to_string(width) + " x " + std::to_string(p.lines) +
                               " puntos) es más grande de lo admitido");
    const size_t bpl = static_cast<size_t>(p.bytes_per_line);
    const int64_t maxLines = capture::kMaxPixels / width;
    std::vector<uint8_t> data;
    if (p.lines > 0) data.reserve(bpl * static_cast<size_t>(p.lines));
    std::vector<uint8_t> buf(64 * 1024);
    int lastPercent = -1;
    for (;;) {
        if (sink.cancelRequested()) {
            cancelled = true;
            return false;
        }
        SANE_Int len = 0;
        s = sane_read(h, buf.data(), static_cast<SANE_Int>(buf.size()), &len);
        if (s == SANE_STATUS_EOF) break;
        if (s != SANE_STATUS_GOOD) {
            if (s == SANE_STATUS_CANCELLED) {
                cancelled = true;
                return false;
            }
            return fail(error,
                        std::string("El scanner dejó de responder durante la digitalización: ") + sane_strstatus(s));
        }
        data.insert(data.end(), buf.begin(), buf.begin() + len);
        if (int64_t(data.size() / bpl) > maxLines)
            return fail(error, "La página digitalizada es más grande de lo admitido");
        if (p.lines > 0) {
            const int percent = static_cast<int>(std::min<size_t>(100, data.size() * 100 / (bpl * size_t(p.lines))));
            if (percent != lastPercent) sink.progress(percent);
            lastPercent = percent;
        }
    }
    const int lines =
        p.lines > 0 ? std::min<int>(p.lines, static_cast<int>(data.size() / bpl)) : static_cast<int>(data.size() / bpl);
    if (lines <= 0) return fail(error, "El scanner no entregó ninguna línea de la página");
    if (p.lines > 0 && lines < p.lines)
        return fail(error, "La página llegó incompleta: " + std::to_string(lines) + " de " + std::to_string(p.lines) +
                               " líneas");
    out = Raster{};
    out.width = width;
    out.height = lines;
    out.channels = channels;
    out.bilevel = p.depth == 1;
    out.resolutionX = out.resolutionY = m_dpi;
    out.pixels.resize(static_cast<size_t>(width) * channels * static_cast<size_t>(lines));
    for (int y = 0; y < lines; ++y) {
        const uint8_t* src = data.data() + static_cast<size_t>(y) * bpl;
        uint8_t* dst = out.row(y);
        for (int x = 0; x < width * channels; ++x) {
            if (p.depth == 1) // a set bit is black
                dst[x] = (src[x / 8] & (0x80 >> (x % 8))) ? 0 : 255;
            else if (p.depth == 8)
                dst[x] = src[x];
            else { // 16-bit samples in the host's byte order
                uint16_t v;
                std::memcpy(&v, src + 2 * x, 2);
                dst[x] = static_cast<uint8_t>(v >> 8);
            }
        }
    }
    if (m_thresholdToBw) out = capture::toPixelKind(out, PixelKind::BlackWhite);
    sink.progress(100);
    return true;
}

ScanOutcome SaneScanner::scan(const ScanRequest& request, capture::ScanSink& sink) {
    ScanOutcome out;
    if (!m_handle && !open(std::string(), &out.error)) return out;
    if (!configure(request, out.notSet, &out.error)) return out;
    SANE_Handle h = handleOf(m_handle);
    const int most = request.pages > 0 ? request.pages : (m_feederActive ? INT_MAX : 1);
    while (out.pages < most) {
        const SANE_Status s = sane_start(h);
        if (s == SANE_STATUS_NO_DOCS && m_feederActive && out.pages > 0) break; // the feeder is empty
        if (s != SANE_STATUS_GOOD) {
            sane_cancel(h);
            out.error = s == SANE_STATUS_NO_DOCS
                            ? std::string("No hay hojas en el alimentador del scanner")
                            : std::string("No se pudo iniciar la digitalización: ") + sane_strstatus(s);
            return out;
        }
        Raster page;
        bool cancelled = false;
        if (!readPage(page, sink, cancelled, &out.error)) {
            sane_cancel(h);
            if (cancelled) out.status = ScanOutcome::Status::Cancelled;
            return out;
        }
        if (!sink.page(std::move(page), out.pages + 1)) {
            sane_cancel(h);
            out.status = ScanOutcome::Status::Cancelled;
            return out;
        }
        ++out.pages;
    }
    sane_cancel(h);
    out.status = ScanOutcome::Status::Done;
    return out;
}

bool SaneScanner::setOption(const std::string& name, const std::string& value, std::string* error) {
    if (!m_handle) return fail(error, "No hay ningún scanner abierto");
    SANE_Handle h = handleOf(m_handle);
    const int index = findOption(h, name.c_str());
    if (!index) return fail(error, "El scanner no tiene la opción " + name);
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, index);
    bool ok = false;
    if (d->type == SANE_TYPE_STRING) {
        ok = setString(h, index, value);
    } else if (d->type == SANE_TYPE_BOOL) {
        SANE_Bool b = (value == "1" || lower(value) == "yes" || lower(value) == "true") ? SANE_TRUE : SANE_FALSE;
        ok = sane_control_option(h, index, SANE_ACTION_SET_VALUE, &b, nullptr) == SANE_STATUS_GOOD;
    } else if (singleNumber(d)) {
        char* end = nullptr;
        const double v = std::strtod(value.c_str(), &end);
        ok = end && *end == '\0' && !value.empty() && setNumber(h, name.c_str(), v, nullptr);
    }
    return ok || fail(error, "El scanner no aceptó el valor " + value + " para la opción " + name);
}

std::vector<ScanOption> SaneScanner::options() {
    std::vector<ScanOption> out;
    if (!m_handle) return out;
    SANE_Handle h = handleOf(m_handle);
    for (int i = 1;; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
        if (!d) break;
        if (d->type == SANE_TYPE_GROUP) continue;
        ScanOption o;
        o.name = d->name ? d->name : "";
        o.title = d->title ? d->title : "";
        o.description = d->desc ? d->desc : "";
        o.type = typeName(d->type);
        o.unit = unitName(d->unit);
        o.active = SANE_OPTION_IS_ACTIVE(d->cap);
        o.settable = SANE_OPTION_IS_SETTABLE(d->cap);
        switch (d->constraint_type) {
        case SANE_CONSTRAINT_RANGE:
            o.constraint = "RANGE";
            o.minimum = wordValue(d, d->constraint.range->min);
            o.maximum = wordValue(d, d->constraint.range->max);
            o.step = wordValue(d, d->constraint.range->quant);
            break;
        case SANE_CONSTRAINT_WORD_LIST:
            o.constraint = "WORD_LIST";
            for (int k = 1; k <= d->constraint.word_list[0]; ++k)
                o.choices.push_back(number(wordValue(d, d->constraint.word_list[k])));
            break;
        case SANE_CONSTRAINT_STRING_LIST:
            o.constraint = "STRING_LIST";
            o.choices = stringChoices(d);
            break;
        default:
            o.constraint = "NONE";
        }
        if (o.active && d->size > 0 && d->type != SANE_TYPE_BUTTON && d->size <= 64 * 1024) {
            std::vector<SANE_Word> buf(static_cast<size_t>(d->size) / sizeof(SANE_Word) + 1, 0);
            if (sane_control_option(h, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD) {
                if (d->type == SANE_TYPE_STRING) {
                    const char* text = reinterpret_cast<const char*>(buf.data());
                    o.value.assign(text, strnlen(text, static_cast<size_t>(d->size)));
                } else if (d->type == SANE_TYPE_BOOL) {
                    o.value = buf[0] ? "TRUE" : "FALSE";
                } else {
                    const size_t n = static_cast<size_t>(d->size) / sizeof(SANE_Word);
                    for (size_t k = 0; k < n && k < 8; ++k)
                        o.value += (k ? ", " : "") + number(wordValue(d, buf[k]));
                    if (n > 8) o.value += ", ...";
                }
            }
        }
        out.push_back(std::move(o));
    }
    return out;
}

} // namespace qev::platform
