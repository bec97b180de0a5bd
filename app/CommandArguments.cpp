#include "app/CommandArguments.h"

#include "Common_Code/Conversions.h"
#include "Common_Code/Cp1250.h"

namespace command {

void ExpectEnd(tvl::Reader& reader) {
  if (!reader.AtEnd()) reader.Fail("Za dużo parametrów"_cp);
}

std::string ReadValue(tvl::Reader& reader) { return ReadValue(reader, "Ogólny błąd składni"_cp); }

std::string ReadValue(tvl::Reader& reader, std::string_view missing) {
  std::string value;
  if (!reader.ReadValue(value)) reader.Fail(std::string(missing));
  return value;
}

std::uint32_t ReadUnsigned(tvl::Reader& reader) {
  const auto start = reader.Position();
  const std::string value = ReadValue(reader);
  std::uint32_t number = 0;
  if (ParseUnsigned(value, number, 10) != kParseOk) reader.Fail("Błąd podczas konwersji"_cp, start);
  return number;
}

bool ReadBool(tvl::Reader& reader) {
  const auto start = reader.Position();
  const std::string value = ReadValue(reader);
  bool result = false;
  if (!ParseBool(value, result)) reader.Fail("Błąd podczas konwersji"_cp, start);
  return result;
}

}  // namespace command
