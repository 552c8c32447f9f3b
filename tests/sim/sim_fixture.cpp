#include "tests/sim/sim_fixture.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#if !defined(VESK_SIM_NO_IMAGE_CODECS)
#include <jpeglib.h>
#include <tiffio.h>
#endif

namespace vesk::sim::testing {

void SimTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  // A suffix of its own: the same test may run at the same time from
  // another build tree on this machine.
  name += "-" + std::to_string(std::random_device{}());
  root_ = std::filesystem::temp_directory_path() / "vesk_sim_tests" / name;
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
  images_ = root_ / "images";
  settings_ = root_ / "seminfo.ini";
  Apply();
}

void SimTest::TearDown() {
  std::error_code error;
  std::filesystem::remove_all(root_, error);
}

SimulatorOptions SimTest::Options() const {
  SimulatorOptions options;
  options.imageFolder = images_;
  options.settingsFile = settings_;
  return options;
}

void SimTest::Apply(SimulatorOptions options) {
  options.imageFolder = images_;
  options.settingsFile = settings_;
  clock_ = std::make_shared<ManualClock>();
  std::string error;
  ASSERT_TRUE(ApplySimulatorOptions(options, clock_, &error)) << error;
}

void SimTest::WriteSettings(std::string_view include, std::string_view format, std::string_view path) {
  std::ofstream out(settings_, std::ios::binary | std::ios::trunc);
  out << "[Other]\r\nPath=C:\\wrong.bmp\r\n[FENKOR]\r\nInclude=" << include << "\r\nFormat=" << format
      << "\r\nPath=" << path << "\r\n";
}

CaptureRecord SimTest::Capture(std::string_view format, std::string_view path, std::string_view include) {
  WriteSettings(include, format, path);
  EXPECT_EQ(sem_SetImageDataFlag(1), 1);
  EXPECT_EQ(sem_CallApp(1, 8192), 1);
  const std::int64_t took = AdvanceUntil([] { return sem_GetImageDataFlag() == 0; }, 200000, 100);
  EXPECT_LT(took, 200000) << "the capture never finished";
  const std::optional<CaptureRecord> record = LastCapture();
  EXPECT_TRUE(record.has_value());
  return record.value_or(CaptureRecord{});
}

void SimTest::BeamOn() { ASSERT_EQ(sem_SetHT(1), 1); }

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
std::uint32_t Le(const std::vector<std::uint8_t>& b, std::size_t at, int bytes) {
  std::uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | b[at + static_cast<std::size_t>(i)];
  return value;
}

#if !defined(VESK_SIM_NO_IMAGE_CODECS)
struct JpegTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};
[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegTrap*>(info->err)->jump, 1); }

bool DecompressJpeg(const std::uint8_t* data, std::size_t size, GreyImage* image) {
  jpeg_decompress_struct info;
  JpegTrap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = JpegFail;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&info);
  image->width = static_cast<int>(info.output_width);
  image->height = static_cast<int>(info.output_height);
  image->pixels.resize(static_cast<std::size_t>(image->width) * static_cast<std::size_t>(image->height));
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image->pixels.data() + static_cast<std::size_t>(info.output_scanline) * info.output_width;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}
#endif
}  // namespace

std::optional<GreyImage> DecodeBmp(const std::filesystem::path& file) {
  const std::vector<std::uint8_t> b = ReadBytes(file);
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M' || Le(b, 2, 4) != b.size()) return std::nullopt;
  if (Le(b, 14, 4) != 40 || Le(b, 28, 2) != 8 || Le(b, 30, 4) != 0) return std::nullopt;
  GreyImage image;
  image.width = static_cast<int>(Le(b, 18, 4));
  image.height = static_cast<int>(Le(b, 22, 4));
  const std::size_t offset = Le(b, 10, 4);
  const std::size_t stride = (static_cast<std::size_t>(image.width) + 3) & ~std::size_t{3};
  if (offset + stride * static_cast<std::size_t>(image.height) != b.size()) return std::nullopt;
  for (std::size_t grey = 0; grey < 256; ++grey) {
    if (Le(b, 54 + 4 * grey, 4) != grey * 0x010101u) return std::nullopt;  // a grey palette
  }
  for (int y = image.height - 1; y >= 0; --y) {
    const std::size_t at = offset + static_cast<std::size_t>(y) * stride;
    image.pixels.insert(image.pixels.end(), b.begin() + static_cast<std::ptrdiff_t>(at),
                        b.begin() + static_cast<std::ptrdiff_t>(at) + image.width);
  }
  return image;
}

