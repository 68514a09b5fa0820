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
// success (JPEG has no check of its own); a whole file ends with its end mark.
bool EndsWhole(std::span<const std::uint8_t> file) {
  static constexpr std::uint8_t kJpegEnd[] = {0xFF, 0xD9};
  static constexpr std::uint8_t kPngEnd[] = {'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  const auto ends_with = [&](std::span<const std::uint8_t> mark) {
    return file.size() >= mark.size() && std::equal(mark.begin(), mark.end(), file.end() - mark.size());
  };
  return ends_with(kJpegEnd) || ends_with(kPngEnd);
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
  // The factory of WIC 1: CLSID_WICImagingFactory names the second, which Windows 7
  // without its platform update lacks.
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
