#include "execution/RunRequest.h"

#include <vector>

#include "common/Text.h"
#include "execution/Command.h"
#include "settings/SettingsRules.h"

namespace quarry {

namespace {

constexpr char16_t kSeparator = u'|';

std::u16string Replaced(std::u16string_view text, std::u16string_view from,
                        std::u16string_view to) {
    std::u16string out(text);
    ReplaceAll(out, from, to);
    return out;
}

std::u16string_view TrimSpaces(std::u16string_view text) {
    const std::size_t begin = text.find_first_not_of(u' ');
    if (begin == std::u16string_view::npos) return {};
    return text.substr(begin, text.find_last_not_of(u' ') - begin + 1);
}

std::u16string YesNo(bool value) { return value ? u"Yes" : u"No"; }

// "%d" of a 32-bit value: the sender prints the wait argument signed.
std::u16string SignedDecimal(std::uint32_t value) {
    const std::int64_t number = static_cast<std::int32_t>(value);
    std::uint64_t magnitude = number < 0 ? static_cast<std::uint64_t>(-number)
                                         : static_cast<std::uint64_t>(number);
    std::u16string digits;
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    return number < 0 ? u"-" + digits : digits;
}


}  // namespace

std::u16string EncodeRunRequest(const RunRequest& request) {
    std::u16string record = SignedDecimal(request.waitSeconds) + kSeparator +
                            YesNo(request.systemProgram) + kSeparator +
                            YesNo(request.hideWindow) + kSeparator + request.program;
    if (!request.logPath.empty()) record += kSeparator + request.logPath;
    const std::u16string percent = Replaced(TrimSpaces(record), u"%", u"%25");
    return Replaced(percent, u" ", u"%20");
}

std::optional<RunRequest> DecodeRunRequest(std::u16string_view text) {
    const std::u16string record = Replaced(Replaced(text, u"%20", u" "), u"%25", u"%");
    std::vector<std::u16string_view> pieces;
    const std::u16string_view view = record;
    std::size_t pos = 0;
    while (pos <= view.size() && pieces.size() < 5) {
        std::size_t end = view.find(kSeparator, pos);
        if (end == std::u16string_view::npos) end = view.size();
        if (end > pos) pieces.push_back(view.substr(pos, end - pos));
        pos = end + 1;
    }
    if (pieces.size() < 4) return std::nullopt;
    RunRequest request;
    request.waitSeconds = ParseSettingsUnsigned(pieces[0]);
    request.systemProgram = EqualsNoCase(pieces[1], u"Yes");
    request.hideWindow = EqualsNoCase(pieces[2], u"Yes");
    request.program = std::u16string(pieces[3]);
    if (pieces.size() > 4) request.logPath = std::u16string(pieces[4]);
    return request;
}

std::u16string RunModeParameters(const std::u16string& eventGuid, const RunRequest& request,
                                 const std::u16string& arguments) {
    std::u16string parameters = u"-run " + eventGuid + u" " + EncodeRunRequest(request);
    if (!arguments.empty()) parameters += u" " + arguments;
    const std::size_t end = parameters.find_last_not_of(u' ');
    parameters.erase(end == std::u16string::npos ? 0 : end + 1);
    return parameters;
}

}  // namespace quarry
