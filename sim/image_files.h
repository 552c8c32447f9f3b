// Encoders for the three formats the manager application saves in, all
// 8-bit grey. Same pixels in, same bytes out: none of them stores a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/simulator.h"

namespace vesk::sim {

struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, width bytes each

  std::size_t Index(int x, int y) const {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
  }
  std::uint8_t& at(int x, int y) { return pixels[Index(x, y)]; }
  std::uint8_t at(int x, int y) const { return pixels[Index(x, y)]; }
};

// "BMP", "TIFF", "JPEG" in any letter case; anything else is saved as BMP,
// the manager application's default.
ImageFormat FormatFromSetting(std::string_view setting);

// Uncompressed 8-bit BMP with a grey palette, rows bottom-up as BMP has them.
std::vector<std::uint8_t> EncodeBmp(const GreyImage& image);
// Whether this build writes TIFF and JPEG (it needs libtiff and libjpeg);
// without them EncodeTiff and EncodeJpeg always fail.
#if defined(VESK_SIM_NO_IMAGE_CODECS)
inline constexpr bool kHasImageCodecs = false;
#else
inline constexpr bool kHasImageCodecs = true;
#endif

// Uncompressed baseline grey TIFF, one strip, with a description tag.
std::optional<std::vector<std::uint8_t>> EncodeTiff(const GreyImage& image, std::string_view description);
// Baseline grey JPEG, quality 90.
std::optional<std::vector<std::uint8_t>> EncodeJpeg(const GreyImage& image);

std::optional<std::vector<std::uint8_t>> Encode(const GreyImage& image, ImageFormat format,
                                                std::string_view description);

}  // namespace vesk::sim
