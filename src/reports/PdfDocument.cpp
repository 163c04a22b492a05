#include "reports/PdfDocument.h"

#include <QBuffer>
#include <QDateTime>
#include <QImageWriter>
#include <QPagedPaintDevice>
#include <QPaintEngine>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QSaveFile>

#include <zlib.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <charconv>
#include <cmath>
#include <map>
#include <set>
#include <unordered_map>
#include <vector>

namespace qev::reports {

QPaintDevice& PagedDeviceTarget::paintDevice() {
    return m_device;
}
bool PagedDeviceTarget::setPageLayout(const QPageLayout& layout) {
    return m_device.setPageLayout(layout);
}
bool PagedDeviceTarget::newPage() {
    return m_device.newPage();
}

namespace {

// ---- Bytes --------------------------------------------------------------------------------------------------

// A number as PDF writes it: at most three decimals, no trailing zeros, no exponent.
void putNumber(QByteArray& out, double v) {
    if (!std::isfinite(v)) v = 0;
    v = std::round(v * 1000.0) / 1000.0;
    if (v == 0) v = 0; // no "-0"
    std::array<char, 64> buf{};
    auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, 3);
    if (ec != std::errc()) {
        out += '0';
        return;
    }
    char* last = end;
    while (last > buf.data() && last[-1] == '0')
        --last;
    if (last > buf.data() && last[-1] == '.') --last;
    out.append(buf.data(), static_cast<qsizetype>(last - buf.data()));
}

QByteArray& operator<<(QByteArray& out, double v) {
    putNumber(out, v);
    out += ' ';
    return out;
}
QByteArray& operator<<(QByteArray& out, const char* s) {
    out += s;
    return out;
}

QByteArray deflated(const QByteArray& data, int level = Z_DEFAULT_COMPRESSION) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(data.constData()),
                  static_cast<uLong>(data.size()), level) != Z_OK)
        return {};
    out.resize(static_cast<qsizetype>(size));
    return out;
}

quint16 u16(const QByteArray& d, qsizetype at) {
    if (at < 0 || at + 2 > d.size()) return 0;
    return static_cast<quint16>((static_cast<quint8>(d[at]) << 8) | static_cast<quint8>(d[at + 1]));
}
qint16 i16(const QByteArray& d, qsizetype at) {
    return static_cast<qint16>(u16(d, at));
}
quint32 u32(const QByteArray& d, qsizetype at) {
    return (static_cast<quint32>(u16(d, at)) << 16) | u16(d, at + 2);
}
void put16(QByteArray& d, quint16 v) {
    d += static_cast<char>(v >> 8);
    d += static_cast<char>(v & 0xff);
}
void put32(QByteArray& d, quint32 v) {
    put16(d, static_cast<quint16>(v >> 16));
    put16(d, static_cast<quint16>(v & 0xffff));
}
void set16(QByteArray& d, qsizetype at, quint16 v) {
    if (at < 0 || at + 2 > d.size()) return;
    d[at] = static_cast<char>(v >> 8);
    d[at + 1] = static_cast<char>(v & 0xff);
}

// ---- The fonts' encoding ----------------------------------------------------------------------------------------

// Windows-1252 codes 0x80-0x9F and the characters they stand for; the other codes from 0x20 are Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char16_t unicodeOfCode(int code) {
    if (code >= 0x80 && code < 0xA0) return kCp1252High[static_cast<size_t>(code - 0x80)];
    return static_cast<char16_t>(code);
}

int codeOfUnicode(char16_t u) {
    if ((u >= 0x20 && u < 0x7F) || (u >= 0xA0 && u <= 0xFF)) return u;
    for (size_t i = 0; i < kCp1252High.size(); ++i)
        if (kCp1252High[i] == u && u != 0) return static_cast<int>(0x80 + i);
    if (u == 0x2028 || u == 0x2029 || u == 0xA0 || u == '\t') return ' ';
    return -1;
}

// ---- Embedded fonts ---------------------------------------------------------------------------------------------

