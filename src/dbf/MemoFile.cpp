#include "dbf/MemoFile.h"

#include "dbf/FileIo.h"
#include "dbf/Locks.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace qev::dbf {

namespace {

using io::baseName;
using io::getU32;
using io::putU32;

constexpr uint32_t kMaxMemoBytes = 256u * 1024u * 1024u; // refuse anything larger as damage

} // namespace

Result<MemoFile*> MemoFile::open(const std::string& path, bool dbase3, bool readOnly) {
    const int fd = ::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0) return fail(baseName(path) + ": cannot open the memo file: " + std::strerror(errno));
    auto* m = new MemoFile;
    m->m_path = path;
    m->m_fd = fd;
    m->m_dbase3 = dbase3;
    m->m_readOnly = readOnly;
    unsigned char hdr[24] = {};
    if (!m->readAt(0, hdr, sizeof hdr)) {
        delete m;
        return fail(baseName(path) + ": memo file header is truncated");
    }
    if (!dbase3) {
        const int bs = hdr[20] | hdr[21] << 8;
        // A block size that is not a sensible multiple of 64 falls back to the classic 512.
        m->m_blockSize = (bs >= 64 && bs % 64 == 0 && bs <= 32768) ? bs : 512;
    }
    return m;
}

Result<void> MemoFile::create(const std::string& path, const std::string& tableStem, bool dbase3, int blockSize) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return fail(baseName(path) + ": cannot create the memo file: " + std::strerror(errno));
    const int bs = dbase3 ? 512 : blockSize;
    std::vector<unsigned char> block(static_cast<size_t>(bs), 0);
    putU32(block.data(), 1); // next available block
    if (!dbase3) {
        const std::string stem = tableStem.substr(0, 8);
        std::memcpy(block.data() + 8, stem.data(), stem.size());
        block[20] = static_cast<unsigned char>(bs & 0xFF);
        block[21] = static_cast<unsigned char>(bs >> 8);
    } else {
        block[16] = 0x03;
    }
    const bool ok = ::pwrite(fd, block.data(), block.size(), 0) == static_cast<ssize_t>(block.size());
    ::close(fd);
    if (!ok) return fail(baseName(path) + ": cannot write the memo file header");
    return {};
}

MemoFile::~MemoFile() {
    if (m_fd >= 0) ::close(m_fd);
}

bool MemoFile::readAt(uint64_t offset, void* buf, size_t len) const {
    return io::readFully(m_fd, offset, buf, len);
}

bool MemoFile::writeAt(uint64_t offset, const void* buf, size_t len) {
    return io::writeFully(m_fd, offset, buf, len);
}

uint32_t MemoFile::u32At(uint64_t offset) const {
    unsigned char b[4] = {};
    if (!readAt(offset, b, 4)) return 0;
    return getU32(b);
}

Result<void> MemoFile::sync() {
    if (::fdatasync(m_fd) != 0) return fail(baseName(m_path) + ": cannot write to disk: " + std::strerror(errno));
    return {};
}

uint64_t MemoFile::fileSize() const {
    return io::fileSize(m_fd);
}

uint32_t MemoFile::blocksFor(size_t size) const {
    const size_t total = m_dbase3 ? size + 2 : size + 8;
    return static_cast<uint32_t>((total + static_cast<size_t>(m_blockSize) - 1) / static_cast<size_t>(m_blockSize));
}

Result<std::string> MemoFile::read(uint32_t block) {
    const std::string name = baseName(m_path);
    const uint64_t size = fileSize();
    const uint64_t offset = static_cast<uint64_t>(block) * static_cast<uint64_t>(m_blockSize);
    if (block == 0 || offset >= size) {
        return fail("memo block " + std::to_string(block) + " lies beyond the end of " + name);
    }
    if (m_dbase3) {
        // Text runs until 0x1A 0x1A (or a lone 0x1A at the end of the file).
        std::string out;
        std::vector<char> buf(static_cast<size_t>(m_blockSize));
        uint64_t pos = offset;
        while (pos < size) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - pos));
            if (!readAt(pos, buf.data(), n))
                return fail("cannot read memo block " + std::to_string(block) + " of " + name);
            for (size_t i = 0; i < n; ++i) {
                if (buf[i] == 0x1A) {
                    out.append(buf.data(), i);
                    return out;
                }
            }
            out.append(buf.data(), n);
            if (out.size() > kMaxMemoBytes)
                return fail("memo at block " + std::to_string(block) + " of " + name + " has no end mark");
            pos += n;
        }
        return out;
    }
    unsigned char hdr[8] = {};
    if (!readAt(offset, hdr, 8)) return fail("memo block " + std::to_string(block) + " of " + name + " is truncated");
    if (!(hdr[0] == 0xFF && hdr[1] == 0xFF && hdr[2] == 0x08 && hdr[3] == 0x00)) {
        return fail("memo block " + std::to_string(block) + " of " + name + " does not start a memo");
    }
    const uint32_t len = getU32(hdr + 4);
    if (len < 8 || len - 8 > kMaxMemoBytes || offset + len > size) {
        return fail("memo at block " + std::to_string(block) + " of " + name + " claims " + std::to_string(len) +
                    " bytes, past the end of the file");
    }
    std::string out(len - 8, '\0');
    if (!out.empty() && !readAt(offset + 8, out.data(), out.size())) {
        return fail("cannot read memo block " + std::to_string(block) + " of " + name);
    }
    return out;
}

