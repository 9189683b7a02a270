#include "package/LzxEncoder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>

#include "package/HuffmanCode.h"

namespace quarry {

namespace {

constexpr unsigned kBlockVerbatim = 1;
constexpr unsigned kBlockAligned = 2;
constexpr unsigned kBlockUncompressed = 3;

constexpr unsigned kMinMatch = 2;
constexpr unsigned kMaxMatch = 257;
constexpr unsigned kPrimaryLengths = 7;     // length headers in the main symbol
constexpr unsigned kSecondaryLengths = 249;  // symbols of the length tree
constexpr unsigned kPretreeSymbols = 20;
constexpr unsigned kAlignedSymbols = 8;
constexpr unsigned kMaxPositionSlots = 50;
constexpr unsigned kMaxMainSymbols = 256 + kMaxPositionSlots * 8;
constexpr std::uint32_t kE8TranslationSize = 12000000;
constexpr std::size_t kE8Frames = 32768;  // the translation covers the first 1 GiB
constexpr unsigned kMaxFramesPerBlock = 4;
constexpr std::uint16_t kNoLength = 0xFFFF;

constexpr unsigned kHashBits = 18;       // the trees, by the first 4 bytes
constexpr unsigned kShortHashBits = 15;  // the last position of each 3 bytes
// A match of two bytes is only worth its offset when that offset is short.
constexpr std::uint32_t kPairReach = 64;

unsigned PositionSlots(unsigned windowBits) {
    static constexpr unsigned kSlots[] = {30, 32, 34, 36, 38, 42, 50};
    return kSlots[windowBits - kLzxMinWindowBits];
}

struct SlotTables {
    std::array<std::uint8_t, kMaxPositionSlots> extraBits{};
    std::array<std::uint32_t, kMaxPositionSlots> base{};
    SlotTables() {
        std::uint32_t at = 0;
        for (unsigned i = 0; i < kMaxPositionSlots; ++i) {
            extraBits[i] = static_cast<std::uint8_t>(i < 4 ? 0 : std::min((i - 2) / 2, 17u));
            base[i] = at;
            at += 1u << extraBits[i];
        }
    }
};
const SlotTables kSlots;

// The position slot of a formatted offset (the match offset plus 2).
unsigned SlotOf(std::uint32_t formatted) {
    if (formatted < 4) return formatted;
    if (formatted >= 262144) return 36 + ((formatted - 262144) >> 17);
    unsigned log = 31 - static_cast<unsigned>(__builtin_clz(formatted));
    return 2 * log + ((formatted >> (log - 1)) & 1);
}

// 16-bit little-endian words, each filled from its most significant bit.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void Put(std::uint32_t value, unsigned bits) {  // bits <= 32
        if (bits == 0) return;
        buffer_ = (buffer_ << bits) | (value & ((std::uint64_t{1} << bits) - 1));
        count_ += bits;
        while (count_ >= 16) {
            count_ -= 16;
            const auto word = static_cast<std::uint16_t>(buffer_ >> count_);
            out_.push_back(static_cast<std::uint8_t>(word));
            out_.push_back(static_cast<std::uint8_t>(word >> 8));
        }
        buffer_ &= (std::uint64_t{1} << count_) - 1;
    }
    bool Aligned() const { return count_ == 0; }
    void Align() {
        if (count_ != 0) Put(0, 16 - count_);
    }

private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t buffer_ = 0;
    unsigned count_ = 0;  // bits in buffer_ not written yet, below 16 between calls
};

struct Symbol {
    std::uint16_t main;
    std::uint16_t length;  // kNoLength: none
    std::uint32_t footer;  // the offset's extra bits
    std::uint8_t footerBits;
    std::uint16_t span;  // bytes of output
};

// How often each symbol of the three codes is used.
struct Counts {
    std::array<std::uint32_t, kMaxMainSymbols> main{};
    std::array<std::uint32_t, kSecondaryLengths> length{};
    std::array<std::uint32_t, kAlignedSymbols> aligned{};