struct EmbeddedFont {
    QRawFont raw;
    int number = 0; // resource name /F<number>
    int object = 0; // the font dictionary
    std::bitset<256> used;
    std::array<double, 256> widths{}; // thousandths of the em, by code
    bool usable = false;
};

// The design advances of the codes 32-255 in thousandths of the em.
void measureCodes(EmbeddedFont& f) {
    QRawFont raw = f.raw;
    const double units = std::max<quint16>(16, u16(raw.fontTable("head"), 18));
    raw.setPixelSize(units);
    for (int code = 32; code < 256; ++code) {
        const char16_t u = unicodeOfCode(code);
        if (!u) continue;
        const quint32 g = raw.glyphIndexesForString(QString(QChar(u))).value(0);
        if (!g) continue;
        f.widths[static_cast<size_t>(code)] =
            raw.advancesForGlyphIndexes(QList<quint32>{g}, QRawFont::UseDesignMetrics).value(0).x() * 1000.0 / units;
    }
}

// The TrueType file of a font with only the glyphs drawn (and those they are built from) kept; the other glyphs
// keep their numbers with empty outlines, so the font's own character map still points at the right ones.
QByteArray subsetTrueType(const QRawFont& raw, const std::set<quint32>& wanted) {
    QByteArray head = raw.fontTable("head");
    const QByteArray maxp = raw.fontTable("maxp");
    const QByteArray loca = raw.fontTable("loca");
    const QByteArray glyf = raw.fontTable("glyf");
    if (head.size() < 54 || maxp.size() < 6 || loca.isEmpty() || glyf.isEmpty()) return {};
    const int glyphs = u16(maxp, 4);
    const bool longOffsets = i16(head, 50) != 0;
    auto offset = [&](int g) -> quint32 {
        return longOffsets ? u32(loca, static_cast<qsizetype>(g) * 4) : 2u * u16(loca, static_cast<qsizetype>(g) * 2);
    };
    if (loca.size() < (static_cast<qsizetype>(glyphs) + 1) * (longOffsets ? 4 : 2)) return {};
    std::set<quint32> keep = wanted;
    keep.insert(0);
    // Composite glyphs bring the glyphs they are made of.
    std::vector<quint32> work(keep.begin(), keep.end());
    while (!work.empty()) {
        const quint32 g = work.back();
        work.pop_back();
        if (g >= static_cast<quint32>(glyphs)) continue;
        const quint32 from = offset(static_cast<int>(g));
        const quint32 to = offset(static_cast<int>(g) + 1);
        if (to <= from + 10 || to > static_cast<quint32>(glyf.size()) || i16(glyf, from) >= 0) continue;
        qsizetype at = from + 10;
        for (int guard = 0; guard < 64 && at + 4 <= static_cast<qsizetype>(to); ++guard) {
            const quint16 flags = u16(glyf, at);
            const quint32 part = u16(glyf, at + 2);
            if (keep.insert(part).second) work.push_back(part);
            at += 4 + ((flags & 0x1) ? 4 : 2);
            if (flags & 0x8)
                at += 2;
            else if (flags & 0x40)
                at += 4;
            else if (flags & 0x80)
                at += 8;
            if (!(flags & 0x20)) break;
        }
    }
    QByteArray newGlyf;
    QByteArray newLoca;
    put32(newLoca, 0);
    for (int g = 0; g < glyphs; ++g) {
        if (keep.count(static_cast<quint32>(g))) {
            const quint32 from = offset(g);
            const quint32 to = offset(g + 1);
            if (to > from && to <= static_cast<quint32>(glyf.size()))
                newGlyf.append(glyf.constData() + from, static_cast<qsizetype>(to - from));
            while (newGlyf.size() % 4)
                newGlyf += '\0';
        }
        put32(newLoca, static_cast<quint32>(newGlyf.size()));
    }
    set16(head, 50, 1);                      // long offsets
    head.replace(8, 4, QByteArray(4, '\0')); // the whole-file checksum is not kept up to date

    std::map<QByteArray, QByteArray> tables = {{"head", head}, {"loca", newLoca}, {"glyf", newGlyf}, {"maxp", maxp}};
    for (const char* tag : {"cmap", "cvt ", "fpgm", "hhea", "hmtx", "prep", "OS/2", "post"}) {
        const QByteArray t = raw.fontTable(tag);
        if (!t.isEmpty()) tables[QByteArray(tag)] = t;
    }
    if (!tables.count("cmap") || !tables.count("hhea") || !tables.count("hmtx")) return {};
    const int n = static_cast<int>(tables.size());
    int power = 1;
    int log2 = 0;
    while (power * 2 <= n) {
        power *= 2;
        ++log2;
    }
    QByteArray out;
    put32(out, 0x00010000);
    put16(out, static_cast<quint16>(n));
    put16(out, static_cast<quint16>(power * 16));
    put16(out, static_cast<quint16>(log2));
    put16(out, static_cast<quint16>(n * 16 - power * 16));
    quint32 at = 12 + 16 * static_cast<quint32>(n);
    QByteArray data;
    for (auto& [tag, t] : tables) {
        QByteArray padded = t;
        while (padded.size() % 4)
            padded += '\0';
        quint32 sum = 0;
        for (qsizetype i = 0; i < padded.size(); i += 4)
            sum += u32(padded, i);
        out += tag;
        put32(out, sum);
        put32(out, at);
        put32(out, static_cast<quint32>(t.size()));
        data += padded;
        at += static_cast<quint32>(padded.size());
    }
    return out + data;
}

