#pragma once

/// What JPEG's marker bytes mean, as both the layout walk and the EXIF reading need it.
namespace JpegMarkers {

constexpr int startOfImage = 0xd8;
constexpr int endOfImage = 0xd9;
constexpr int startOfScan = 0xda;
constexpr int app1 = 0xe1;

/// SOF0 to SOF15 but DHT (C4), JPG (C8) and DAC (CC).
constexpr bool isFrame(int marker)
{
    return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
}

/// TEM, RST0 to RST7 (and a stuffed zero inside scan data): no length follows.
constexpr bool standsAlone(int marker)
{
    return marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7);
}

} // namespace JpegMarkers
