#pragma once

// Builds zip archives byte by byte, so tests can make the damaged and hostile
// ones that no archiver writes.

#include <zlib.h>

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace testsupport {

struct Member {
    QByteArray name;
    QByteArray data;
    std::uint16_t method = 8; // 0 stored, 8 deflated; others are written stored
    std::uint16_t flags = 0;
    std::uint16_t versionMadeBy = 20;
    std::uint32_t externalAttributes = 0;
    bool dataDescriptor = false; // zero sizes and CRC in the local header, a descriptor after the data
    // Overrides of what the central record declares; -1 keeps the true value.
    std::int64_t declaredSize = -1;
    std::int64_t declaredCrc = -1;
    // When set, the central record declares this size in a ZIP64 extra field.
    std::uint64_t wideSize = 0;
};

inline QByteArray rawDeflate(const QByteArray& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&z, uLong(data.size()))) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    z.avail_in = uInt(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}

inline void put16(QByteArray& b, std::uint32_t v) {
    b.append(char(v & 0xFF));
    b.append(char((v >> 8) & 0xFF));
}
inline void put32(QByteArray& b, std::uint32_t v) {
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

struct Archive {
    QList<Member> members;
    QByteArray comment;
    std::uint16_t thisDisk = 0, centralDisk = 0;

    QByteArray bytes() const {
        QByteArray out, central;
        for (const Member& m : members) {
            const QByteArray payload = m.method == 8 ? rawDeflate(m.data) : m.data;
            const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef*>(m.data.constData()), uInt(m.data.size())));
            const std::uint32_t declCrc = m.declaredCrc >= 0 ? std::uint32_t(m.declaredCrc) : crc;
            const std::uint32_t declSize = m.declaredSize >= 0 ? std::uint32_t(m.declaredSize) : std::uint32_t(m.data.size());
            const std::uint16_t flags = std::uint16_t(m.flags | (m.dataDescriptor ? 0x0008 : 0));
            const auto offset = std::uint32_t(out.size());
            put32(out, 0x04034B50);
            put16(out, 20);
            put16(out, flags);
            put16(out, m.method);
            put16(out, 0);
            put16(out, 0x21);
            put32(out, m.dataDescriptor ? 0 : declCrc);
            put32(out, m.dataDescriptor ? 0 : std::uint32_t(payload.size()));
            put32(out, m.dataDescriptor ? 0 : declSize);
            put16(out, std::uint32_t(m.name.size()));
            put16(out, 0);
            out += m.name + payload;
            if (m.dataDescriptor) {
                put32(out, 0x08074B50);
                put32(out, declCrc);
                put32(out, std::uint32_t(payload.size()));
                put32(out, declSize);
            }
            put32(central, 0x02014B50);
            put16(central, m.versionMadeBy);
            put16(central, 20);
            put16(central, flags);
            put16(central, m.method);
            put16(central, 0);
            put16(central, 0x21);
            put32(central, declCrc);
            put32(central, std::uint32_t(payload.size()));
            put32(central, m.wideSize ? 0xFFFFFFFFu : declSize);
            put16(central, std::uint32_t(m.name.size()));
            put16(central, m.wideSize ? 12 : 0);
            put16(central, 0);
            put16(central, 0);
            put16(central, 0);
            put32(central, m.externalAttributes);
            put32(central, offset);
            central += m.name;
            if (m.wideSize) {
                put16(central, 0x0001);
                put16(central, 8);
                put32(central, std::uint32_t(m.wideSize));
                put32(central, std::uint32_t(m.wideSize >> 32));
            }
        }
        const auto centralOffset = std::uint32_t(out.size());
        out += central;
        put32(out, 0x06054B50);
        put16(out, thisDisk);
        put16(out, centralDisk);
        put16(out, std::uint32_t(members.size()));
        put16(out, std::uint32_t(members.size()));
        put32(out, std::uint32_t(central.size()));
        put32(out, centralOffset);
        put16(out, std::uint32_t(comment.size()));
        return out + comment;
    }
};

// A state's archive as the USGS publishes Domestic Names: the text in Text/,
// beside the FGDC metadata and a preview picture.
inline QByteArray domesticNamesArchive(const QByteArray& code, const QByteArray& text) {
    Archive a;
    a.members << Member{"DomesticNames_" + code + "_Text.xml", "<?xml version=\"1.0\"?><metadata/>"}
              << Member{"Text/DomesticNames_" + code + ".txt", text}
              << Member{"DomesticNames_" + code + "_Text.jpg", QByteArray("\xFF\xD8\xFF\xE0", 4) + QByteArray(600, 'j'), 0};
    return a.bytes();
}

} // namespace testsupport