Result<uint32_t> MemoFile::usedBlocks(uint32_t block) {
    if (m_dbase3) return fail("dBase III memos are not measured");
    unsigned char hdr[8] = {};
    const uint64_t offset = static_cast<uint64_t>(block) * static_cast<uint64_t>(m_blockSize);
    if (block == 0 || !readAt(offset, hdr, 8)) return fail("no memo at that block");
    if (!(hdr[0] == 0xFF && hdr[1] == 0xFF && hdr[2] == 0x08 && hdr[3] == 0x00)) return fail("no memo at that block");
    const uint32_t len = getU32(hdr + 4);
    if (len < 8 || offset + len > fileSize()) return fail("memo length is damaged");
    return static_cast<uint32_t>((static_cast<uint64_t>(len) + static_cast<uint64_t>(m_blockSize) - 1) /
                                 static_cast<uint64_t>(m_blockSize));
}

Result<uint32_t> MemoFile::allocate(uint32_t blocks) {
    // Caller holds the memo header lock.
    const uint64_t bs = static_cast<uint64_t>(m_blockSize);
    const auto endBlock = static_cast<uint32_t>(std::max<uint64_t>(1, (fileSize() + bs - 1) / bs));
    uint64_t linkOffset = 0; // where the pointer to the current run is stored (0: the file header)
    bool chainSound = true;
    if (!m_dbase3) {
        // Walk the free chain: each free run holds the next run's block and its own length in blocks; the last
        // run points at the end of the file.
        uint32_t current = u32At(0);
        uint32_t guard = 0;
        while (current != 0 && current < endBlock) {
            unsigned char run[8] = {};
            const uint32_t next = readAt(static_cast<uint64_t>(current) * bs, run, 8) ? getU32(run) : current;
            const uint32_t count = getU32(run + 4);
            if (count == 0 || static_cast<uint64_t>(current) + count > endBlock || next == current ||
                ++guard > 1000000) {
                chainSound = false;
                break;
            }
            if (count >= blocks) {
                unsigned char link[4];
                if (count > blocks) {
                    const uint32_t rest = current + blocks;
                    putU32(run + 4, count - blocks);
                    if (!writeAt(static_cast<uint64_t>(rest) * bs, run, 8))
                        return fail("cannot write " + baseName(m_path));
                    putU32(link, rest);
                } else {
                    putU32(link, next);
                }
                if (!writeAt(linkOffset, link, 4)) return fail("cannot write " + baseName(m_path));
                return current;
            }
            linkOffset = static_cast<uint64_t>(current) * bs;
            current = next;
        }
    }
    // Append at the end of the file and make the chain's last link (or the header) point past the new memo.
    // A damaged chain is dropped: the header then points at the end of the file again.
    if (!chainSound) linkOffset = 0;
    unsigned char link[4];
    putU32(link, endBlock + blocks);
    if (!writeAt(linkOffset, link, 4)) return fail("cannot update the header of " + baseName(m_path));
    return endBlock;
}

Result<uint32_t> MemoFile::write(const std::string& data) {
    if (m_readOnly) return fail(baseName(m_path) + " is open read-only");
    if (data.size() > kMaxMemoBytes) return fail("memo of " + std::to_string(data.size()) + " bytes is too large");
    locks::Guard guard(m_fd, locks::kBase, 1);
    const uint32_t blocks = blocksFor(data.size());
    auto first = allocate(blocks);
    if (!first) return first;
    std::string buf;
    buf.reserve(static_cast<size_t>(blocks) * static_cast<size_t>(m_blockSize));
    if (m_dbase3) {
        buf = data;
        buf += "\x1A\x1A";
    } else {
        unsigned char hdr[8] = {0xFF, 0xFF, 0x08, 0x00, 0, 0, 0, 0};
        putU32(hdr + 4, static_cast<uint32_t>(data.size() + 8));
        buf.assign(reinterpret_cast<const char*>(hdr), 8);
        buf += data;
    }
    buf.resize(static_cast<size_t>(blocks) * static_cast<size_t>(m_blockSize), '\0');
    if (!writeAt(static_cast<uint64_t>(*first) * static_cast<uint64_t>(m_blockSize), buf.data(), buf.size())) {
        return fail("cannot write a memo to " + baseName(m_path));
    }
    return *first;
}

void MemoFile::release(uint32_t block) {
    if (m_dbase3 || m_readOnly || block == 0) return;
    locks::Guard guard(m_fd, locks::kBase, 1);
    auto used = usedBlocks(block);
    if (!used) return; // never chain a block that does not hold a memo
    unsigned char run[8];
    putU32(run, u32At(0));
    putU32(run + 4, *used);
    if (!writeAt(static_cast<uint64_t>(block) * static_cast<uint64_t>(m_blockSize), run, 8)) return;
    unsigned char link[4];
    putU32(link, block);
    writeAt(0, link, 4);
}

} // namespace qev::dbf
