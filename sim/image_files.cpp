#include "sim/image_files.h"
#include "sim/text.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(VESK_SIM_NO_IMAGE_CODECS)
#include <jpeglib.h>
#include <tiffio.h>
#endif

namespace vesk::sim {
namespace {

void PutLe(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

#if !defined(VESK_SIM_NO_IMAGE_CODECS)
// libtiff writes through these procedures into a growable buffer, so that a
// TIFF is built in memory like the other formats.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  std::size_t position = 0;
};

tmsize_t MemoryRead(thandle_t handle, void* data, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const std::size_t available = file->position < file->bytes.size() ? file->bytes.size() - file->position : 0;
  const std::size_t count = std::min(available, static_cast<std::size_t>(size));
  std::memcpy(data, file->bytes.data() + file->position, count);
  file->position += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t MemoryWrite(thandle_t handle, void* data, tmsize_t size) {
  auto* file = static_cast<MemoryFile*>(handle);
  const auto count = static_cast<std::size_t>(size);
  if (file->position + count > file->bytes.size()) file->bytes.resize(file->position + count);
  std::memcpy(file->bytes.data() + file->position, data, count);
  file->position += count;
  return size;
}

toff_t MemorySeek(thandle_t handle, toff_t offset, int whence) {
  auto* file = static_cast<MemoryFile*>(handle);
  std::size_t base = 0;
  if (whence == SEEK_CUR) base = file->position;
  if (whence == SEEK_END) base = file->bytes.size();
  file->position = base + static_cast<std::size_t>(offset);
  return static_cast<toff_t>(file->position);
}

int MemoryClose(thandle_t) { return 0; }
toff_t MemorySize(thandle_t handle) { return static_cast<toff_t>(static_cast<MemoryFile*>(handle)->bytes.size()); }
int NoMap(thandle_t, void**, toff_t*) { return 0; }
void NoUnmap(thandle_t, void*, toff_t) {}

// libjpeg reports errors by calling error_exit, which must not return: it
// jumps back to the encoder, across libjpeg's own (C) frames only.
struct JpegErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegErrorTrap*>(info->err)->jump, 1);
}

void JpegQuiet(j_common_ptr, int) {}

// Plain C data only between setjmp and a possible longjmp.
bool CompressJpeg(const std::uint8_t* pixels, int width, int height, unsigned char** out,
                  unsigned long* size) {
  jpeg_compress_struct info;
  JpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = JpegErrorExit;
  trap.manager.emit_message = JpegQuiet;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, out, size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 1;
  info.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(pixels + static_cast<std::size_t>(info.next_scanline) * static_cast<std::size_t>(width));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}
#endif  // !VESK_SIM_NO_IMAGE_CODECS

}  // namespace

ImageFormat FormatFromSetting(std::string_view setting) {
  if (SameName(setting, "TIFF")) return ImageFormat::kTiff;
  if (SameName(setting, "JPEG")) return ImageFormat::kJpeg;
  return ImageFormat::kBmp;
}

std::vector<std::uint8_t> EncodeBmp(const GreyImage& image) {
  constexpr std::uint32_t kFileHeader = 14;
  constexpr std::uint32_t kInfoHeader = 40;
  constexpr std::uint32_t kPalette = 256 * 4;
  constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dpi
  const auto width = static_cast<std::uint32_t>(image.width);
  const auto height = static_cast<std::uint32_t>(image.height);
  const std::uint32_t stride = (width + 3u) & ~3u;
  const std::uint32_t offset = kFileHeader + kInfoHeader + kPalette;
  std::vector<std::uint8_t> out;
  out.reserve(offset + stride * height);
  out.push_back('B');
  out.push_back('M');
  PutLe(out, offset + stride * height, 4);
  PutLe(out, 0, 4);
  PutLe(out, offset, 4);
  PutLe(out, kInfoHeader, 4);
  PutLe(out, width, 4);
  PutLe(out, height, 4);  // positive: bottom-up rows
  PutLe(out, 1, 2);       // planes
  PutLe(out, 8, 2);       // bits per pixel
  PutLe(out, 0, 4);       // no compression
  PutLe(out, stride * height, 4);
  PutLe(out, kPixelsPerMetre, 4);
  PutLe(out, kPixelsPerMetre, 4);
  PutLe(out, 256, 4);
  PutLe(out, 256, 4);
  for (std::uint32_t grey = 0; grey < 256; ++grey) PutLe(out, grey * 0x010101u, 4);
  for (std::uint32_t row = height; row-- > 0;) {
    const std::uint8_t* line = image.pixels.data() + static_cast<std::size_t>(row) * width;
    out.insert(out.end(), line, line + width);
    out.insert(out.end(), stride - width, 0);
  }
  return out;
}

#if defined(VESK_SIM_NO_IMAGE_CODECS)
// A build without libtiff and libjpeg: these captures fail to be written.
std::optional<std::vector<std::uint8_t>> EncodeTiff(const GreyImage&, std::string_view) { return std::nullopt; }
std::optional<std::vector<std::uint8_t>> EncodeJpeg(const GreyImage&) { return std::nullopt; }
#else
std::optional<std::vector<std::uint8_t>> EncodeTiff(const GreyImage& image, std::string_view description) {
  MemoryFile file;
  TIFF* tiff = TIFFClientOpen("capture", "w", &file, MemoryRead, MemoryWrite, MemorySeek, MemoryClose,
                              MemorySize, NoMap, NoUnmap);
  if (tiff == nullptr) return std::nullopt;
  const std::string text(description);
  const auto width = static_cast<std::uint32_t>(image.width);
  const auto height = static_cast<std::uint32_t>(image.height);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, height);
  TIFFSetField(tiff, TIFFTAG_IMAGEDESCRIPTION, text.c_str());
  TIFFSetField(tiff, TIFFTAG_SOFTWARE, "VESK simulated instrument");
  std::vector<std::uint8_t> row(width);
  bool written = true;
  for (std::uint32_t y = 0; y < height && written; ++y) {
    std::memcpy(row.data(), image.pixels.data() + static_cast<std::size_t>(y) * width, width);
    written = TIFFWriteScanline(tiff, row.data(), y, 0) == 1;
  }
  TIFFClose(tiff);
  if (!written) return std::nullopt;
  return std::move(file.bytes);
}

std::optional<std::vector<std::uint8_t>> EncodeJpeg(const GreyImage& image) {
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  const bool compressed = CompressJpeg(image.pixels.data(), image.width, image.height, &buffer, &size);
  std::optional<std::vector<std::uint8_t>> out;
  if (compressed && buffer != nullptr) out.emplace(buffer, buffer + size);
  std::free(buffer);
  return out;
}

#endif  // VESK_SIM_NO_IMAGE_CODECS

std::optional<std::vector<std::uint8_t>> Encode(const GreyImage& image, ImageFormat format,
                                                std::string_view description) {
  switch (format) {
    case ImageFormat::kTiff:
      return EncodeTiff(image, description);
    case ImageFormat::kJpeg:
      return EncodeJpeg(image);
    case ImageFormat::kBmp:
      break;
  }
  return EncodeBmp(image);
}

}  // namespace vesk::sim
