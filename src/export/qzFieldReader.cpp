#include "qzFieldReader.h"

#include "SysUtils.h"
#include "Variant.h"

UnicodeString GetFieldText(platform::DbDataSet& query, const UnicodeString& columnName, TEbcdic* converter) {
  try {
    platform::DbField* field = query.FindField(columnName);
    if (field == nullptr) return {};
    const Variant value = field->Value();
    if (value.VarType() == (varArray | varByte)) {
      const std::string& bytes = value.AsBytes();
      UnicodeString ebcdic(bytes.size(), u'\0');
      for (size_t i = 0; i < bytes.size(); ++i) ebcdic[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[i]));
      TEbcdic local;
      TEbcdic& conv = converter != nullptr ? *converter : local;
      conv.SetConversation(cvEbcdicASCII);
      conv.SetEBCDIC(std::move(ebcdic));
      conv.Execute();
      return platform::Trim(conv.ASCII());
    }
    if (value.IsEmptyOrNull()) return {};
    return field->AsString();
  } catch (...) {
    return {};
  }
}
