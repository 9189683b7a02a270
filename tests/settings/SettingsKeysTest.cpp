#include "settings/SettingsKeys.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "settings/PackageSettings.h"

namespace quarry {
namespace {

// Answers every read with the default text and remembers what was asked.
class RecordingProfile : public ProfileSource {
public:
    std::u16string Read(const std::u16string& section, const std::u16string& key,
                        const std::u16string& defaultText, std::size_t) override {
        asked.emplace_back(Utf16ToUtf8(section), Utf16ToUtf8(key));
        return defaultText;
    }
    std::vector<std::pair<std::string, std::string>> asked;
};

TEST(SettingsKeys, TableListsExactlyTheKeysTheLoaderReadsInItsOrder) {
    RecordingProfile profile;
    PackageSettings settings;
    settings.LoadFrom(profile);

    std::size_t count = 0;
    const SettingsKey* table = SettingsKeyTable(count);
    std::vector<std::pair<std::string, std::string>> listed;
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i].kind == SettingsValueKind::Unread) continue;
        listed.emplace_back(Utf16ToUtf8(table[i].section), Utf16ToUtf8(table[i].key));
    }
    EXPECT_EQ(profile.asked, listed);
}

TEST(SettingsKeys, LookupIgnoresCaseAndKnowsTheUnreadKeys) {
    const struct {
        const char16_t* section;
        const char16_t* key;
        bool known;
        SettingsValueKind kind;
    } cases[] = {
        {u"execution_X64", u"waitmode", true, SettingsValueKind::Unsigned},
        {u"Extraction", u"WritableItems", true, SettingsValueKind::List},
        {u"Package", u"Compression", true, SettingsValueKind::Unread},
        {u"Package", u"FileName", false, SettingsValueKind::String},
        {u"Execution", u"FileName", false, SettingsValueKind::String},
    };
    for (const auto& c : cases) {
        const SettingsKey* key = FindSettingsKey(c.section, c.key);
        ASSERT_EQ(c.known, key != nullptr) << Utf16ToUtf8(c.key);
        if (key) {
            EXPECT_EQ(c.kind, key->kind) << Utf16ToUtf8(c.key);
        }
    }
    EXPECT_TRUE(IsSettingsSection(u"RESTRICTION"));
    EXPECT_FALSE(IsSettingsSection(u"Execution"));
}

}  // namespace
}  // namespace quarry