QByteArray pdfName(const QString& text) {
    QByteArray out;
    for (QChar c : text)
        if ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
            (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-'))
            out += static_cast<char>(c.unicode());
    return out.isEmpty() ? QByteArray("Font") : out;
}

// A text string of the document information: UTF-16 with its byte-order mark, in hexadecimal.
QByteArray infoString(const QString& text) {
    QByteArray out = "<FEFF";
    for (QChar c : text)
        out += QByteArray::number(c.unicode(), 16).rightJustified(4, '0').toUpper();
    return out + ">";
}

} // namespace

// ---- The engine -------------------------------------------------------------------------------------------------

class PdfEngine final : public QPaintEngine {
public:
    explicit PdfEngine(PdfDocument& doc, const QString& file)
        : QPaintEngine(QPaintEngine::AllFeatures), m_doc(doc), m_file(file) {}

    QString title;
    QString creator;
    QString error;

    bool begin(QPaintDevice*) override {
        error.clear();
        if (!m_file.open(QIODevice::WriteOnly)) {
            error = m_file.errorString();
            return false;
        }
        m_offsets.assign(4, 0);
        write("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
        startPage();
        return true;
    }

    bool end() override {
        finishPage();
        writeFonts();
        QByteArray res = "<< /ProcSet [/PDF /Text /ImageB /ImageC] /Font <<";
        for (const auto& f : m_fonts)
            if (f->usable) res += " /F" + QByteArray::number(f->number) + ' ' + ref(f->object);
        res += " >> /XObject <<";
        for (const auto& [key, image] : m_images)
            res += " /Im" + QByteArray::number(image.first) + ' ' + ref(image.second);
        res += " >> >>";
        object(3, res);
        QByteArray kids;
        for (int p : m_pageObjects)
            kids += ref(p) + ' ';
        object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(m_pageObjects.size()) + " >>");
        const int info = reserve();
        object(info, "<< /Title " + infoString(title) + " /Creator " + infoString(creator) + " /Producer " +
                         infoString(QStringLiteral("QEV - Regional")) + " /CreationDate (D:" +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss")).toLatin1() + ") >>");
        object(1, "<< /Type /Catalog /Pages 2 0 R >>");
        const qint64 xref = m_pos;
        QByteArray table = "xref\n0 " + QByteArray::number(m_offsets.size()) + "\n0000000000 65535 f \n";
        for (size_t i = 1; i < m_offsets.size(); ++i)
            table += QByteArray::number(m_offsets[i]).rightJustified(10, '0') + " 00000 n \n";
        table += "trailer\n<< /Size " + QByteArray::number(m_offsets.size()) + " /Root 1 0 R /Info " + ref(info) +
                 " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        write(table);
        if (!m_failed && !m_file.commit()) {
            m_failed = true;
            if (error.isEmpty()) error = m_file.errorString();
        }
        if (m_failed) m_file.cancelWriting();
        return !m_failed;
    }

