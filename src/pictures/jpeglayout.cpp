#include "jpeglayout.h"

#include "jpegmarkers.h"
#include "saturating.h"

#include <QIODevice>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr qint64 mib = qint64(1) << 20;
// A block's Huffman codes and extra bits come to about 210 bytes, twice that when every byte is
// a stuffed 0xFF, and a restart marker may follow each block.
constexpr qint64 mostBytesPerBlock = 512;
// Room for what decoders skip: fill bytes, padding, a damaged stretch.
constexpr qint64 slack = mib;
// Far beyond the largest colour profiles and depth maps cameras write.
constexpr qint64 mostSegmentBytes = 32 * mib;

/// Bytes of a device through a buffer of its own, for the byte-at-a-time walk.
class Bytes
{
public:
    explicit Bytes(QIODevice &device) : m_device(device) {}

    /// The next byte, -1 at the end.
    int next()
    {
        if (m_at == m_end && !fill())
            return -1;
        return uchar(m_buffer[size_t(m_at++)]);
    }

    /// Skips `count` bytes; false when the file ends first.
    bool skip(qint64 count)
    {
        while (count > 0) {
            if (m_at == m_end && !fill())
                return false;
            const qint64 step = std::min(count, m_end - m_at);
            m_at += step;
            count -= step;
        }
        return true;
    }

    /// Skips to the next 0xFF byte, reading at most `most` other bytes first; the number skipped,
    /// or -1 at the end of the file, or more than `most` when it ran on.
    qint64 skipToMarkerByte(qint64 most)
    {
        qint64 skipped = 0;
        for (;;) {
            if (m_at == m_end && !fill())
                return -1;
            const char *from = m_buffer.data() + m_at;
            const auto *found =
                static_cast<const char *>(std::memchr(from, 0xff, size_t(m_end - m_at)));
            const qint64 run = found ? found - from : m_end - m_at;
            m_at += run;
            skipped += run;
            if (skipped > most)
                return skipped;
            if (found)
                return skipped;
        }
    }

private:
    bool fill()
    {
        m_at = 0;
        m_end = std::max<qint64>(0, m_device.read(m_buffer.data(), qint64(m_buffer.size())));
        return m_end > 0;
    }

    QIODevice &m_device;
    std::array<char, 65536> m_buffer{};
    qint64 m_at = 0, m_end = 0;
};

struct Component
{
    int id = 0;
    qint64 blocks = 0;
};

} // namespace

JpegLayout readJpegLayout(QIODevice &device)
{
    JpegLayout layout;
    Bytes bytes(device);
    if (bytes.next() != 0xff || bytes.next() != JpegMarkers::startOfImage)
        return layout;
    QList<Component> components;
    qint64 junk = 0;
    int pending = -1; // a marker the last scan's data ended at
    for (;;) {
        int marker = pending;
        pending = -1;
        if (marker < 0) {
            const int byte = bytes.next();
            if (byte < 0)
                return layout;
            // libjpeg skips what is no marker with a warning; markers without a length and
            // fill bytes are read through one by one as well, so every byte here counts.
            if (++junk > slack) {
                layout.overlong = true;
                return layout;
            }
            if (byte != 0xff)
                continue;
            do {
                marker = bytes.next();
                if (++junk > slack) {
                    layout.overlong = true;
                    return layout;
                }
            } while (marker == 0xff);
            if (marker < 0)
                return layout;
        }
        if (marker == JpegMarkers::endOfImage)
            return layout;
        if (JpegMarkers::standsAlone(marker))
            continue;
        const int high = bytes.next();
        const int low = bytes.next();
        if (high < 0 || low < 0)
            return layout;
        const int length = high << 8 | low;
        if (length < 2)
            return layout;
        QByteArray payload;
        if (JpegMarkers::isFrame(marker) || marker == JpegMarkers::startOfScan) {
            payload.reserve(length - 2);
            for (int i = 2; i < length; ++i) {
                const int byte = bytes.next();
                if (byte < 0)
                    return layout;
                payload.append(char(byte));
            }
        } else {
            layout.segmentBytes = Saturating::sum(layout.segmentBytes, length);
            if (layout.segmentBytes > mostSegmentBytes) {
                layout.overlong = true;
                return layout;
            }
            if (!bytes.skip(length - 2))
                return layout;
            continue;
        }
        const auto at = [&](int i) { return int(uchar(payload.at(i))); };

        if (JpegMarkers::isFrame(marker)) {
            // libjpeg refuses a second frame header; the first decides.
            if (layout.framed || payload.size() < 6)
                continue;
            const qint64 height = at(1) << 8 | at(2);
            const qint64 width = at(3) << 8 | at(4);
            const int count = at(5);
            if (width == 0 || height == 0 || count == 0 || payload.size() < 6 + 3 * count)
                return layout; // libjpeg refuses it
            int hMax = 1, vMax = 1;
            for (int c = 0; c < count; ++c) {
                const int h = at(6 + 3 * c + 1) >> 4, v = at(6 + 3 * c + 1) & 15;
                if (h < 1 || h > 4 || v < 1 || v > 4)
                    return layout;
                hMax = std::max(hMax, h);
                vMax = std::max(vMax, v);
            }
            // Each component's blocks, rounded up to whole MCUs as libjpeg allocates them.
            const qint64 mcuColumns = (width + 8 * hMax - 1) / (8 * hMax);
            const qint64 mcuRows = (height + 8 * vMax - 1) / (8 * vMax);
            for (int c = 0; c < count; ++c) {
                const int h = at(6 + 3 * c + 1) >> 4, v = at(6 + 3 * c + 1) & 15;
                const Component component{at(6 + 3 * c), mcuColumns * h * mcuRows * v};
                components.append(component);
                layout.frameBlocks += component.blocks;
            }
            layout.coefficientBytes = layout.frameBlocks * 64 * qint64(sizeof(qint16));
            layout.progressive =
                marker == 0xc2 || marker == 0xc6 || marker == 0xca || marker == 0xce;
            layout.multiScan = layout.progressive;
            layout.framed = true;
            continue;
        }

        // A scan: its components, then its entropy-coded data up to the next marker.
        if (!layout.framed || payload.isEmpty())
            return layout;
        const int count = at(0);
        qint64 blocks = 0;
        for (int c = 0; c < count && 1 + 2 * c < payload.size(); ++c) {
            for (const Component &component : std::as_const(components)) {
                if (component.id == at(1 + 2 * c))
                    blocks += component.blocks;
            }
        }
        // A first scan without every component makes libjpeg keep them all, as progressive does.
        if (layout.scans == 0 && count < components.size())
            layout.multiScan = true;
        ++layout.scans;
        layout.scanBlocks = Saturating::sum(layout.scanBlocks, blocks);
        qint64 most = Saturating::sum(blocks * mostBytesPerBlock, slack);
        for (;;) {
            const qint64 skipped = bytes.skipToMarkerByte(most);
            if (skipped < 0)
                return layout;
            if (skipped > most) {
                layout.overlong = true;
                return layout;
            }
            most -= skipped;
            int next = 0;
            do {
                next = bytes.next();
                // Fill bytes take their share of what the scan may hold.
                if (--most < 0) {
                    layout.overlong = true;
                    return layout;
                }
            } while (next == 0xff);
            if (next < 0)
                return layout;
            // A stuffed zero or a restart marker belongs to the scan.
            if (next == 0x00 || (next >= 0xd0 && next <= 0xd7))
                continue;
            pending = next;
            break;
        }
    }
}
