#pragma once
// Pictures saved as PNG files: the viewer's screenshots and qem-render's frames.
//
// WritePngFile encodes width x height pixels of four bytes (red, green, blue, alpha; the top
// row first) and writes them to path without ever leaving a half-written file: the picture
// goes to a temporary file in the same directory, which is renamed over path only when it
// is whole. Alpha is dropped (the file is 8-bit RGB), as the window shows no transparency.
// On failure it returns false with the reason in reason (the C library's text of errno for
// a file that cannot be written) and leaves no file behind. Any thread; no device needed.
//
// ReadPngFile decodes a PNG into the same layout (alpha 255 where the file has none); for
// tests and tools that compare pictures.

#include <cstdint>
#include <string>
#include <vector>

namespace gfx {

bool WritePngFile(const std::string& path, unsigned width, unsigned height, const std::vector<std::uint8_t>& rgba,
                  std::string& reason);

bool ReadPngFile(const std::string& path, unsigned& width, unsigned& height, std::vector<std::uint8_t>& rgba,
                 std::string& reason);

}  // namespace gfx
