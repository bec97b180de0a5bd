#include "Common_Code/DeviceResult.h"

namespace {

struct Entry {
  HRESULT code;
  std::string_view name;
  std::string_view description;
};

constexpr Entry kResults[] = {
    {D3D_OK, "S_OK", "The function completed successfully"},
    {S_FALSE, "S_FALSE", "Call successful"},
    {E_FAIL, "E_FAIL", "Undetermined error"},
    {E_NOTIMPL, "E_NOTIMPL", "Not implemented"},
    {E_INVALIDARG, "E_INVALIDARG", "An invalid parameter was passed to the returning function"},
    {E_OUTOFMEMORY, "E_OUTOFMEMORY", "Ran out of memory"},
    {D3DERR_OUTOFVIDEOMEMORY, "D3DERR_OUTOFVIDEOMEMORY", "Out of video memory"},
    {D3DERR_WASSTILLDRAWING, "D3DERR_WASSTILLDRAWING", "Was still drawing"},
    {D3DERR_DRIVERINTERNALERROR, "D3DERR_DRIVERINTERNALERROR", "Driver internal error"},
    {D3DERR_NOTFOUND, "D3DERR_NOTFOUND", "Not found"},
    {D3DERR_MOREDATA, "D3DERR_MOREDATA", "More data"},
    {D3DERR_DEVICELOST, "D3DERR_DEVICELOST", "Device lost"},
    {D3DERR_DEVICENOTRESET, "D3DERR_DEVICENOTRESET", "Device not reset"},
    {D3DERR_NOTAVAILABLE, "D3DERR_NOTAVAILABLE", "Not available"},
    {D3DERR_INVALIDDEVICE, "D3DERR_INVALIDDEVICE", "Invalid device"},
    {D3DERR_INVALIDCALL, "D3DERR_INVALIDCALL", "Invalid call"},
    {D3DERR_DRIVERINVALIDCALL, "D3DERR_DRIVERINVALIDCALL", "Driver invalid call"},
};

const Entry* Find(HRESULT hr) {
  for (const Entry& entry : kResults) {
    if (entry.code == hr) return &entry;
  }
  return nullptr;
}

}  // namespace

std::string_view DeviceResultName(HRESULT hr) {
  const Entry* entry = Find(hr);
  return entry ? entry->name : "Unknown";
}

std::string_view DeviceResultDescription(HRESULT hr) {
  const Entry* entry = Find(hr);
  return entry ? entry->description : "n/a";
}