    Counts operator-(const Counts& other) const {
        Counts difference;
        auto subtract = [](auto& out, const auto& a, const auto& b) {
            for (std::size_t i = 0; i < out.size(); ++i) out[i] = a[i] - b[i];
        };
        subtract(difference.main, main, other.main);
        subtract(difference.length, length, other.length);
        subtract(difference.aligned, aligned, other.aligned);
        return difference;
    }
};

// A length tree written as pretree symbols: deltas 0..16 from the previous
// block's length of the same element, 17 and 18 for runs of zeros, 19 for a
// short run of one length.
struct Token {
    std::uint8_t symbol;
    std::uint8_t extraBits;
    std::uint8_t extra;
    std::uint8_t delta;  // after 19: the delta symbol
};

struct TreeWriting {
    std::vector<Token> tokens;
    std::array<std::uint8_t, kPretreeSymbols> lengths{};
    std::array<std::uint16_t, kPretreeSymbols> codes{};
    std::uint64_t bits = 0;
};

std::uint8_t Delta(std::uint8_t previous, std::uint8_t now) {
    return static_cast<std::uint8_t>((previous + 17 - now) % 17);
}

void PlanTree(const std::uint8_t* lengths, const std::uint8_t* previous, std::size_t count,
              TreeWriting& plan) {
    plan.tokens.clear();
    for (std::size_t i = 0; i < count;) {
        const std::uint8_t value = lengths[i];
        std::size_t run = 1;
        while (i + run < count && lengths[i + run] == value) ++run;
        if (value == 0 && run >= 4) {
            while (run >= 20) {
                const std::size_t n = std::min<std::size_t>(run, 51);
                plan.tokens.push_back(Token{18, 5, static_cast<std::uint8_t>(n - 20), 0});
                i += n;
                run -= n;
            }
            if (run >= 4) {
                plan.tokens.push_back(Token{17, 4, static_cast<std::uint8_t>(run - 4), 0});
                i += run;
            }
            continue;
        }
        if (run >= 4) {
            const std::size_t n = std::min<std::size_t>(run, 5);
            plan.tokens.push_back(
                Token{19, 1, static_cast<std::uint8_t>(n - 4), Delta(previous[i], value)});
            i += n;
            continue;
        }
        plan.tokens.push_back(Token{Delta(previous[i], value), 0, 0, 0});
        ++i;
    }
    std::array<std::uint32_t, kPretreeSymbols> frequencies{};
    for (const Token& token : plan.tokens) {
        ++frequencies[token.symbol];
        if (token.symbol == 19) ++frequencies[token.delta];
    }
    BuildHuffmanLengths(frequencies.data(), kPretreeSymbols, 15, plan.lengths.data());
    CanonicalHuffmanCodes(plan.lengths.data(), kPretreeSymbols, plan.codes.data());
    plan.bits = 4 * kPretreeSymbols;
    for (const Token& token : plan.tokens) {
        plan.bits += plan.lengths[token.symbol] + token.extraBits;
        if (token.symbol == 19) plan.bits += plan.lengths[token.delta];
    }
}

void WriteTree(const TreeWriting& plan, BitWriter& bits) {
    for (std::uint8_t length : plan.lengths) bits.Put(length, 4);
    for (const Token& token : plan.tokens) {
        bits.Put(plan.codes[token.symbol], plan.lengths[token.symbol]);
        bits.Put(token.extra, token.extraBits);
        if (token.symbol == 19) bits.Put(plan.codes[token.delta], plan.lengths[token.delta]);
    }
}

class Encoder {
public:
    Encoder(std::vector<std::uint8_t>&& data, const LzxSettings& settings, LzxStream& out)
        : size_(data.size()), out_(out), bits_(out.bytes), data_(std::move(data)) {
        windowBits_ = std::clamp(settings.windowBits, kLzxMinWindowBits, kLzxMaxWindowBits);
        treeDepth_ = std::max(1u, settings.treeDepth);
        niceLength_ = std::clamp(settings.niceLength, 3u, kMaxMatch);
        slots_ = PositionSlots(windowBits_);
        mainSymbols_ = 256 + slots_ * 8;
        maxOffset_ = (1u << windowBits_) - 3;
        windowMask_ = (1u << windowBits_) - 1;
        // Room for 8-byte compares past the end.
        data_.resize(size_ + 8, 0);
        head_.assign(std::size_t{1} << kHashBits, kNone);
        shortHead_.assign(std::size_t{1} << kShortHashBits, kNone);
        pairHead_.assign(std::size_t{1} << 16, kNone);
        tree_.assign(std::size_t{2} << windowBits_, kNone);
        SetCosts(nullptr, nullptr);
    }