    bool newPage() {
        if (!isActive()) return true;
        finishPage();
        startPage();
        return !m_failed;
    }

    void updateState(const QPaintEngineState& s) override {
        const DirtyFlags f = s.state();
        if (f & DirtyTransform) m_transform = s.transform();
        if (f & DirtyPen) m_pen = s.pen();
        if (f & DirtyBrush) m_brush = s.brush();
        if (f & DirtyFont) m_font = s.font();
    }

    void drawRects(const QRectF* rects, int count) override {
        const bool fill = m_brush.style() != Qt::NoBrush && m_brush.color().alpha() > 0;
        const bool stroke = strokes();
        if ((!fill && !stroke) || !beginOp()) return;
        setColours(fill, stroke);
        for (int i = 0; i < count; ++i)
            m_page << rects[i].x() << rects[i].y() << rects[i].width() << rects[i].height() << "re\n";
        m_page << (fill && stroke ? "B\n" : fill ? "f\n" : "S\n");
        endOp();
    }

    void drawLines(const QLineF* lines, int count) override {
        if (!strokes() || !beginOp()) return;
        setColours(false, true);
        for (int i = 0; i < count; ++i)
            m_page << lines[i].x1() << lines[i].y1() << "m " << lines[i].x2() << lines[i].y2() << "l\n";
        m_page << "S\n";
        endOp();
    }

    void drawPath(const QPainterPath& path) override {
        const bool fill = m_brush.style() != Qt::NoBrush && m_brush.color().alpha() > 0;
        const bool stroke = strokes();
        if ((!fill && !stroke) || path.isEmpty() || !beginOp()) return;
        setColours(fill, stroke);
        putPath(path);
        const bool evenOdd = path.fillRule() == Qt::OddEvenFill;
        m_page << (fill && stroke ? (evenOdd ? "B*\n" : "B\n") : fill ? (evenOdd ? "f*\n" : "f\n") : "S\n");
        endOp();
    }

    void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
        if (count < 2) return;
        QPainterPath path;
        path.moveTo(points[0]);
        for (int i = 1; i < count; ++i)
            path.lineTo(points[i]);
        if (mode == PolylineMode) {
            const QBrush keep = m_brush;
            m_brush = Qt::NoBrush;
            drawPath(path);
            m_brush = keep;
            return;
        }
        path.closeSubpath();
        path.setFillRule(mode == OddEvenMode ? Qt::OddEvenFill : Qt::WindingFill);
        drawPath(path);
    }

    void drawPixmap(const QRectF& r, const QPixmap& pm, const QRectF& sr) override {
        drawImage(r, pm.toImage(), sr, Qt::AutoColor);
    }

    void drawImage(const QRectF& r, const QImage& image, const QRectF& sr, Qt::ImageConversionFlags) override {
        if (image.isNull() || r.isEmpty()) return;
        QImage source = image;
        const QRect part = sr.toAlignedRect().intersected(image.rect());
        if (part.isEmpty()) return;
        if (part != image.rect()) source = image.copy(part);
        const int name = imageObject(source);
        if (name < 0 || !beginOp()) return;
        m_page << r.width() << 0.0 << 0.0 << -r.height() << r.x() << r.y() + r.height() << "cm /Im";
        m_page += QByteArray::number(name);
        m_page += " Do\n";
        endOp();
    }

    void drawTextItem(const QPointF& p, const QTextItem& item) override {
        const QString text = item.text();
        if (text.isEmpty() || m_pen.style() == Qt::NoPen) return;
        const QFont font = item.font();
        EmbeddedFont* f = fontFor(font);
        if (!f || !f->usable) {
            // A font that cannot be embedded is drawn as outlines.
            QPainterPath outline;
            outline.addText(p, font, text);
            const QBrush keepBrush = m_brush;
            const QPen keepPen = m_pen;
            m_brush = m_pen.color();
            m_pen = Qt::NoPen;
            drawPath(outline);
            m_brush = keepBrush;
            m_pen = keepPen;
            return;
        }
        QByteArray bytes;
        bytes.reserve(text.size() + 8);
        double thousandths = 0;
        for (QChar c : text) {
            int code = codeOfUnicode(c.unicode());
            if (code < 0) code = '?';
            f->used.set(static_cast<size_t>(code));
            thousandths += f->widths[static_cast<size_t>(code)];
            if (code == '(' || code == ')' || code == '\\') bytes += '\\';
            bytes += static_cast<char>(code);
        }
        if (!beginOp()) return;
        const QColor c = m_pen.color();
        m_page << c.redF() << c.greenF() << c.blueF() << "rg BT /F";
        m_page += QByteArray::number(f->number);
        m_page += ' ';
        const double size = pixelSize(font);
        m_page << size << "Tf ";
        // The run ends where the layout ended it (its kerning and any rounding included), so the next run on the
        // line neither overlaps it nor leaves a gap.
        const double spacing = (item.width() - thousandths * size / 1000.0) / static_cast<double>(bytes.size());
        if (std::abs(spacing) > 0.001) m_page << spacing << "Tc ";
        m_page << "1 0 0 -1 " << p.x() << p.y() << "Tm (";
        m_page += bytes;
        m_page += ") Tj ET\n";
        endOp();
    }

    Type type() const override { return QPaintEngine::User; }

