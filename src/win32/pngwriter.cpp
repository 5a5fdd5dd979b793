#include "win32/pngwriter.hpp"

#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include "platform/win32/winsystem.hpp"

namespace v2bsp::win32 {

namespace {

// A COM interface released at the end of its scope.
template <typename T>
class Com {
public:
    Com() = default;
    ~Com() {
        if (p_ != nullptr) p_->Release();
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T** out() { return &p_; }
    T* operator->() const { return p_; }
    T* get() const { return p_; }

private:
    T* p_ = nullptr;
};

// A failure of the file system comes as the Windows error inside the HRESULT.
std::string reasonOf(HRESULT result) {
    const DWORD code = HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result) : static_cast<DWORD>(result);
    return v2bsp::systemError(code).message();
}

HRESULT encode(const std::wstring& path, int width, int height, const std::uint8_t* bgra, int stride) {
    Com<IWICImagingFactory> factory;
    HRESULT r = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                 reinterpret_cast<void**>(factory.out()));
    if (FAILED(r)) return r;
    Com<IWICStream> stream;
    if (FAILED(r = factory->CreateStream(stream.out()))) return r;
    if (FAILED(r = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE))) return r;
    Com<IWICBitmapEncoder> encoder;
    if (FAILED(r = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.out()))) return r;
    if (FAILED(r = encoder->Initialize(stream.get(), WICBitmapEncoderNoCache))) return r;
    Com<IWICBitmapFrameEncode> frame;
    if (FAILED(r = encoder->CreateNewFrame(frame.out(), nullptr))) return r;
    if (FAILED(r = frame->Initialize(nullptr))) return r;
    if (FAILED(r = frame->SetSize(static_cast<UINT>(width), static_cast<UINT>(height)))) return r;
    WICPixelFormatGUID format = GUID_WICPixelFormat32bppBGRA;
    if (FAILED(r = frame->SetPixelFormat(&format))) return r;
    if (format != GUID_WICPixelFormat32bppBGRA) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (FAILED(r = frame->WritePixels(static_cast<UINT>(height), static_cast<UINT>(stride),
                                      static_cast<UINT>(stride) * static_cast<UINT>(height),
                                      const_cast<BYTE*>(bgra)))) {
        return r;
    }
    if (FAILED(r = frame->Commit())) return r;
    return encoder->Commit();
}

}  // namespace

std::string writePng(const std::filesystem::path& file, int width, int height, const std::uint8_t* bgra, int stride) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const bool ownCom = SUCCEEDED(com);
    std::filesystem::path temporary = file;
    temporary += L".v2bsp-" + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    const std::wstring temporaryPath = v2bsp::systemPath(temporary);
    std::string failure;
    HRESULT r = encode(temporaryPath, width, height, bgra, stride);
    if (FAILED(r)) {
        failure = reasonOf(r);
    } else if (MoveFileExW(temporaryPath.c_str(), v2bsp::systemPath(file).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == FALSE) {
        failure = v2bsp::systemError(GetLastError()).message();
    }
    if (!failure.empty()) DeleteFileW(temporaryPath.c_str());
    if (ownCom) CoUninitialize();
    return failure;
}

}  // namespace v2bsp::win32