    void Run() {
        out_ = LzxStream();
        if (size_ == 0) return;
        TranslateCalls();
        bits_.Put(1, 1);
        bits_.Put(kE8TranslationSize, 32);
        // Each frame joins the block before it while one code for both
        // costs fewer bits than two codes, up to kMaxFramesPerBlock frames.
        std::size_t blockBegin = 0;
        unsigned frames = 0;
        std::uint64_t blockBits = 0;  // estimated, of the block so far
        for (std::size_t at = 0; at < size_; at += kLzxFrameSize) {
            const Counts before = counts_;
            const std::size_t symbolsBefore = symbols_.size();
            const std::array<std::uint32_t, 3> repeatsBefore = repeats_;
            ParseFrame(at, std::min(size_, at + kLzxFrameSize));
            if (frames++ == 0) {
                blockBits = EstimatedBits(counts_);
                continue;
            }
            const Counts frame = counts_ - before;
            const std::uint64_t frameBits = EstimatedBits(frame);
            if (frames <= kMaxFramesPerBlock) {
                const std::uint64_t joinedBits = EstimatedBits(counts_);
                if (joinedBits <= blockBits + frameBits) {
                    blockBits = joinedBits;
                    continue;
                }
            }
            // The frame begins the next block: the block is written as it
            // stood before it, repeated offsets included.
            std::vector<Symbol> next(symbols_.begin() + static_cast<std::ptrdiff_t>(symbolsBefore),
                                     symbols_.end());
            const std::array<std::uint32_t, 3> repeatsAfter = repeats_;
            symbols_.resize(symbolsBefore);
            counts_ = before;
            repeats_ = repeatsBefore;
            WriteBlock(blockBegin, at);
            symbols_ = std::move(next);
            counts_ = frame;
            repeats_ = repeatsAfter;
            blockBegin = at;
            blockBits = frameBits;
            frames = 1;
        }
        WriteBlock(blockBegin, size_);
    }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // The x86 CALL translation: the 32-bit operand after each E8 byte that
    // a decoder would translate back is made absolute, frame by frame.
    void TranslateCalls() {
        const auto total = static_cast<std::int64_t>(kE8TranslationSize);
        for (std::size_t frame = 0; frame < kE8Frames; ++frame) {
            const std::size_t start = frame * kLzxFrameSize;
            if (start >= size_) break;
            const std::size_t frameSize = std::min(kLzxFrameSize, size_ - start);
            if (frameSize <= 10) break;
            const std::size_t end = start + frameSize - 10;
            for (std::size_t i = start; i < end;) {
                if (data_[i] != 0xE8) {
                    ++i;
                    continue;
                }
                std::uint8_t* operand = &data_[i + 1];
                const auto relative = static_cast<std::int32_t>(
                    operand[0] | (operand[1] << 8) | (operand[2] << 16) |
                    (static_cast<std::uint32_t>(operand[3]) << 24));
                const auto position = static_cast<std::int64_t>(i);
                if (relative >= -position && relative < total) {
                    const std::int64_t absolute =
                        relative < total - position ? relative + position : relative - total;
                    const auto value = static_cast<std::uint32_t>(absolute);
                    for (int b = 0; b < 4; ++b) operand[b] = static_cast<std::uint8_t>(value >> (8 * b));
                }
                i += 5;
            }
        }
    }

