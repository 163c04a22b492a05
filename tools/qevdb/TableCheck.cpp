#include "TableCheck.h"

#include "dbf/FileIo.h"
#include "dbf/Table.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <map>
#include <utility>

namespace qev::tools {

namespace {

uint16_t u16At(const QByteArray& b, qsizetype at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

uint32_t u32At(const QByteArray& b, qsizetype at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(b[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(b[at + 3])) << 24;
}

// What the header says, read without the engine so that a header the engine refuses can still be described.
struct RawHeader {
    int level = 0; // 3 for III/IV/5, 4 for level 7
    bool dbase3Memo = false;
    uint32_t count = 0;
    int headerLength = 0;
    int recordLength = 0;
    struct Field {
        QString name;
        char type = 0;
        int length = 0;
    };
    std::vector<Field> fields;
};

// The memo file beside the table, as far as the pointer check needs it.
struct MemoInfo {
    QString name;
    bool present = false;
    bool dbase3 = false;
    qint64 size = 0;
    int blockSize = 0;
    QFile file;
};

class Checker {
public:
    Checker(const QString& path, int maxListed) : m_path(path), m_name(QFileInfo(path).fileName()), m_max(maxListed) {}

    CheckReport run() {
        QFile f(m_path);
        if (!f.exists()) return unreadable(QStringLiteral("%1: el archivo no existe").arg(m_name));
        if (!f.open(QIODevice::ReadOnly)) {
            return unreadable(QStringLiteral("%1: no se puede leer: %2").arg(m_name, f.errorString()));
        }
        m_size = f.size();
        RawHeader h;
        if (!readHeader(f, h)) return m_report;
        checkSize(h);
        openMemo(h);

        auto opened = dbf::Table::open(m_path.toStdString(), dbf::OpenMode::ReadOnly);
        if (!opened) {
            return unreadable(QStringLiteral("%1: el motor no puede abrir la tabla: %2")
                                  .arg(m_name, QString::fromStdString(opened.error())));
        }
        checkRecords(**opened, h);
        noteInterruptedChange();
        // Every tag of the production index against the table: pages, order, count, dangling and missing keys.
        for (const std::string& p : (*opened)->checkIndexFile(true))
            problem(QString::fromStdString(p));
        if (m_report.status != CheckReport::Status::Unreadable && (!m_report.problems.isEmpty() || m_report.unlisted))
            m_report.status = CheckReport::Status::Problems;
        return m_report;
    }

private:
    // A process that died in the middle of a change leaves its note in the index journal: the keys it had not put
    // right yet show below as index problems, which the table's next open for writing repairs.
    void noteInterruptedChange() {
        bool exists = false;
        const std::string journal = dbf::companionFile(m_path.toStdString(), ".MDJ", &exists);
        if (!exists) return;
        QFile j(QString::fromStdString(journal));
        if (!j.open(QIODevice::ReadOnly) || j.read(4) != QByteArrayLiteral("QJN1")) return;
        problem(QStringLiteral("%1: un cambio quedó a medias (el programa que lo hacía se cortó); la próxima "
                               "apertura de la tabla para escribir lo completa")
                    .arg(QFileInfo(QString::fromStdString(journal)).fileName()));
    }

    CheckReport unreadable(const QString& why) {
        m_report.status = CheckReport::Status::Unreadable;
        m_report.problems << why;
        return m_report;
    }

    void problem(const QString& text) {
        if (m_report.problems.size() < m_max)
            m_report.problems << text;
        else
            ++m_report.unlisted;
    }

    QString at(uint32_t recno, const QString& field) const {
        return QStringLiteral("%1: registro %2, campo %3").arg(m_name).arg(recno).arg(field);
    }

    bool readHeader(QFile& f, RawHeader& h) {
        const QByteArray fixed = f.read(32);
        if (fixed.size() < 32) {
            unreadable(QStringLiteral("%1: la cabecera está incompleta (%2 bytes)").arg(m_name).arg(m_size));
            return false;
        }
        const auto version = static_cast<uint8_t>(fixed[0]);
        h.level = version & 0x07;
        if (h.level != 3 && h.level != 4) {
            unreadable(QStringLiteral("%1: no es una tabla dBase (byte de versión 0x%2)")
                           .arg(m_name)
                           .arg(version, 2, 16, QLatin1Char('0')));
            return false;
        }
        h.dbase3Memo = version == 0x83 || (version == 0x03 && fixed[29] == 0);
        h.count = u32At(fixed, 4);
        h.headerLength = u16At(fixed, 8);
        h.recordLength = u16At(fixed, 10);
        const int fixedLength = h.level == 4 ? 68 : 32;
        const int descLength = h.level == 4 ? 48 : 32;
        if (h.headerLength < fixedLength + 1 || h.headerLength > m_size) {
            unreadable(QStringLiteral("%1: el largo de cabecera %2 no entra en el archivo de %3 bytes")
                           .arg(m_name)
                           .arg(h.headerLength)
                           .arg(m_size));
            return false;
        }
        if (h.recordLength < 1) {
            unreadable(QStringLiteral("%1: el largo de registro es 0").arg(m_name));
            return false;
        }
        f.seek(0);
        const QByteArray header = f.read(h.headerLength);
        if (header.size() < h.headerLength) {
            unreadable(QStringLiteral("%1: la cabecera no se puede leer completa").arg(m_name));
            return false;
        }
        int pos = fixedLength;
        int used = 1;
        for (;; pos += descLength) {
            if (pos >= h.headerLength || (header[pos] != '\x0D' && pos + descLength > h.headerLength)) {
                unreadable(QStringLiteral("%1: la lista de campos no tiene marca de fin").arg(m_name));
                return false;
            }
            if (header[pos] == '\x0D') break;
            RawHeader::Field fd;
            const int nameLength = h.level == 4 ? 32 : 11;
            const QByteArray rawName = header.mid(pos, nameLength);
            fd.name = QString::fromLatin1(rawName.left(rawName.indexOf('\0') < 0 ? nameLength : rawName.indexOf('\0')))
                          .trimmed();
            fd.type = header[pos + (h.level == 4 ? 32 : 11)];
            fd.length = static_cast<uint8_t>(header[pos + (h.level == 4 ? 33 : 16)]);
            if (h.level == 3 && fd.type == 'C') fd.length |= static_cast<uint8_t>(header[pos + 17]) << 8;
            checkFieldDescriptor(fd);
            used += fd.length;
            h.fields.push_back(fd);
        }
        if (h.fields.empty()) {
            unreadable(QStringLiteral("%1: la tabla no tiene campos").arg(m_name));
            return false;
        }
        if (used > h.recordLength) {
            unreadable(QStringLiteral("%1: los campos ocupan %2 bytes pero el registro declara %3")
                           .arg(m_name)
                           .arg(used)
                           .arg(h.recordLength));
            return false;
        }
        if (used < h.recordLength) {
            problem(QStringLiteral("%1: los campos ocupan %2 bytes pero el registro declara %3")
                        .arg(m_name)
                        .arg(used)
                        .arg(h.recordLength));
        }
        return true;
    }

    void checkFieldDescriptor(const RawHeader::Field& fd) {
        static const QString kTypes = QStringLiteral("CNFDLMBGIO@+");
        if (fd.name.isEmpty()) problem(QStringLiteral("%1: un campo no tiene nombre").arg(m_name));
        if (!kTypes.contains(QLatin1Char(fd.type))) {
            problem(QStringLiteral("%1: el campo %2 tiene un tipo desconocido (0x%3)")
                        .arg(m_name, fd.name)
                        .arg(static_cast<uint8_t>(fd.type), 2, 16, QLatin1Char('0')));
            return;
        }
        int expected = 0;
        switch (fd.type) {
        case 'D':
        case 'O':
        case '@':
            expected = 8;
            break;
        case 'L':
            expected = 1;
            break;
        case 'I':
        case '+':
            expected = 4;
            break;
        case 'M':
        case 'B':
        case 'G':
            if (fd.length != 4) expected = 10;
            break;
        default:
            break;
        }
        if (fd.length == 0 || (expected && fd.length != expected)) {
            problem(QStringLiteral("%1: el campo %2 de tipo %3 tiene largo %4")
                        .arg(m_name, fd.name, QString(QLatin1Char(fd.type)))
                        .arg(fd.length));
        }
    }

    void checkSize(const RawHeader& h) {
        const qint64 expected = qint64(h.headerLength) + qint64(h.count) * h.recordLength;
        m_fullRecords = static_cast<uint32_t>(std::min<qint64>(h.count, (m_size - h.headerLength) / h.recordLength));
        if (m_size < expected) {
            problem(QStringLiteral("%1: el archivo tiene %2 bytes pero la cabecera declara %3 registros de %4 bytes "
                                   "(se necesitan %5); solo hay %6 registros completos")
                        .arg(m_name)
                        .arg(m_size)
                        .arg(h.count)
                        .arg(h.recordLength)
                        .arg(expected)
                        .arg(m_fullRecords));
        } else if (m_size > expected + 1) {
            problem(QStringLiteral("%1: hay %2 bytes después del último de los %3 registros declarados "
                                   "(¿registros agregados sin contar?)")
                        .arg(m_name)
                        .arg(m_size - expected)
                        .arg(h.count));
        }
    }

    void openMemo(const RawHeader& h) {
        const bool anyMemo = std::any_of(h.fields.begin(), h.fields.end(), [](const RawHeader::Field& fd) {
            return fd.type == 'M' || fd.type == 'B' || fd.type == 'G';
        });
        if (!anyMemo) return;
        bool exists = false;
        const std::string memoPath = dbf::companionFile(m_path.toStdString(), ".DBT", &exists);
        m_memo.name = QFileInfo(QString::fromStdString(memoPath)).fileName();
        m_memo.dbase3 = h.dbase3Memo;
        if (!exists) return;
        m_memo.file.setFileName(QString::fromStdString(memoPath));
        if (!m_memo.file.open(QIODevice::ReadOnly)) {
            problem(QStringLiteral("%1: no se puede leer %2: %3").arg(m_name, m_memo.name, m_memo.file.errorString()));
            return;
        }
        m_memo.size = m_memo.file.size();
        const QByteArray head = m_memo.file.read(22);
        if (head.size() < 22) {
            problem(QStringLiteral("%1: la cabecera de %2 está incompleta").arg(m_name, m_memo.name));
            return;
        }
        m_memo.blockSize = m_memo.dbase3 ? 512 : u16At(head, 20);
        if (m_memo.blockSize == 0) m_memo.blockSize = 512;
        m_memo.present = true;
    }

    void checkRecords(dbf::Table& table, const RawHeader& h) {
        m_report.declaredRecords = h.count;
        constexpr uint32_t kChunk = 256;
        std::string raw;
        const auto fieldCount = static_cast<int>(table.fields().size());
        for (uint32_t first = 1; first <= m_fullRecords; first += kChunk) {
            const uint32_t n = std::min(kChunk, m_fullRecords - first + 1);
            if (auto r = table.readRaw(first, n, raw); !r) {
                problem(QStringLiteral("%1: %2").arg(m_name, QString::fromStdString(r.error())));
                return;
            }
            for (uint32_t i = 0; i < n; ++i) {
                const uint32_t recno = first + i;
                const char* rec = raw.data() + static_cast<size_t>(i) * static_cast<size_t>(table.recordLength());
                if (rec[0] != ' ' && rec[0] != '*') {
                    problem(QStringLiteral("%1: registro %2: la marca de borrado es 0x%3 (se espera ' ' o '*')")
                                .arg(m_name)
                                .arg(recno)
                                .arg(static_cast<uint8_t>(rec[0]), 2, 16, QLatin1Char('0')));
                }
                int offset = 1;
                for (int fi = 0; fi < fieldCount; ++fi) {
                    const dbf::FieldDef& fd = table.fields()[static_cast<size_t>(fi)];
                    const QString fieldName = QString::fromStdString(fd.name);
                    bool decode = true;
                    if (fd.isMemo()) decode = checkMemoPointer(recno, fieldName, rec + offset, fd.length);
                    if (decode) {
                        auto v = table.decodeField(rec, fi, recno);
                        if (!v)
                            problem(
                                QStringLiteral("%1: %2").arg(at(recno, fieldName), QString::fromStdString(v.error())));
                    }
                    offset += fd.length;
                }
                ++m_report.checkedRecords;
            }
        }
    }

    // Checks one memo pointer against the .DBT; answers whether the engine may read it (the pointer is sound).
    bool checkMemoPointer(uint32_t recno, const QString& field, const char* raw, int length) {
        const std::optional<uint32_t> pointer = dbf::io::memoBlock(raw, length);
        if (!pointer) {
            const QByteArray text = QByteArray(raw, length).replace('\0', ' ').trimmed();
            problem(QStringLiteral("%1: el puntero de memo '%2' no es un número")
                        .arg(at(recno, field), QString::fromLatin1(text)));
            return false;
        }
        const uint32_t block = *pointer;
        if (block == 0) return false;
        if (!m_memo.present) {
            problem(QStringLiteral("%1: apunta al bloque %2 pero falta el archivo de memos %3")
                        .arg(at(recno, field))
                        .arg(block)
                        .arg(m_memo.name));
            return false;
        }
        const qint64 start = qint64(block) * m_memo.blockSize;
        const qint64 blocks = m_memo.size / m_memo.blockSize;
        if (start >= m_memo.size) {
            problem(QStringLiteral("%1: el puntero de memo %2 queda fuera de %3 (%4 bloques de %5 bytes)")
                        .arg(at(recno, field))
                        .arg(block)
                        .arg(m_memo.name)
                        .arg(blocks)
                        .arg(m_memo.blockSize));
            return false;
        }
        if (auto [it, inserted] = m_usedBlocks.emplace(block, std::make_pair(recno, field)); !inserted) {
            problem(QStringLiteral("%1: el bloque %2 de %3 también lo usa el registro %4, campo %5")
                        .arg(at(recno, field))
                        .arg(block)
                        .arg(m_memo.name)
                        .arg(it->second.first)
                        .arg(it->second.second));
            return false;
        }
        if (m_memo.dbase3) return true;
        m_memo.file.seek(start);
        const QByteArray head = m_memo.file.read(8);
        if (head.size() < 8 || static_cast<uint8_t>(head[0]) != 0xFF || static_cast<uint8_t>(head[1]) != 0xFF ||
            head[2] != '\x08' || head[3] != '\0') {
            problem(QStringLiteral("%1: el bloque %2 de %3 no es el comienzo de un memo")
                        .arg(at(recno, field))
                        .arg(block)
                        .arg(m_memo.name));
            return false;
        }
        const uint32_t memoLength = u32At(head, 4);
        if (memoLength < 8 || start + memoLength > m_memo.size) {
            problem(QStringLiteral("%1: el memo del bloque %2 declara %3 bytes y sobrepasa el final de %4")
                        .arg(at(recno, field))
                        .arg(block)
                        .arg(memoLength)
                        .arg(m_memo.name));
            return false;
        }
        return true;
    }

    QString m_path;
    QString m_name;
    int m_max;
    qint64 m_size = 0;
    uint32_t m_fullRecords = 0;
    MemoInfo m_memo;
    std::map<uint32_t, std::pair<uint32_t, QString>> m_usedBlocks;
    CheckReport m_report;
};

} // namespace

CheckReport checkTable(const QString& path, int maxListed) {
    return Checker(path, maxListed).run();
}

} // namespace qev::tools
