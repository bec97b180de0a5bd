#pragma once
// Result codes of the graphics device layer, with the values and names of the Direct3D 9
// codes they stand for, so error lines read the same on every platform. A negative value
// is a failure. Names and descriptions are constant texts; an unknown code gets a
// placeholder pair.

#include <cstdint>
#include <string_view>

using HRESULT = std::int32_t;

inline constexpr HRESULT D3D_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT D3DERR_OUTOFVIDEOMEMORY = static_cast<HRESULT>(0x8876017Cu);
inline constexpr HRESULT D3DERR_WASSTILLDRAWING = static_cast<HRESULT>(0x8876021Cu);
inline constexpr HRESULT D3DERR_DRIVERINTERNALERROR = static_cast<HRESULT>(0x88760827u);
inline constexpr HRESULT D3DERR_NOTFOUND = static_cast<HRESULT>(0x88760866u);
inline constexpr HRESULT D3DERR_MOREDATA = static_cast<HRESULT>(0x88760867u);
inline constexpr HRESULT D3DERR_DEVICELOST = static_cast<HRESULT>(0x88760868u);
inline constexpr HRESULT D3DERR_DEVICENOTRESET = static_cast<HRESULT>(0x88760869u);
inline constexpr HRESULT D3DERR_NOTAVAILABLE = static_cast<HRESULT>(0x8876086Au);
inline constexpr HRESULT D3DERR_INVALIDDEVICE = static_cast<HRESULT>(0x8876086Bu);
inline constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x8876086Cu);
inline constexpr HRESULT D3DERR_DRIVERINVALIDCALL = static_cast<HRESULT>(0x8876086Du);

constexpr bool Failed(HRESULT hr) { return hr < 0; }
constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }

// The symbolic name of a code ("D3DERR_INVALIDCALL"); "Unknown" for a code not in the table.
std::string_view DeviceResultName(HRESULT hr);

// A short description of a code ("Invalid call"); "n/a" for a code not in the table.
std::string_view DeviceResultDescription(HRESULT hr);