    std::uint32_t Hash(std::size_t at) const {
        std::uint32_t v;
        std::memcpy(&v, &data_[at], 4);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    std::uint32_t ShortHash(std::size_t at) const {
        const std::uint32_t v = data_[at] | (data_[at + 1] << 8) | (data_[at + 2] << 16);
        return (v * 2654435761u) >> (32 - kShortHashBits);
    }

    unsigned CommonLength(std::size_t a, std::size_t b, unsigned from, unsigned limit) const {
        unsigned n = from;
        while (n + 8 <= limit) {
            std::uint64_t x;
            std::uint64_t y;
            std::memcpy(&x, &data_[a + n], 8);
            std::memcpy(&y, &data_[b + n], 8);
            if (x != y) return n + static_cast<unsigned>(__builtin_ctzll(x ^ y) / 8);
            n += 8;
        }
        while (n < limit && data_[a + n] == data_[b + n]) ++n;
        return n;
    }

    // The binary tree match finder: the positions of one hash bucket form a
    // tree ordered by the bytes that follow them, newest at the root.
    // Inserting `at` walks down from the root (at most treeDepth_ nodes),
    // meets the nearest earlier strings on the way and records, when
    // `record`, each match longer than the ones before. Returns the longest.
    unsigned Advance(std::size_t at, bool record) {
        const auto maxLength = static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, size_ - at));
        if (maxLength < 3) return 0;
        const unsigned nice = std::min(niceLength_, maxLength);
        unsigned best = 0;
        // Matches of 2 and of 3 bytes from the last position that began
        // with them, which the trees, keyed by 4 bytes, do not find. Two
        // bytes are worth a match only at a short offset.
        auto nearest = [&](std::uint32_t& head, std::uint32_t reach, unsigned shortest) {
            const std::uint32_t recent = head;
            head = static_cast<std::uint32_t>(at);
            if (!record || recent == kNone || at - recent > reach) return;
            const unsigned length = CommonLength(at, recent, 0, maxLength);
            if (length >= shortest && length > best) {
                best = length;
                found_.push_back(Found{length, static_cast<std::uint32_t>(at - recent)});
            }
        };
        nearest(pairHead_[data_[at] | (data_[at + 1] << 8)], kPairReach, 2);
        nearest(shortHead_[ShortHash(at)], maxOffset_, 3);
        best = std::max(best, 2u);
        if (maxLength < 4) return best > 2 ? best : 0;
        const std::uint32_t h = Hash(at);
        std::uint32_t node = head_[h];
        head_[h] = static_cast<std::uint32_t>(at);
        std::uint32_t* smaller = &tree_[2 * (at & windowMask_)];
        std::uint32_t* larger = smaller + 1;
        unsigned smallerLength = 0;
        unsigned largerLength = 0;
        for (unsigned depth = treeDepth_;; ) {
            if (node == kNone || at - node > maxOffset_) break;
            unsigned length = std::min(smallerLength, largerLength);
            if (data_[node + length] == data_[at + length]) {
                length = CommonLength(at, node, length + 1, maxLength);
                if (length > best) {
                    best = length;
                    if (record) found_.push_back(Found{length, static_cast<std::uint32_t>(at - node)});
                }
                if (length >= nice) {
                    *smaller = tree_[2 * (node & windowMask_)];
                    *larger = tree_[2 * (node & windowMask_) + 1];
                    return best;
                }
            }
            if (data_[node + length] < data_[at + length]) {
                *smaller = node;
                smaller = &tree_[2 * (node & windowMask_) + 1];
                node = *smaller;
                smallerLength = length;
            } else {
                *larger = node;
                larger = &tree_[2 * (node & windowMask_)];
                node = *larger;
                largerLength = length;
            }
            if (--depth == 0) break;
        }
        *smaller = kNone;
        *larger = kNone;
        return best > 2 ? best : 0;
    }

    // Bit costs of the symbols for the parser: the code lengths of the
    // block before (symbols it did not use are taken as rare), or first
    // guesses.
    void SetCosts(const std::uint8_t* mainLengths, const std::uint8_t* lengthLengths) {
        for (unsigned i = 0; i < mainSymbols_; ++i) {
            mainCost_[i] = mainLengths == nullptr ? (i < 256 ? 8 : 10)
                           : mainLengths[i] != 0 ? mainLengths[i]
                                                 : 14;
        }
        for (unsigned i = 0; i < kSecondaryLengths; ++i) {
            lengthCost_[i] = lengthLengths == nullptr ? 6 : lengthLengths[i] != 0 ? lengthLengths[i] : 12;
        }
    }

    std::uint32_t MatchCost(unsigned slot, unsigned length) const {
        const unsigned header = length - kMinMatch;
        if (header < kPrimaryLengths) return mainCost_[256 + slot * 8 + header];
        return mainCost_[256 + slot * 8 + kPrimaryLengths] + lengthCost_[header - kPrimaryLengths];
    }

    void AddLiteral(std::size_t at) {
        const std::uint8_t byte = data_[at];
        symbols_.push_back(Symbol{byte, kNoLength, 0, 0, 1});
        ++counts_.main[byte];
    }

    void AddMatch(unsigned length, std::uint32_t offset) {
        unsigned slot;
        std::uint32_t footer = 0;
        std::uint8_t footerBits = 0;
        if (offset == repeats_[0]) {
            slot = 0;
        } else if (offset == repeats_[1]) {
            slot = 1;
            std::swap(repeats_[0], repeats_[1]);
        } else if (offset == repeats_[2]) {
            slot = 2;
            std::swap(repeats_[0], repeats_[2]);
        } else {
            const std::uint32_t formatted = offset + 2;
            slot = SlotOf(formatted);
            footerBits = kSlots.extraBits[slot];
            footer = formatted - kSlots.base[slot];
            repeats_[2] = repeats_[1];
            repeats_[1] = repeats_[0];
            repeats_[0] = offset;
            if (footerBits >= 3) ++counts_.aligned[footer & 7];
        }
        const unsigned header = length - kMinMatch;
        Symbol symbol{0, kNoLength, footer, footerBits, static_cast<std::uint16_t>(length)};
        if (header < kPrimaryLengths) {
            symbol.main = static_cast<std::uint16_t>(256 + slot * 8 + header);
        } else {
            symbol.main = static_cast<std::uint16_t>(256 + slot * 8 + kPrimaryLengths);
            symbol.length = static_cast<std::uint16_t>(header - kPrimaryLengths);
            ++counts_.length[symbol.length];
        }
        ++counts_.main[symbol.main];
        symbols_.push_back(symbol);
    }

    // The cheapest way through one frame by the current bit costs: a
    // shortest path over positions, where each step is a literal, a match
    // at one of the three repeated offsets of the path so far, or a match
    // the tree found, at any length up to its own. Runs longer than the
    // nice length are taken whole.
    void ParseFrame(std::size_t begin, std::size_t end) {
        const std::size_t n = end - begin;
        found_.clear();
        foundAt_.assign(n + 1, 0);
        for (std::size_t i = 0; i < n;) {
            foundAt_[i] = static_cast<std::uint32_t>(found_.size());
            const unsigned longest = Advance(begin + i, true);
            ++i;
            if (longest >= niceLength_) {
                // The match is taken whole below: the bytes it covers only
                // go into the tree.
                for (std::size_t k = 1; k < longest && i < n; ++k, ++i) {
                    foundAt_[i] = static_cast<std::uint32_t>(found_.size());
                    Advance(begin + i, false);
                }
            }
        }
        foundAt_[n] = static_cast<std::uint32_t>(found_.size());

        // Two passes: the first path's own symbols give the costs of the
        // second, so that the path fits the code the block will have.
        const std::vector<Symbol>::size_type symbolCount = symbols_.size();
        const Counts counts = counts_;
        const auto repeats = repeats_;
        CheapestPath(begin, n);
        EmitPath(begin, n);
        CostsFromFrequencies();
        symbols_.resize(symbolCount);
        counts_ = counts;
        repeats_ = repeats;
        CheapestPath(begin, n);
        EmitPath(begin, n);
    }

    void CostsFromFrequencies() {
        std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
        std::array<std::uint8_t, kSecondaryLengths> lengthLengths{};
        BuildHuffmanLengths(counts_.main.data(), mainSymbols_, 16, mainLengths.data());
        BuildHuffmanLengths(counts_.length.data(), kSecondaryLengths, 16, lengthLengths.data());
        SetCosts(mainLengths.data(), lengthLengths.data());
    }

    void CheapestPath(std::size_t begin, std::size_t n) {
        constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;
        nodes_.assign(n + 1, Node{kInfinite, 0, 0, {1, 1, 1}});
        nodes_[0].cost = 0;
        nodes_[0].repeats = repeats_;
        for (std::size_t i = 0; i < n; ++i) {
            const Node from = nodes_[i];
            const std::size_t at = begin + i;
            auto relax = [&](std::size_t to, std::uint32_t cost, unsigned length, std::uint32_t offset,
                             const std::array<std::uint32_t, 3>& repeats) {
                Node& node = nodes_[to];
                if (cost < node.cost) node = Node{cost, offset, static_cast<std::uint16_t>(length), repeats};
            };
            relax(i + 1, from.cost + mainCost_[data_[at]], 1, 0, from.repeats);
            const auto limit = static_cast<unsigned>(std::min<std::size_t>(kMaxMatch, n - i));
            if (limit < kMinMatch) continue;
            for (unsigned r = 0; r < 3; ++r) {
                const std::uint32_t offset = from.repeats[r];
                if (offset > at) continue;
                const unsigned longest = CommonLength(at, at - offset, 0, limit);
                if (longest < kMinMatch) continue;
                std::array<std::uint32_t, 3> repeats = from.repeats;
                std::swap(repeats[0], repeats[r]);
                const unsigned top = longest > niceLength_ ? niceLength_ : longest;
                for (unsigned length = kMinMatch; length <= top; ++length) {
                    relax(i + length, from.cost + MatchCost(r, length), length, offset, repeats);
                }
                if (longest > top) relax(i + longest, from.cost + MatchCost(r, longest), longest, offset, repeats);
            }
            unsigned shortest = kMinMatch;
            for (std::uint32_t k = foundAt_[i]; k < foundAt_[i + 1]; ++k) {
                const std::uint32_t offset = found_[k].offset;
                const unsigned longest = std::min(found_[k].length, limit);
                if (offset == from.repeats[0] || offset == from.repeats[1] || offset == from.repeats[2]) {
                    shortest = std::max(shortest, longest + 1);
                    continue;
                }
                const unsigned slot = SlotOf(offset + 2);
                const std::uint32_t base = from.cost + kSlots.extraBits[slot];
                const std::array<std::uint32_t, 3> repeats{offset, from.repeats[0], from.repeats[1]};
                const unsigned top = longest > niceLength_ ? std::max(shortest, niceLength_) : longest;
                for (unsigned length = shortest; length <= std::min(top, longest); ++length) {
                    relax(i + length, base + MatchCost(slot, length), length, offset, repeats);
                }
                if (longest > top) relax(i + longest, base + MatchCost(slot, longest), longest, offset, repeats);
                shortest = std::max(shortest, longest + 1);
            }
        }

    }

    void EmitPath(std::size_t begin, std::size_t n) {
        path_.clear();
        for (std::size_t k = n; k > 0; k -= nodes_[k].length) path_.push_back(k);
        std::size_t at = begin;
        for (auto step = path_.rbegin(); step != path_.rend(); ++step) {
            const Node& node = nodes_[*step];
            if (node.length == 1) {
                AddLiteral(at);
            } else {
                AddMatch(node.length, node.offset);
            }
            at += node.length;
        }
    }

    // The bits of a verbatim block that uses symbols `counts` times: its
    // code tables and the symbols, without the offsets' extra bits.
    std::uint64_t EstimatedBits(const Counts& counts) const {
        std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
        std::array<std::uint8_t, kSecondaryLengths> lengthLengths{};
        BuildHuffmanLengths(counts.main.data(), mainSymbols_, 16, mainLengths.data());
        BuildHuffmanLengths(counts.length.data(), kSecondaryLengths, 16, lengthLengths.data());
        std::uint64_t bits = 27 + TablesBits(mainLengths.data(), lengthLengths.data());
        for (unsigned i = 0; i < mainSymbols_; ++i) bits += std::uint64_t{counts.main[i]} * mainLengths[i];
        for (unsigned i = 0; i < kSecondaryLengths; ++i) {
            bits += std::uint64_t{counts.length[i]} * lengthLengths[i];
        }
        return bits;
    }

    std::uint64_t TablesBits(const std::uint8_t* mainLengths, const std::uint8_t* lengthLengths) const {
        TreeWriting plan;
        PlanTree(mainLengths, previousMain_.data(), 256, plan);
        std::uint64_t bits = plan.bits;
        PlanTree(mainLengths + 256, previousMain_.data() + 256, mainSymbols_ - 256, plan);
        bits += plan.bits;
        PlanTree(lengthLengths, previousLength_.data(), kSecondaryLengths, plan);
        return bits + plan.bits;
    }

    // Writes the block of the parsed symbols, which cover [begin, end).
    void WriteBlock(std::size_t begin, std::size_t end) {
        std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
        std::array<std::uint8_t, kSecondaryLengths> lengthLengths{};
        std::array<std::uint8_t, kAlignedSymbols> alignedLengths{};
        BuildHuffmanLengths(counts_.main.data(), mainSymbols_, 16, mainLengths.data());
        BuildHuffmanLengths(counts_.length.data(), kSecondaryLengths, 16, lengthLengths.data());
        BuildHuffmanLengths(counts_.aligned.data(), kAlignedSymbols, 7, alignedLengths.data());

        TreeWriting mainLow;
        TreeWriting mainHigh;
        TreeWriting lengthTree;
        PlanTree(mainLengths.data(), previousMain_.data(), 256, mainLow);
        PlanTree(mainLengths.data() + 256, previousMain_.data() + 256, mainSymbols_ - 256, mainHigh);
        PlanTree(lengthLengths.data(), previousLength_.data(), kSecondaryLengths, lengthTree);

        std::uint64_t verbatim = 27 + mainLow.bits + mainHigh.bits + lengthTree.bits;
        std::int64_t alignedSaving = -3 * static_cast<std::int64_t>(kAlignedSymbols);
        for (const Symbol& symbol : symbols_) {
            verbatim += mainLengths[symbol.main] + symbol.footerBits;
            if (symbol.length != kNoLength) verbatim += lengthLengths[symbol.length];
            if (symbol.footerBits >= 3) {
                alignedSaving += 3 - static_cast<std::int64_t>(alignedLengths[symbol.footer & 7]);
            }
        }
        const std::size_t bytes = end - begin;
        const std::uint64_t stored = 27 + 16 + 96 + 8 * (bytes + (bytes & 1));
        const std::uint64_t compressed =
            alignedSaving > 0 ? verbatim - static_cast<std::uint64_t>(alignedSaving) : verbatim;
        if (stored <= compressed) {
            WriteStored(begin, end);
            return;
        }
        const unsigned type = alignedSaving > 0 ? kBlockAligned : kBlockVerbatim;
        ++(type == kBlockAligned ? out_.alignedBlocks : out_.verbatimBlocks);
        bits_.Put(type, 3);
        bits_.Put(static_cast<std::uint32_t>(bytes >> 8), 16);
        bits_.Put(static_cast<std::uint32_t>(bytes & 0xFF), 8);
        if (type == kBlockAligned) {
            for (std::uint8_t length : alignedLengths) bits_.Put(length, 3);
        }
        WriteTree(mainLow, bits_);
        WriteTree(mainHigh, bits_);
        WriteTree(lengthTree, bits_);
        std::copy(mainLengths.begin(), mainLengths.end(), previousMain_.begin());
        std::copy(lengthLengths.begin(), lengthLengths.end(), previousLength_.begin());
        SetCosts(mainLengths.data(), lengthLengths.data());

        std::array<std::uint16_t, kMaxMainSymbols> mainCodes{};
        std::array<std::uint16_t, kSecondaryLengths> lengthCodes{};
        std::array<std::uint16_t, kAlignedSymbols> alignedCodes{};
        CanonicalHuffmanCodes(mainLengths.data(), mainSymbols_, mainCodes.data());
        CanonicalHuffmanCodes(lengthLengths.data(), kSecondaryLengths, lengthCodes.data());
        CanonicalHuffmanCodes(alignedLengths.data(), kAlignedSymbols, alignedCodes.data());
        std::size_t at = begin;
        for (const Symbol& symbol : symbols_) {
            bits_.Put(mainCodes[symbol.main], mainLengths[symbol.main]);
            if (symbol.length != kNoLength) {
                bits_.Put(lengthCodes[symbol.length], lengthLengths[symbol.length]);
            }
            if (type == kBlockAligned && symbol.footerBits >= 3) {
                bits_.Put(symbol.footer >> 3, symbol.footerBits - 3u);
                const unsigned low = symbol.footer & 7;
                bits_.Put(alignedCodes[low], alignedLengths[low]);
            } else {
                bits_.Put(symbol.footer, symbol.footerBits);
            }
            at += symbol.span;
            if (at % kLzxFrameSize == 0 || at == size_) EndFrame();
        }
    }

    // An uncompressed block: after its header, 1 to 16 bits of padding, the
    // three repeated offsets, the bytes, and a pad byte after an odd count.
    void WriteStored(std::size_t begin, std::size_t end) {
        const std::size_t bytes = end - begin;
        ++out_.uncompressedBlocks;
        bits_.Put(kBlockUncompressed, 3);
        bits_.Put(static_cast<std::uint32_t>(bytes >> 8), 16);
        bits_.Put(static_cast<std::uint32_t>(bytes & 0xFF), 8);
        if (bits_.Aligned()) bits_.Put(0, 16);
        bits_.Align();
        for (std::uint32_t offset : repeats_) {
            for (int b = 0; b < 4; ++b) out_.bytes.push_back(static_cast<std::uint8_t>(offset >> (8 * b)));
        }
        for (std::size_t at = begin; at < end;) {
            const std::size_t frameEnd = std::min(end, (at / kLzxFrameSize + 1) * kLzxFrameSize);
            out_.bytes.insert(out_.bytes.end(), data_.begin() + static_cast<std::ptrdiff_t>(at),
                              data_.begin() + static_cast<std::ptrdiff_t>(frameEnd));
            at = frameEnd;
            if (at == end && (bytes & 1) != 0) out_.bytes.push_back(0);
            EndFrame();
        }
    }

    void EndFrame() {
        bits_.Align();
        out_.frameEnds.push_back(out_.bytes.size());
    }

    std::size_t size_;
    LzxStream& out_;
    BitWriter bits_;
    unsigned windowBits_ = kLzxMaxWindowBits;
    unsigned niceLength_ = 96;
    unsigned slots_ = 0;
    unsigned mainSymbols_ = 0;
    std::uint32_t maxOffset_ = 0;
    std::uint32_t windowMask_ = 0;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> shortHead_;
    std::vector<std::uint32_t> pairHead_;  // the last position of each 2 bytes
    std::vector<std::uint32_t> tree_;  // smaller and larger child of each position
    unsigned treeDepth_ = 32;
    struct Found {
        unsigned length;
        std::uint32_t offset;
    };
    std::vector<Found> found_;            // matches of the frame's positions
    std::vector<std::uint32_t> foundAt_;  // the first of each position's
    struct Node {
        std::uint32_t cost;
        std::uint32_t offset;
        std::uint16_t length;  // of the step that reaches the node; 1: a literal
        std::array<std::uint32_t, 3> repeats;
    };
    std::vector<Node> nodes_;
    std::vector<std::size_t> path_;
    std::array<std::uint32_t, kMaxMainSymbols> mainCost_{};
    std::array<std::uint32_t, kSecondaryLengths> lengthCost_{};
    std::array<std::uint32_t, 3> repeats_{1, 1, 1};
    std::vector<Symbol> symbols_;
    Counts counts_;  // of the block's symbols
    std::array<std::uint8_t, kMaxMainSymbols> previousMain_{};
    std::array<std::uint8_t, kSecondaryLengths> previousLength_{};
};

}  // namespace

void LzxCompress(std::vector<std::uint8_t>&& data, const LzxSettings& settings, LzxStream& out) {
    Encoder(std::move(data), settings, out).Run();
}

void LzxCompress(const std::uint8_t* data, std::size_t size, const LzxSettings& settings,
                 LzxStream& out) {
    LzxCompress(std::vector<std::uint8_t>(data, data + size), settings, out);
}

}  // namespace quarry
