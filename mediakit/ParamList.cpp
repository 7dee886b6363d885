#include "mediakit/ParamList.h"

#include "mediakit/ClassList.h"
#include "mediakit/MediaParams.h"
#include "mediakit/StreamBytes.h"

namespace mediakit {
namespace {

// Reads element `sel` of `name` from `source` with the getter of its type.
HRESULT ReadElement(IMediaParams* source, BSTR name, LONG sel, ParamValue& value) {
    LONG type = 0;
    HRESULT hr = source->GetType(name, sel, &type);
    if (FAILED(hr)) return hr;
    switch (type) {
        case kParamBool: {
            VARIANT_BOOL flag = VARIANT_FALSE;
            hr = source->GetBool(name, sel, &flag);
            value.emplace<VARIANT_BOOL>(flag);
            break;
        }
        case kParamLong: {
            LONG number = 0;
            hr = source->GetLong(name, sel, &number);
            value.emplace<LONG>(number);
            break;
        }
        case kParamUInt64: {
            ULONGLONG number = 0;
            hr = source->GetUInt64(name, sel, &number);
            value.emplace<ULONGLONG>(number);
            break;
        }
        case kParamDouble: {
            double number = 0;
            hr = source->GetDouble(name, sel, &number);
            value.emplace<double>(number);
            break;
        }
        case kParamString: {
            Bstr text;
            hr = source->GetString(name, sel, text.Put());
            value.emplace<std::wstring>(text.View());
            break;
        }
        case kParamParams: {
            ComPtr<IMediaParams> params;
            hr = source->GetParams(name, sel, 1, params.Put());
            value.emplace<ComPtr<IMediaParams>>(std::move(params));
            break;
        }
        case kParamStream: {
            ComPtr<IStream> stream;
            hr = source->GetStream(name, sel, 1, stream.Put());
            value.emplace<ComPtr<IStream>>(std::move(stream));
            break;
        }
        case kParamUnknown: {
            ComPtr<IUnknown> object;
            hr = source->GetUnknown(name, sel, 1, object.Put());
            value.emplace<ComPtr<IUnknown>>(std::move(object));
            break;
        }
        default:
            return E_UNEXPECTED;
    }
    return hr;
}

}  // namespace

HRESULT SnapshotParams(IMediaParams* source, ParamList& list) {
    if (source == nullptr) return E_POINTER;
    LONG names = 0;
    HRESULT hr = source->GetNameCount(&names);
    if (FAILED(hr)) return hr;
    ParamList result;
    for (LONG index = 0; index < names; ++index) {
        Bstr name;
        hr = source->GetNameAt(index, name.Put());
        if (FAILED(hr)) return hr;
        LONG count = 0;
        hr = source->GetCount(name.Get(), &count);
        if (FAILED(hr)) return hr;
        ParamEntry entry{std::wstring(name.View()), {}};
        for (LONG sel = 0; sel < count; ++sel) {
            ParamValue value;
            hr = ReadElement(source, name.Get(), sel, value);
            if (FAILED(hr)) return hr;
            entry.values.push_back(std::move(value));
        }
        if (!entry.values.empty()) result.push_back(std::move(entry));
    }
    list = std::move(result);
    return S_OK;
}

HRESULT CopyParamsDeep(ParamList& list, int depth) {
    if (depth > kMaxParamsDepth) return E_FAIL;
    for (ParamEntry& entry : list) {
        for (ParamValue& value : entry.values) {
            HRESULT hr = S_OK;
            if (auto* nested = std::get_if<ComPtr<IMediaParams>>(&value)) {
                ParamList inner;
                hr = SnapshotParams(nested->Get(), inner);
                if (SUCCEEDED(hr)) hr = CopyParamsDeep(inner, depth + 1);
                if (SUCCEEDED(hr)) hr = CreateParams(std::move(inner), *nested);
            } else if (auto* stream = std::get_if<ComPtr<IStream>>(&value)) {
                ComPtr<IStream> copy;
                hr = CopyStream(stream->Get(), copy);
                if (SUCCEEDED(hr)) *stream = std::move(copy);
            }
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT CreateParams(ParamList&& list, ComPtr<IMediaParams>& params) {
    ComPtr<IMediaParams> created;
    const HRESULT hr = CreateObject<MediaParams>(created);
    if (FAILED(hr)) return hr;
    static_cast<MediaParams*>(created.Get())->Adopt(std::move(list));
    params = std::move(created);
    return S_OK;
}

}  // namespace mediakit