#if defined(VESK_SIM_NO_IMAGE_CODECS)
// Without libtiff and libjpeg nothing is decoded (nor was it written).
std::optional<GreyImage> DecodeTiff(const std::filesystem::path&) { return std::nullopt; }
std::optional<GreyImage> DecodeJpeg(const std::filesystem::path&) { return std::nullopt; }
#else
std::optional<GreyImage> DecodeTiff(const std::filesystem::path& file) {
  TIFF* tiff = TIFFOpen(file.string().c_str(), "r");
  if (tiff == nullptr) return std::nullopt;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint16_t bits = 0;
  std::uint16_t samples = 0;
  TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
  std::optional<GreyImage> image;
  if (bits == 8 && samples == 1 && TIFFScanlineSize(tiff) == static_cast<tmsize_t>(width)) {
    image.emplace();
    image->width = static_cast<int>(width);
    image->height = static_cast<int>(height);
    image->pixels.resize(static_cast<std::size_t>(width) * height);
    for (std::uint32_t y = 0; y < height && image; ++y) {
      if (TIFFReadScanline(tiff, image->pixels.data() + static_cast<std::size_t>(y) * width, y, 0) != 1) image.reset();
    }
  }
  TIFFClose(tiff);
  return image;
}

std::optional<GreyImage> DecodeJpeg(const std::filesystem::path& file) {
  const std::vector<std::uint8_t> bytes = ReadBytes(file);
  if (bytes.size() < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return std::nullopt;
  GreyImage image;
  if (!DecompressJpeg(bytes.data(), bytes.size(), &image)) return std::nullopt;
  return image;
}
#endif  // VESK_SIM_NO_IMAGE_CODECS

std::optional<GreyImage> Decode(const std::filesystem::path& file, ImageFormat format) {
  switch (format) {
    case ImageFormat::kTiff:
      return DecodeTiff(file);
    case ImageFormat::kJpeg:
      return DecodeJpeg(file);
    case ImageFormat::kBmp:
      break;
  }
  return DecodeBmp(file);
}

double Sharpness(const GreyImage& image) {
  // On 4 x 4 block means, so that pixel noise does not count as detail.
  constexpr int kBlock = 4;
  const int columns = image.width / kBlock;
  const int rows = std::min(image.height, 480) / kBlock;
  std::vector<double> means(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows), 0.0);
  for (int y = 0; y < rows * kBlock; ++y) {
    for (int x = 0; x < columns * kBlock; ++x) {
      means[static_cast<std::size_t>(y / kBlock) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(x / kBlock)] +=
          image.at(x, y) / double{kBlock * kBlock};
    }
  }
  double sum = 0.0;
  for (int y = 0; y < rows; ++y) {
    for (int x = 1; x < columns; ++x) {
      const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(columns) + static_cast<std::size_t>(x);
      sum += std::abs(means[at] - means[at - 1]);
    }
  }
  return sum / (static_cast<double>(rows) * (columns - 1));
}

double LaplacianVariance(const GreyImage& image) {
  const int rows = std::min(image.height, 480);
  double sum = 0.0;
  double squares = 0.0;
  int count = 0;
  for (int y = 1; y < rows - 1; ++y) {
    for (int x = 1; x < image.width - 1; ++x) {
      const double laplacian =
          image.at(x - 1, y) + image.at(x + 1, y) + image.at(x, y - 1) + image.at(x, y + 1) - 4.0 * image.at(x, y);
      sum += laplacian;
      squares += laplacian * laplacian;
      ++count;
    }
  }
  const double mean = sum / count;
  return squares / count - mean * mean;
}

double DirectionalDetail(const GreyImage& image, int dx, int dy) {
  const int rows = std::min(image.height, 480);
  double squares = 0.0;
  int count = 0;
  for (int y = 1; y < rows - 1; ++y) {
    for (int x = 1; x < image.width - 1; ++x) {
      const double d = static_cast<double>(image.at(x + dx, y + dy)) - image.at(x, y);
      squares += d * d;
      ++count;
    }
  }
  return squares / count;
}

double MeanGrey(const GreyImage& image) {
  double sum = 0.0;
  for (std::uint8_t p : image.pixels) sum += p;
  return image.pixels.empty() ? 0.0 : sum / static_cast<double>(image.pixels.size());
}

}  // namespace vesk::sim::testing
