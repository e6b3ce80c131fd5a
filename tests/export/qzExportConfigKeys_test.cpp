// The published list of configuration keys against the service itself: the writer produces
// exactly these keys in this order, the yes-word keys are the ones it writes as "True"/"False",
// and every key in the list changes what the service keeps when a text carries it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CodePage.h"
#include "qzExportConfig.h"
#include "qzExportConfigKeys.h"
#include "qzExportService.h"

namespace {

// The tags of a written text ("KEY=value"), the outer pair left out.
std::vector<std::pair<std::u16string, std::u16string>> Tags(const Utf8String& text) {
  std::vector<std::pair<std::u16string, std::u16string>> tags;
  const UnicodeString wide = platform::Utf8ToWide(text);
  size_t at = 0;
  while ((at = wide.find(u'<', at)) != UnicodeString::npos) {
    const size_t end = wide.find(u'>', at);
    const UnicodeString tag = wide.substr(at + 1, end - at - 1);
    at = end;
    const size_t eq = tag.find(u'=');
    if (eq != UnicodeString::npos) tags.emplace_back(tag.substr(0, eq), tag.substr(eq + 1));
  }
  return tags;
}

TEST(ExportConfigKeys, AreTheKeysTheWriterWrites) {
  TExportConfig config;
  const auto tags = Tags(TExportConfigText::Write(config, {TAssignRow{}}, {TAddonSelectRow{}}));
  ASSERT_EQ(tags.size(), std::size(ExportConfigKeys));
  for (size_t i = 0; i < tags.size(); ++i) {
    EXPECT_EQ(tags[i].first, ExportConfigKeys[i].Name) << i;
    const bool yesWord = ExportConfigKeys[i].Value == TExportConfigValue::YesWord;
    EXPECT_EQ(yesWord, tags[i].second == u"True" || tags[i].second == u"False") << platform::WideToUtf8(tags[i].first);
  }
}

TEST(ExportConfigKeys, EveryKeyIsReadByTheService) {
  // A key the service reads changes the text it writes back from its settings.
  auto written = [](const std::u16string& tags) {
    TExportModule module;
    UnicodeString error;
    EXPECT_TRUE(TExportConfigText::Apply(module, u"<CONFIG>" + tags + u"</CONFIG>", error))
        << platform::WideToUtf8(error);
    return TExportConfigText::Write(module.Config, module.AssignTable, module.AddonSelectTable);
  };
  const Utf8String plain = written(u"");
  for (const auto& key : ExportConfigKeys) {
    const std::u16string name(key.Name);
    // A switch shows its change with the word that differs from its default.
    std::vector<std::u16string> values = {u"X1"};
    if (key.Value == TExportConfigValue::YesWord) values = {u"ja", u"nein"};
    if (key.Value == TExportConfigValue::Row) values = {u"A;B"};
    bool changed = false;
    for (const auto& value : values) changed = changed || written(u"<" + name + u"=" + value + u">") != plain;
    EXPECT_TRUE(changed) << platform::WideToUtf8(name);
    // Keys are compared without regard to case.
    std::u16string mixed = name;
    mixed[0] = static_cast<char16_t>(mixed[0] - u'A' + u'a');
    EXPECT_EQ(written(u"<" + mixed + u"=" + values[0] + u">"), written(u"<" + name + u"=" + values[0] + u">"));
  }
}

}  // namespace
