// The livescan card archive: ten fingers round trip, hostile archives are refused without writing anything anywhere,
// and a pack that cannot finish leaves the previous archive as it was.
#include "capture/FingerArchive.h"
#include "TempAppDir.h"

#include <zip.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>

namespace qev::capture {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Members = std::vector<std::pair<std::string, Bytes>>;

Bytes wsqBytes(int finger, size_t size = 3000) {
    // Noise, so the archive is about as large as its members, as with real WSQ data.
    Bytes b(size);
    std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(finger);
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b[i] = static_cast<std::uint8_t>(x);
    }
    b[0] = 0xFF;
    b[1] = 0xA0;
    return b;
}

void writeBytes(const std::string& path, const Bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// An archive made by another program: the members exactly as named.
void makeZip(const std::string& path, const Members& members) {
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    for (const auto& [name, bytes] : members) {
        zip_source_t* s = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
        ASSERT_GE(zip_file_add(za, name.c_str(), s, ZIP_FL_ENC_UTF_8), 0) << name;
    }
    ASSERT_EQ(zip_close(za), 0);
}

Members tenFingers() {
    Members m;
    for (int f = 1; f <= 10; ++f)
        m.emplace_back("dedo" + std::to_string(f) + ".wsq", wsqBytes(f));
    return m;
}

QStringList listing(const QString& folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

class FingerArchiveTest : public ::testing::Test {
protected:
    FingerArchiveTest() { QDir(dir.path()).mkpath(QStringLiteral("dest")); }
    std::string dest() const { return dir.filePath("dest"); }
    test::TempAppDir dir;
};

TEST_F(FingerArchiveTest, TenFingersRoundTripAndOnlyFingerMembersAreWritten) {
    std::vector<std::string> files;
    QDir(dir.path()).mkpath(QStringLiteral("src"));
    for (int f = 1; f <= 10; ++f) {
        files.push_back(dir.filePath("src/dedo" + std::to_string(f) + ".wsq"));
        writeBytes(files.back(), wsqBytes(f));
    }
    const std::string archive = dir.filePath("dedos.zip");
    ASSERT_TRUE(FingerArchive::pack(files, archive).ok());
    EXPECT_EQ(listing(dir.path()), QStringList({"dedos.zip", "dest", "src"})) << "no temporary file is left";

    auto unpacked = FingerArchive::unpack(archive, dest());
    ASSERT_TRUE(unpacked.ok()) << unpacked.error();
    ASSERT_EQ(unpacked->size(), 10u);
    for (int f = 1; f <= 10; ++f) {
        EXPECT_EQ((*unpacked)[size_t(f - 1)], dest() + "/dedo" + std::to_string(f) + ".wsq");
        EXPECT_EQ(readBytes((*unpacked)[size_t(f - 1)]), wsqBytes(f)) << "finger " << f;
    }

    // Another program's archive: names in any case, a readme beside the fingers, finger 9 missing.
    Members m = tenFingers();
    m.erase(m.begin() + 8);
    m[4].first = "DEDO5.WSQ";
    m.emplace_back("readme.txt", Bytes{'h', 'o', 'l', 'a'});
    const std::string other = dir.filePath("otro.zip");
    makeZip(other, m);
    QDir(QString::fromStdString(dest())).removeRecursively();
    QDir(dir.path()).mkpath(QStringLiteral("dest"));
    unpacked = FingerArchive::unpack(other, dest());
    ASSERT_TRUE(unpacked.ok()) << unpacked.error();
    EXPECT_EQ(unpacked->size(), 9u) << "the caller reports the missing finger";
    EXPECT_EQ(listing(QString::fromStdString(dest())),
              QStringList({"dedo1.wsq", "dedo10.wsq", "dedo2.wsq", "dedo3.wsq", "dedo4.wsq", "dedo5.wsq", "dedo6.wsq",
                           "dedo7.wsq", "dedo8.wsq"}));
    EXPECT_EQ(readBytes(dest() + "/dedo5.wsq"), wsqBytes(5));

    EXPECT_EQ(FingerArchive::unpack(dir.filePath("nada.zip"), dest()).error(),
              "ERROR: No existe archivo origen " + dir.filePath("nada.zip"));
    EXPECT_EQ(FingerArchive::unpack(archive, dir.filePath("falta")).error(),
              "ERROR: No existe directorio destino " + dir.filePath("falta"));
}

struct HostileCase {
    const char* name;
    std::function<void(const std::string& archive, const std::string& root)> make;
    const char* message; // expected in the error text
};

void PrintTo(const HostileCase& c, std::ostream* os) {
    *os << c.name;
}

class HostileArchiveTest : public FingerArchiveTest, public ::testing::WithParamInterface<HostileCase> {};

// Sets the uncompressed size of the first member in its local header and in the central directory.
void lieAboutSize(const std::string& path, std::uint32_t size) {
    Bytes z = readBytes(path);
    auto put32 = [&](size_t at) {
        for (int i = 0; i < 4; ++i)
            z[at + size_t(i)] = static_cast<std::uint8_t>(size >> (8 * i));
    };
    ASSERT_EQ(z[0], 'P');
    put32(22);
    for (size_t i = 0; i + 4 < z.size(); ++i)
        if (z[i] == 'P' && z[i + 1] == 'K' && z[i + 2] == 1 && z[i + 3] == 2) {
            put32(i + 24);
            break;
        }
    writeBytes(path, z);
}

Members withExtra(std::string name, Bytes bytes) {
    Members m = tenFingers();
    m.emplace_back(std::move(name), std::move(bytes));
    return m;
}

TEST_P(HostileArchiveTest, IsRefusedAndNothingIsWrittenAnywhere) {
    const std::string archive = dir.filePath("z1.7");
    GetParam().make(archive, dir.pathStd());
    const QStringList before = listing(dir.path());

    const auto unpacked = FingerArchive::unpack(archive, dest());
    ASSERT_FALSE(unpacked.ok());
    EXPECT_EQ(unpacked.error().rfind("ERROR: No se pudo descomprimir archivo", 0), 0u) << unpacked.error();
    EXPECT_NE(unpacked.error().find(GetParam().message), std::string::npos) << unpacked.error();
    EXPECT_TRUE(listing(QString::fromStdString(dest())).isEmpty())
        << listing(QString::fromStdString(dest())).join(' ').toStdString();
    EXPECT_EQ(listing(dir.path()), before);
}

const std::uint32_t kOver = static_cast<std::uint32_t>(kMaxFingerMemberBytes) + 1024 * 1024;

INSTANTIATE_TEST_SUITE_P(
    Members, HostileArchiveTest,
    ::testing::Values(
        HostileCase{"ParentFolder", [](auto& a, auto&) { makeZip(a, withExtra("../x.wsq", wsqBytes(1))); },
                    "\"../x.wsq\" incluye una ruta"},
        HostileCase{"AbsolutePath",
                    [](auto& a, auto& root) { makeZip(a, withExtra(root + "/dedo1.wsq", wsqBytes(1))); },
                    "/dedo1.wsq\" incluye una ruta"},
        HostileCase{"SubFolder", [](auto& a, auto&) { makeZip(a, withExtra("a/dedo1.wsq", wsqBytes(1))); },
                    "\"a/dedo1.wsq\" incluye una ruta"},
        HostileCase{"Backslash", [](auto& a, auto&) { makeZip(a, withExtra("..\\dedo2.wsq", wsqBytes(2))); },
                    "\"..\\dedo2.wsq\" incluye una ruta"},
        HostileCase{"TwiceTheSameFinger", [](auto& a, auto&) { makeZip(a, withExtra("Dedo4.wsq", wsqBytes(4))); },
                    "\"Dedo4.wsq\" está repetido"},
        HostileCase{"NotWsq",
                    [](auto& a, auto&) {
                        Members m = tenFingers();
                        m[2].second = Bytes{'G', 'I', 'F', '8', '9', 'a'};
                        makeZip(a, m);
                    },
                    "\"dedo3.wsq\" no es un archivo WSQ"},
        HostileCase{"Oversized",
                    [](auto& a, auto&) {
                        Members m = tenFingers();
                        m[3].second = wsqBytes(4, kOver);
                        makeZip(a, m);
                    },
                    "\"dedo4.wsq\" supera el tamaño máximo de 8 MB"},
        HostileCase{"OversizedBehindASmallHeader",
                    [](auto& a, auto&) {
                        Members m = tenFingers();
                        m.insert(m.begin(), {"dedo6.wsq", wsqBytes(6, kOver)});
                        m.erase(m.begin() + 6);
                        makeZip(a, m);
                        lieAboutSize(a, 4000);
                    },
                    "\"dedo6.wsq\""},
        HostileCase{"NotAZip", [](auto& a, auto&) { writeBytes(a, wsqBytes(1)); }, ""},
        HostileCase{"Truncated",
                    [](auto& a, auto&) {
                        makeZip(a, tenFingers());
                        Bytes z = readBytes(a);
                        z.resize(z.size() / 2);
                        writeBytes(a, z);
                    },
                    ""}),
    [](const ::testing::TestParamInfo<HostileCase>& p) { return std::string(p.param.name); });

TEST_F(FingerArchiveTest, DamagedArchiveGivesTheExactText) {
    const std::string archive = dir.filePath("z1.7");
    writeBytes(archive, Bytes(500, 0x50));
    EXPECT_EQ(FingerArchive::unpack(archive, dest()).error(), "ERROR: No se pudo descomprimir archivo");
}

class FailedPackTest : public FingerArchiveTest {
protected:
    FailedPackTest() {
        for (int f = 1; f <= 10; ++f) {
            files.push_back(dir.filePath("dest/dedo" + std::to_string(f) + ".wsq"));
            writeBytes(files.back(), wsqBytes(f, 40000));
        }
        writeBytes(archive, old);
    }
    void expectOldArchiveIntact() {
        EXPECT_EQ(readBytes(archive), old);
        EXPECT_EQ(listing(dir.path()), QStringList({"dedos.zip", "dest"})) << "no temporary file is left";
    }
    std::vector<std::string> files;
    std::string archive = dir.filePath("dedos.zip");
    Bytes old = Bytes{'v', 'i', 'e', 'j', 'o'};
};

TEST_F(FailedPackTest, LeavesTheOldArchive) {
    std::vector<std::string> missing = files;
    missing[6] = dir.filePath("dest/dedo77.wsq");
    EXPECT_EQ(FingerArchive::pack(missing, archive).error(), "ERROR: No existe archivo origen " + missing[6]);
    expectOldArchiveIntact();
    EXPECT_EQ(FingerArchive::pack({}, archive).error(), "ERROR: No se pudieron comprimir los archivos");
    expectOldArchiveIntact();

    // The disk fills up while the temporary file is written (a file size limit holds for root too).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const auto packed = FingerArchive::pack(files, archive);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(packed.error(), "ERROR: No se puede generar el archivo zip " + archive);
    expectOldArchiveIntact();

    // A folder stands where the archive goes: it cannot be replaced.
    const std::string folderArchive = dir.filePath("dest/sub.zip");
    QDir().mkpath(QString::fromStdString(folderArchive));
    EXPECT_EQ(FingerArchive::pack(files, folderArchive).error(),
              "ERROR: No se puede generar el archivo zip " + folderArchive);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folderArchive)).isDir());
    EXPECT_EQ(listing(QString::fromStdString(dest())).size(), 11);
    expectOldArchiveIntact();
}

TEST_F(FailedPackTest, InAReadOnlyFolderLeavesTheOldArchive) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const auto packed = FingerArchive::pack(files, archive);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_EQ(packed.error(), "ERROR: No se puede generar el archivo zip " + archive);
    expectOldArchiveIntact();
}

} // namespace
} // namespace qev::capture
