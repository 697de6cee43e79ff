#pragma once

#include <QtGlobal>

class QIODevice;

/// What a JPEG file's markers say about the memory and work its decoding takes, beyond the
/// decoded picture: libjpeg keeps every coefficient of a picture decoded in several scans, keeps
/// the metadata segments Qt asks for, and reads up to the end marker however far away it is.
struct JpegLayout
{
    bool framed = false;      ///< a frame header was read; nothing else is known without it
    bool progressive = false; ///< a progressive frame (SOF2, SOF6, SOF10, SOF14)
    bool multiScan = false;   ///< its coefficients are kept whole between scans
    int scans = 0;
    qint64 frameBlocks = 0;      ///< 8 × 8 blocks of all components, padded to whole MCUs
    qint64 coefficientBytes = 0; ///< what libjpeg holds for them in a multi-scan decode
    qint64 scanBlocks = 0;       ///< blocks decoded over all scans
    qint64 segmentBytes = 0;     ///< marker segments read before the end (metadata, tables)
    bool overlong = false; ///< a scan's data or the junk between markers runs on longer than its
                           ///< blocks can fill: the walk stopped there
};

/// Walks the markers from the device's current position (the file's start) to the end marker,
/// reading the entropy-coded data of each scan only to find where it ends. Stops early, with
/// `overlong`, where libjpeg would read on through bytes no picture needs.
JpegLayout readJpegLayout(QIODevice &device);