private:
    // ---- Output ----
    void write(const QByteArray& bytes) {
        if (m_failed) return;
        if (m_file.write(bytes) != bytes.size()) {
            m_failed = true;
            error = m_file.errorString();
        }
        m_pos += bytes.size();
    }
    int reserve() {
        m_offsets.push_back(0);
        return static_cast<int>(m_offsets.size() - 1);
    }
    static QByteArray ref(int object) { return QByteArray::number(object) + " 0 R"; }
    void object(int number, const QByteArray& body) {
        m_offsets[static_cast<size_t>(number)] = m_pos;
        write(QByteArray::number(number) + " 0 obj\n" + body + "\nendobj\n");
    }
    void streamObject(int number, const QByteArray& dict, const QByteArray& data) {
        m_offsets[static_cast<size_t>(number)] = m_pos;
        write(QByteArray::number(number) + " 0 obj\n<< " + dict + " /Length " + QByteArray::number(data.size()) +
              " >>\nstream\n");
        write(data);
        write("\nendstream\nendobj\n");
    }

    // ---- Pages ----
    void startPage() {
        m_layout = m_doc.m_layout;
        const QRectF full = m_layout.fullRectPoints();
        const QRectF paint = m_layout.paintRectPoints();
        const double s = 72.0 / m_doc.m_resolution;
        m_page.clear();
        m_page << "q " << s << 0.0 << 0.0 << -s << paint.left() << full.height() - paint.top() << "cm\n";
        m_started = true;
    }
    void finishPage() {
        if (!m_started) return;
        m_started = false;
        m_page += "Q\n";
        const int content = reserve();
        streamObject(content, "/Filter /FlateDecode", deflated(m_page));
        const QRectF full = m_layout.fullRectPoints();
        QByteArray box;
        box << 0.0 << 0.0 << full.width() << full.height();
        const int page = reserve();
        object(page, "<< /Type /Page /Parent 2 0 R /MediaBox [" + box.trimmed() + "] /Resources 3 0 R /Contents " +
                         ref(content) + " >>");
        m_pageObjects.push_back(page);
    }

    // ---- State on the page ----
    // Each drawing stands in its own saved state: the clip (in page pixels, taken from the painter as it stands,
    // so a clip restored with a saved state is never mapped twice), then the painter's transformation.
    bool beginOp() {
        QPainterPath clipped;
        const QPainter* p = painter();
        const bool clipping = p && p->hasClipping();
        if (clipping) {
            clipped = p->transform().map(p->clipPath());
            if (clipped.isEmpty()) return false; // clipped away entirely
        }
        m_page += "q\n";
        if (clipping) {
            putPath(clipped);
            m_page += clipped.fillRule() == Qt::OddEvenFill ? "W* n\n" : "W n\n";
        }
        if (!m_transform.isIdentity())
            m_page << m_transform.m11() << m_transform.m12() << m_transform.m21() << m_transform.m22()
                   << m_transform.dx() << m_transform.dy() << "cm\n";
        return true;
    }
    void endOp() { m_page += "Q\n"; }
    bool strokes() const { return m_pen.style() != Qt::NoPen && m_pen.color().alpha() > 0; }
    void setColours(bool fill, bool stroke) {
        if (fill) {
            const QColor c = m_brush.color();
            m_page << c.redF() << c.greenF() << c.blueF() << "rg\n";
        }
        if (!stroke) return;
        const QColor c = m_pen.color();
        const double w = m_pen.widthF();
        m_page << c.redF() << c.greenF() << c.blueF() << "RG " << w << "w ";
        m_page << (m_pen.capStyle() == Qt::RoundCap ? "1 J " : m_pen.capStyle() == Qt::SquareCap ? "2 J " : "0 J ");
        m_page << (m_pen.joinStyle() == Qt::RoundJoin ? "1 j " : m_pen.joinStyle() == Qt::BevelJoin ? "2 j " : "0 j ");
        if (m_pen.style() != Qt::SolidLine) {
            m_page += '[';
            for (double d : m_pen.dashPattern())
                m_page << d * std::max(w, 1.0);
            m_page += "] 0 d";
        }
        m_page += '\n';
    }
    void putPath(const QPainterPath& path) {
        for (int i = 0; i < path.elementCount(); ++i) {
            const QPainterPath::Element e = path.elementAt(i);
            switch (e.type) {
            case QPainterPath::MoveToElement:
                m_page << e.x << e.y << "m\n";
                break;
            case QPainterPath::LineToElement:
                m_page << e.x << e.y << "l\n";
                break;
            case QPainterPath::CurveToElement:
                if (i + 2 < path.elementCount()) {
                    const QPainterPath::Element a = path.elementAt(i + 1);
                    const QPainterPath::Element b = path.elementAt(i + 2);
                    m_page << e.x << e.y << a.x << a.y << b.x << b.y << "c\n";
                    i += 2;
                }
                break;
            case QPainterPath::CurveToDataElement:
                break;
            }
        }
    }

    // ---- Fonts ----
    double pixelSize(const QFont& font) const {
        if (font.pixelSize() > 0) return font.pixelSize();
        return font.pointSizeF() * m_doc.m_resolution / 72.0;
    }
    EmbeddedFont* fontFor(const QFont& font) {
        if (m_lastFont && font == m_lastQFont) return m_lastFont;
        const QRawFont raw = QRawFont::fromFont(font);
        if (!raw.isValid()) return nullptr;
        const QString key = raw.familyName() + QChar(0x1f) + raw.styleName();
        auto it = m_fontByName.find(key);
        EmbeddedFont* f = nullptr;
        if (it != m_fontByName.end()) {
            f = it->second;
        } else {
            auto made = std::make_unique<EmbeddedFont>();
            made->raw = raw;
            made->number = static_cast<int>(m_fonts.size()) + 1;
            made->usable = !raw.fontTable("glyf").isEmpty() && !raw.fontTable("cmap").isEmpty() &&
                           !raw.fontTable("head").isEmpty();
            if (made->usable) {
                made->object = reserve();
                measureCodes(*made);
            }
            f = made.get();
            m_fonts.push_back(std::move(made));
            m_fontByName.emplace(key, f);
        }
        m_lastQFont = font;
        m_lastFont = f;
        return f;
    }
    void writeFonts() {
        for (size_t index = 0; index < m_fonts.size(); ++index) {
            EmbeddedFont& f = *m_fonts[index];
            if (!f.usable) continue;
            QRawFont raw = f.raw;
            const QByteArray head = raw.fontTable("head");
            const QByteArray hhea = raw.fontTable("hhea");
            const QByteArray os2 = raw.fontTable("OS/2");
            const QByteArray post = raw.fontTable("post");
            const double units = std::max<quint16>(16, u16(head, 18));
            const double k = 1000.0 / units;
            raw.setPixelSize(units);
            std::set<quint32> glyphs;
            QByteArray widths;
            for (int code = 32; code < 256; ++code) {
                const char16_t u = unicodeOfCode(code);
                if (u && f.used.test(static_cast<size_t>(code))) {
                    const quint32 g = raw.glyphIndexesForString(QString(QChar(u))).value(0);
                    if (g) glyphs.insert(g);
                }
                putNumber(widths, f.widths[static_cast<size_t>(code)]);
                widths += ' ';
            }
            const QByteArray file = subsetTrueType(raw, glyphs);
            if (file.isEmpty()) {
                // The dictionary was promised to the pages: a standard font stands in for it.
                object(f.object, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
                continue;
            }
            const int fileObject = reserve();
            const QByteArray packed = deflated(file);
            streamObject(fileObject, "/Filter /FlateDecode /Length1 " + QByteArray::number(file.size()), packed);
            QByteArray tag(6, 'A');
            for (int i = 5, n = static_cast<int>(index); i >= 0; --i, n /= 26)
                tag[i] = static_cast<char>('A' + n % 26);
            const QByteArray name = tag + '+' + pdfName(raw.familyName()) + '-' + pdfName(raw.styleName());
            const bool italic = raw.style() != QFont::StyleNormal;
            const double ascent = i16(hhea, 4) * k;
            const double descent = i16(hhea, 6) * k;
            const double cap = (os2.size() >= 90 && u16(os2, 0) >= 2) ? i16(os2, 88) * k : ascent;
            const double angle = static_cast<qint32>(u32(post, 4)) / 65536.0;
            QByteArray desc = "<< /Type /FontDescriptor /FontName /" + name + " /Flags " +
                              QByteArray::number(32 + (italic ? 64 : 0)) + " /FontBBox [";
            desc << i16(head, 36) * k << i16(head, 38) * k << i16(head, 40) * k << i16(head, 42) * k;
            desc += "] /ItalicAngle ";
            desc << angle << "/Ascent " << ascent << "/Descent " << descent << "/CapHeight " << cap;
            desc += "/StemV 80 /FontFile2 " + ref(fileObject) + " >>";
            const int descObject = reserve();
            object(descObject, desc);
            object(f.object, "<< /Type /Font /Subtype /TrueType /BaseFont /" + name +
                                 " /FirstChar 32 /LastChar 255 /Widths [" + widths.trimmed() +
                                 "] /Encoding /WinAnsiEncoding /FontDescriptor " + ref(descObject) + " >>");
        }
    }

    // ---- Pictures ----
    // The resource number of a picture, written the first time it is drawn.
    int imageObject(const QImage& image) {
        if (auto it = m_images.find(image.cacheKey()); it != m_images.end()) return it->second.first;
        const bool alpha = image.hasAlphaChannel();
        const bool grey = image.isGrayscale();
        QImage pixels = image.convertToFormat(grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
        const int channels = grey ? 1 : 3;
        QByteArray raw;
        raw.reserve(static_cast<qsizetype>(pixels.width()) * pixels.height() * channels);
        for (int y = 0; y < pixels.height(); ++y)
            raw.append(reinterpret_cast<const char*>(pixels.constScanLine(y)),
                       static_cast<qsizetype>(pixels.width()) * channels);
        QByteArray data;
        QByteArray filter = "/FlateDecode";
        // Large pictures without transparency (scanned cards and documents) go as JPEG, as scanners keep them.
        if (!alpha && static_cast<qint64>(pixels.width()) * pixels.height() > 250000) {
            QBuffer buffer(&data);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpg");
            writer.setQuality(90);
            if (writer.write(pixels))
                filter = "/DCTDecode";
            else
                data.clear();
        }
        if (data.isEmpty()) data = deflated(raw);
        if (data.isEmpty()) return -1;
        QByteArray dict = "/Type /XObject /Subtype /Image /Width " + QByteArray::number(pixels.width()) + " /Height " +
                          QByteArray::number(pixels.height()) + " /ColorSpace " +
                          (grey ? "/DeviceGray" : "/DeviceRGB") + " /BitsPerComponent 8 /Filter " + filter;
        if (alpha) {
            const QImage a = image.convertToFormat(QImage::Format_Alpha8);
            QByteArray mask;
            for (int y = 0; y < a.height(); ++y)
                mask.append(reinterpret_cast<const char*>(a.constScanLine(y)), a.width());
            const int maskObject = reserve();
            streamObject(maskObject,
                         "/Type /XObject /Subtype /Image /Width " + QByteArray::number(a.width()) + " /Height " +
                             QByteArray::number(a.height()) +
                             " /ColorSpace /DeviceGray /BitsPerComponent 8 /Filter /FlateDecode",
                         deflated(mask));
            dict += " /SMask " + ref(maskObject);
        }
        const int number = static_cast<int>(m_images.size()) + 1;
        const int obj = reserve();
        streamObject(obj, dict, data);
        m_images.emplace(image.cacheKey(), std::make_pair(number, obj));
        return number;
    }

    PdfDocument& m_doc;
    QSaveFile m_file;
    qint64 m_pos = 0;
    bool m_failed = false;
    std::vector<qint64> m_offsets; // by object number; 1 catalog, 2 page tree, 3 shared resources
    std::vector<int> m_pageObjects;
    QPageLayout m_layout;
    QByteArray m_page;
    bool m_started = false;

    QTransform m_transform;
    QPen m_pen;
    QBrush m_brush;
    QFont m_font;

    std::vector<std::unique_ptr<EmbeddedFont>> m_fonts;
    std::unordered_map<QString, EmbeddedFont*> m_fontByName;
    QFont m_lastQFont;
    EmbeddedFont* m_lastFont = nullptr;
    std::map<qint64, std::pair<int, int>> m_images; // cache key → (resource number, object)
};

// ---- The device -------------------------------------------------------------------------------------------------

PdfDocument::PdfDocument(const QString& file, int resolution)
    : m_engine(std::make_unique<PdfEngine>(*this, file)),
      m_layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter),
      m_resolution(std::max(72, resolution)) {}

