#include "common/Sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quarry {
namespace {

std::string Hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (std::uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 15];
    }
    return text;
}

// The standard's examples, and lengths around the padding boundary, each fed
// whole and in uneven pieces.
TEST(Sha256, MatchesTheStandardVectorsWhateverThePieces) {
    struct Vector {
        std::string input;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const bool extensions : {false, true}) {
    if (extensions && !Sha256::HasExtensions()) continue;
    for (const Vector& vector : vectors) {
        Sha256 whole(extensions);
        whole.Update(vector.input.data(), vector.input.size());
        EXPECT_EQ(vector.digest, Hex(whole.Finish())) << vector.input.size();
        Sha256 pieces(extensions);
        for (std::size_t at = 0, step = 1; at < vector.input.size(); at += step, step = step * 3 % 127 + 1) {
            const std::size_t take = std::min(step, vector.input.size() - at);
            pieces.Update(vector.input.data() + at, take);
        }
        EXPECT_EQ(vector.digest, Hex(pieces.Finish())) << vector.input.size();
    }
    }
}

// The processor's SHA instructions, where it has them, give what the
// portable code gives, at every length around the block size.
TEST(Sha256, ExtensionsAgreeWithThePortableCode) {
    if (!Sha256::HasExtensions()) GTEST_SKIP() << "this processor has no SHA extensions";
    std::vector<std::uint8_t> bytes(4096 + 130);
    std::uint32_t x = 12345;
    for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    for (std::size_t length = 0; length < bytes.size(); length += length < 200 ? 1 : 509) {
        Sha256 portable(false);
        Sha256 fast(true);
        portable.Update(bytes.data(), length);
        fast.Update(bytes.data(), length);
        EXPECT_EQ(portable.Finish(), fast.Finish()) << length;
    }
}

TEST(Sha256, OneChangedByteOrOneMoreByteChangesTheDigest) {
    std::vector<std::uint8_t> bytes(200);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    for (const std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        Sha256 base;
        base.Update(bytes.data(), length);
        const Sha256Digest digest = base.Finish();
        std::vector<std::uint8_t> changed(bytes.begin(), bytes.begin() + length);
        changed[length / 2] ^= 1;
        Sha256 other;
        other.Update(changed.data(), changed.size());
        EXPECT_NE(digest, other.Finish()) << length;
        Sha256 longer;
        longer.Update(bytes.data(), length + 1 <= bytes.size() ? length + 1 : length - 1);
        EXPECT_NE(digest, longer.Finish()) << length;
    }
}

}  // namespace
}  // namespace quarry
