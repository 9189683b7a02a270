#include "execution/RunModeGate.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

constexpr std::uint64_t kSelfCreated = 0x01DB000000001000ull;
const char16_t kProgram[] = u"C:\\Users\\Ann\\Downloads\\Setup Tool.exe";

TEST(RunModeGate, TakesRequestsOnlyFromAnEarlierCopyOfTheSameProgramFile) {
    const struct {
        const char* what;
        bool listed;  // the process list names a parent that could be opened
        std::u16string parentPath;
        std::uint64_t parentCreated;
        std::u16string selfPath;
        std::uint64_t selfCreated;
        bool accepted;
    } cases[] = {
        {"the extraction-mode copy", true, kProgram, kSelfCreated - 10, kProgram, kSelfCreated, true},
        {"created in the same tick", true, kProgram, kSelfCreated, kProgram, kSelfCreated, true},
        {"path spelt in another case", true, u"c:\\users\\ann\\downloads\\SETUP TOOL.EXE",
         kSelfCreated - 1, kProgram, kSelfCreated, true},
        {"a stranger", true, u"C:\\Tools\\launcher.exe", kSelfCreated - 1, kProgram, kSelfCreated,
         false},
        {"a copy of the program elsewhere", true, u"C:\\Temp\\Setup Tool.exe", kSelfCreated - 1,
         kProgram, kSelfCreated, false},
        {"a path that only begins the same", true, u"C:\\Users\\Ann\\Downloads\\Setup Tool.exe.exe",
         kSelfCreated - 1, kProgram, kSelfCreated, false},
        {"no parent", false, kProgram, kSelfCreated - 1, kProgram, kSelfCreated, false},
        {"parent path unknown", true, u"", kSelfCreated - 1, kProgram, kSelfCreated, false},
        {"own path unknown", true, u"", kSelfCreated - 1, u"", kSelfCreated, false},
        {"id reused by a later process", true, kProgram, kSelfCreated + 1, kProgram, kSelfCreated,
         false},
        {"parent time unknown", true, kProgram, 0, kProgram, kSelfCreated, false},
        {"own time unknown", true, kProgram, kSelfCreated - 1, kProgram, 0, false},
    };
    for (const auto& c : cases) {
        const ProcessIdentity self{c.selfPath, c.selfCreated};
        const ProcessIdentity parent{c.parentPath, c.parentCreated};
        EXPECT_EQ(c.accepted, AcceptsRunRequest(self, c.listed ? &parent : nullptr)) << c.what;
    }
}

}  // namespace
}  // namespace quarry
