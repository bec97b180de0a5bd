// Drives the TVL reader over arbitrary bytes: as the configuration store parses a file,
// and as the console takes a command line (word, then the raw rest). Every input must end
// in a value or a tvl::Error, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Common_Code/ErrorTrace.h"
#include "config/Config.h"
#include "config/Tvl.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  GlobalErrorTrace().Clear();
  Config config(text);
  std::string out;
  std::uint32_t dword = 0;
  GlobalErrorTrace().Clear();
  config.GetString("a", out);
  GlobalErrorTrace().Clear();
  config.TryGetDword("a/b", dword);
  GlobalErrorTrace().Clear();

  try {
    tvl::Reader reader(text);
    std::string word;
    if (reader.ReadValue(word)) {
      const auto mark = reader.Position();
      reader.ReadRaw(out, (size & 1) != 0);
      if (!reader.AtEnd() && reader.ReadValue(word)) reader.Fail("bad", mark);
    }
    // Every read on every position until nothing moves.
    std::uint32_t last = UINT32_MAX;
    while (!reader.AtEnd() && reader.Current() != last) {
      last = reader.Current();
      if (!reader.ReadValue(word) && !reader.ReadEquals() && !reader.OpenSection() && !reader.CloseSection()) break;
      (void)reader.LineBreakAfter();
    }
  } catch (const tvl::Error& error) {
    (void)error.Message();
  }
  return 0;
}