PdfDocument::~PdfDocument() = default;

void PdfDocument::setTitle(const QString& title) {
    m_engine->title = title;
}
void PdfDocument::setCreator(const QString& creator) {
    m_engine->creator = creator;
}
QString PdfDocument::errorString() const {
    return m_engine->error;
}

QPaintEngine* PdfDocument::paintEngine() const {
    return m_engine.get();
}

bool PdfDocument::setPageLayout(const QPageLayout& layout) {
    if (!layout.isValid()) return false;
    m_layout = layout;
    return true;
}

bool PdfDocument::newPage() {
    return m_engine->newPage();
}

int PdfDocument::metric(PaintDeviceMetric m) const {
    const QRect paint = m_layout.paintRectPixels(m_resolution);
    const QRectF mm = m_layout.paintRect(QPageLayout::Millimeter);
    switch (m) {
    case PdmWidth:
        return paint.width();
    case PdmHeight:
        return paint.height();
    case PdmWidthMM:
        return qRound(mm.width());
    case PdmHeightMM:
        return qRound(mm.height());
    case PdmNumColors:
        return INT_MAX;
    case PdmDepth:
        return 32;
    case PdmDpiX:
    case PdmDpiY:
    case PdmPhysicalDpiX:
    case PdmPhysicalDpiY:
        return m_resolution;
    case PdmDevicePixelRatio:
        return 1;
    case PdmDevicePixelRatioScaled:
        return static_cast<int>(devicePixelRatioFScale());
    }
    return 0;
}

} // namespace qev::reports
