#include "toolkit/picture.h"

#include <objbase.h>
#include <wincodec.h>

#include <algorithm>

namespace toolkit {
namespace {

template <typename Interface>
struct ComTraits {
  using pointer = Interface*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer p) noexcept { p->Release(); }
};
template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

// COM on this thread for one decode, and no longer: its DLLs and the codec's go again
// once the last user on the thread is done.
class ComForNow {
 public:
  ComForNow() noexcept
      : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
  ~ComForNow() {
    if (SUCCEEDED(result_)) ::CoUninitialize();
  }
  ComForNow(const ComForNow&) = delete;
  ComForNow& operator=(const ComForNow&) = delete;
  // A thread already in the multithreaded apartment may use COM as it is.
  [[nodiscard]] bool usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT result_;
};

// A decoder may fill what is missing of a file cut short with grey and call it a
// success (JPEG has no check of its own). The check guards our own resources, which
// resources/make_pictures.py writes whole, nothing after the end: a JPEG or a PNG, known
// by its leading signature, that ends with its own format's end mark.
bool EndsWhole(std::span<const std::uint8_t> file) {
  struct Format {
    std::span<const std::uint8_t> start, end;
  };
  static constexpr std::uint8_t kJpegStart[] = {0xFF, 0xD8, 0xFF};
  static constexpr std::uint8_t kJpegEnd[] = {0xFF, 0xD9};
  static constexpr std::uint8_t kPngStart[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  static constexpr std::uint8_t kPngEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  for (const Format& format : {Format{kJpegStart, kJpegEnd}, Format{kPngStart, kPngEnd}}) {
    if (file.size() < format.start.size() + format.end.size() ||
        !std::equal(format.start.begin(), format.start.end(), file.begin()))
      continue;
    return std::equal(format.end.begin(), format.end.end(), file.end() - format.end.size());
  }
  return false;
}

UniqueBitmap Decode(IWICImagingFactory& factory, std::span<const std::uint8_t> file) {
  IWICStream* stream_raw = nullptr;
  if (FAILED(factory.CreateStream(&stream_raw))) return {};
  const UniqueCom<IWICStream> stream(stream_raw);
  // The stream only reads: the bytes are the module's, read-only.
  if (FAILED(stream.get()->InitializeFromMemory(const_cast<BYTE*>(file.data()), static_cast<DWORD>(file.size()))))
    return {};
  IWICBitmapDecoder* decoder_raw = nullptr;
  if (FAILED(factory.CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, &decoder_raw)))
    return {};
  const UniqueCom<IWICBitmapDecoder> decoder(decoder_raw);
  IWICBitmapFrameDecode* frame_raw = nullptr;
  if (FAILED(decoder.get()->GetFrame(0, &frame_raw))) return {};
  const UniqueCom<IWICBitmapFrameDecode> frame(frame_raw);
  IWICFormatConverter* converter_raw = nullptr;
  if (FAILED(factory.CreateFormatConverter(&converter_raw))) return {};
  const UniqueCom<IWICFormatConverter> converter(converter_raw);
  if (FAILED(converter.get()->Initialize(frame.get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeCustom)))
    return {};
  UINT width = 0;
  UINT height = 0;
  if (FAILED(converter.get()->GetSize(&width, &height)) || width == 0 || width > 4096 || height == 0 || height > 4096)
    return {};

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = static_cast<LONG>(width);
  info.bmiHeader.biHeight = -static_cast<LONG>(height);  // top-down, as WIC gives the rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueBitmap picture(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!picture || !bits) return {};
  const UINT stride = (width * 3 + 3) & ~3u;
  if (FAILED(converter.get()->CopyPixels(nullptr, stride, stride * height, static_cast<BYTE*>(bits)))) return {};
  return picture;
}

}  // namespace

UniqueBitmap DecodePicture(std::span<const std::uint8_t> file) {
  if (!EndsWhole(file)) return {};
  const ComForNow com;
  if (!com.usable()) return {};
  IWICImagingFactory* factory_raw = nullptr;
  // The factory of WIC 1, which every Windows 7 has. mingw-w64 gives CLSID_WICImagingFactory
  // the same GUID, but the Windows SDK since Windows 8's names WIC 2's factory by it where a
  // build targets Windows 8 or opts in (_WIN7_PLATFORM_UPDATE), and Windows 7 without its
  // platform update has no WIC 2: the 1 means the same under either header.
  if (FAILED(::CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                reinterpret_cast<void**>(&factory_raw))))
    return {};
  const UniqueCom<IWICImagingFactory> factory(factory_raw);
  return Decode(*factory.get(), file);
}

UniqueBitmap LoadPicture(HINSTANCE module, int resource) {
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resource), RT_RCDATA);
  if (!found) return {};
  HGLOBAL loaded = ::LoadResource(module, found);
  const auto* data = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
  if (!data) return {};
  return DecodePicture({data, ::SizeofResource(module, found)});
}

}  // namespace toolkit
