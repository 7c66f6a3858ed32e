#pragma once
// The picture at the side of the wizard window.

#include <QImage>

#include <string>
#include <vector>

namespace tessarin {

inline constexpr int SidePictureWidth = 118;
inline constexpr int SidePictureHeight = 257;

// Decodes a JPEG held in memory. Any fault in the data (corrupt, truncated, not a
// JPEG, absurd dimensions) gives a null image, never a crash.
QImage DecodeJpeg(const std::vector<unsigned char>& data);

// Reads and decodes a JPEG file; a null image when it is missing or bad.
QImage LoadJpegFile(const std::string& path);

// The side picture from the program folder, stretched to 118 x 257; null when the
// file is missing or bad (the window then simply shows no picture).
QImage LoadSidePicture(const std::string& programFolder);

} // namespace tessarin
