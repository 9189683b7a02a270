#include "package/LzxEncoder.h"

#include <algorithm>
#include <array>
#include <cstring>

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
constexpr std::size_t kFramesPerBlock = 4;
constexpr std::uint16_t kNoLength = 0xFFFF;

constexpr unsigned kHashBits = 17;

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
    void Put(std::uint32_t value, unsigned bits) {  // bits <= 16
        if (bits == 0) return;
        buffer_ = (buffer_ << bits) | (value & ((1u << bits) - 1));
        count_ += bits;
        if (count_ >= 16) {
            count_ -= 16;
            const auto word = static_cast<std::uint16_t>(buffer_ >> count_);
            out_.push_back(static_cast<std::uint8_t>(word));
            out_.push_back(static_cast<std::uint8_t>(word >> 8));
            buffer_ &= (1u << count_) - 1;
        }
    }
    void PutLong(std::uint32_t value, unsigned bits) {  // bits <= 32
        if (bits > 16) {
            Put(value >> 16, bits - 16);
            Put(value & 0xFFFF, 16);
        } else {
            Put(value, bits);
        }
    }
    bool Aligned() const { return count_ == 0; }
    void Align() {
        if (count_ != 0) Put(0, 16 - count_);
    }

private:
    std::vector<std::uint8_t>& out_;
    std::uint32_t buffer_ = 0;
    unsigned count_ = 0;
};

struct Symbol {
    std::uint16_t main;
    std::uint16_t length;  // kNoLength: none
    std::uint32_t footer;  // the offset's extra bits
    std::uint8_t footerBits;
    std::uint16_t span;  // bytes of output
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

struct Match {
    unsigned length = 0;
    std::uint32_t offset = 0;
    int gain = 0;
};

class Encoder {
public:
    Encoder(const std::uint8_t* data, std::size_t size, const LzxSettings& settings,
            LzxStream& out)
        : size_(size), out_(out), bits_(out.bytes) {
        windowBits_ = std::clamp(settings.windowBits, kLzxMinWindowBits, kLzxMaxWindowBits);
        chainLength_ = std::max(1u, settings.chainLength);
        niceLength_ = std::clamp(settings.niceLength, 3u, kMaxMatch);
        slots_ = PositionSlots(windowBits_);
        mainSymbols_ = 256 + slots_ * 8;
        maxOffset_ = (1u << windowBits_) - 3;
        windowMask_ = (1u << windowBits_) - 1;
        data_.assign(data, data + size);
        // Room for 8-byte compares past the end.
        data_.resize(size + 8, 0);
        head_.assign(std::size_t{1} << kHashBits, kNone);
        chain_.assign(std::size_t{1} << windowBits_, kNone);
    }

    void Run() {
        out_ = LzxStream();
        if (size_ == 0) return;
        TranslateCalls();
        bits_.Put(1, 1);
        bits_.PutLong(kE8TranslationSize, 32);
        const std::size_t blockBytes = kFramesPerBlock * kLzxFrameSize;
        for (std::size_t begin = 0; begin < size_; begin += blockBytes) {
            EncodeBlock(begin, std::min(size_, begin + blockBytes));
        }
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
        const std::uint32_t v = data_[at] | (data_[at + 1] << 8) | (data_[at + 2] << 16);
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void Insert(std::size_t at) {
        if (at + 3 > size_) return;
        const std::uint32_t h = Hash(at);
        chain_[at & windowMask_] = head_[h];
        head_[h] = static_cast<std::uint32_t>(at);
    }

    unsigned CommonLength(std::size_t a, std::size_t b, unsigned limit) const {
        unsigned n = 0;
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

    // Estimated bits saved against literals.
    int Gain(unsigned length, std::uint32_t offset) const {
        int cost = length >= 9 ? 12 : 7;
        if (offset == repeats_[0]) {
            cost -= 1;
        } else if (offset != repeats_[1] && offset != repeats_[2]) {
            cost += kSlots.extraBits[SlotOf(offset + 2)] + 1;
        }
        return static_cast<int>(length) * 7 - cost;
    }

    // The best match at `at` of at most `limit` bytes; inserts `at`.
    Match Find(std::size_t at, unsigned limit) {
        Match best;
        if (limit >= kMinMatch) {
            for (std::uint32_t offset : repeats_) {
                if (offset > at) continue;
                const unsigned length = CommonLength(at, at - offset, limit);
                if (length < kMinMatch) continue;
                const int gain = Gain(length, offset);
                if (gain > best.gain) best = Match{length, offset, gain};
            }
        }
        if (at + 3 > size_) return best;
        const std::uint32_t h = Hash(at);
        std::uint32_t candidate = head_[h];
        chain_[at & windowMask_] = candidate;
        head_[h] = static_cast<std::uint32_t>(at);
        if (limit < 3) return best;
        unsigned longest = std::max(2u, best.length);
        if (longest >= limit) return best;
        for (unsigned steps = chainLength_; candidate != kNone && steps > 0; --steps) {
            const std::size_t offset = at - candidate;
            if (offset > maxOffset_ || candidate >= at) break;
            if (data_[candidate + longest] == data_[at + longest]) {
                const unsigned length = CommonLength(at, candidate, limit);
                if (length > longest) {
                    const int gain = Gain(length, static_cast<std::uint32_t>(offset));
                    if (gain > best.gain) {
                        best = Match{length, static_cast<std::uint32_t>(offset), gain};
                        longest = length;
                        if (length >= limit || length >= niceLength_) break;
                    }
                }
            }
            const std::uint32_t next = chain_[candidate & windowMask_];
            if (next == kNone || next >= candidate) break;
            candidate = next;
        }
        return best;
    }

    void AddLiteral(std::size_t at) {
        const std::uint8_t byte = data_[at];
        symbols_.push_back(Symbol{byte, kNoLength, 0, 0, 1});
        ++mainFrequencies_[byte];
    }

    void AddMatch(const Match& match) {
        unsigned slot;
        std::uint32_t footer = 0;
        std::uint8_t footerBits = 0;
        if (match.offset == repeats_[0]) {
            slot = 0;
        } else if (match.offset == repeats_[1]) {
            slot = 1;
            std::swap(repeats_[0], repeats_[1]);
        } else if (match.offset == repeats_[2]) {
            slot = 2;
            std::swap(repeats_[0], repeats_[2]);
        } else {
            const std::uint32_t formatted = match.offset + 2;
            slot = SlotOf(formatted);
            footerBits = kSlots.extraBits[slot];
            footer = formatted - kSlots.base[slot];
            repeats_[2] = repeats_[1];
            repeats_[1] = repeats_[0];
            repeats_[0] = match.offset;
            if (footerBits >= 3) ++alignedFrequencies_[footer & 7];
        }
        const unsigned header = match.length - kMinMatch;
        Symbol symbol{0, kNoLength, footer, footerBits, static_cast<std::uint16_t>(match.length)};
        if (header < kPrimaryLengths) {
            symbol.main = static_cast<std::uint16_t>(256 + slot * 8 + header);
        } else {
            symbol.main = static_cast<std::uint16_t>(256 + slot * 8 + kPrimaryLengths);
            symbol.length = static_cast<std::uint16_t>(header - kPrimaryLengths);
            ++lengthFrequencies_[symbol.length];
        }
        ++mainFrequencies_[symbol.main];
        symbols_.push_back(symbol);
    }

    // Lazy parsing of [begin, end): a match is put off by one byte when the
    // next position offers a better one.
    void Parse(std::size_t begin, std::size_t end) {
        std::size_t at = begin;
        Match pending;
        bool havePending = false;
        while (at < end) {
            const std::size_t frameEnd = std::min(end, (at / kLzxFrameSize + 1) * kLzxFrameSize);
            Match current = havePending
                                ? pending
                                : Find(at, static_cast<unsigned>(std::min<std::size_t>(
                                               kMaxMatch, frameEnd - at)));
            havePending = false;
            if (current.length < kMinMatch || current.gain <= 0) {
                AddLiteral(at);
                ++at;
                continue;
            }
            std::size_t inserted = at + 1;
            if (current.length < niceLength_ && at + 1 < frameEnd) {
                Match next = Find(at + 1, static_cast<unsigned>(
                                              std::min<std::size_t>(kMaxMatch, frameEnd - at - 1)));
                inserted = at + 2;
                if (next.gain > current.gain) {
                    AddLiteral(at);
                    ++at;
                    pending = next;
                    havePending = true;
                    continue;
                }
            }
            AddMatch(current);
            for (std::size_t i = inserted; i < at + current.length; ++i) Insert(i);
            at += current.length;
        }
    }

    void EncodeBlock(std::size_t begin, std::size_t end) {
        symbols_.clear();
        mainFrequencies_.fill(0);
        lengthFrequencies_.fill(0);
        alignedFrequencies_.fill(0);
        Parse(begin, end);

        std::array<std::uint8_t, kMaxMainSymbols> mainLengths{};
        std::array<std::uint8_t, kSecondaryLengths> lengthLengths{};
        std::array<std::uint8_t, kAlignedSymbols> alignedLengths{};
        BuildHuffmanLengths(mainFrequencies_.data(), mainSymbols_, 16, mainLengths.data());
        BuildHuffmanLengths(lengthFrequencies_.data(), kSecondaryLengths, 16, lengthLengths.data());
        BuildHuffmanLengths(alignedFrequencies_.data(), kAlignedSymbols, 7, alignedLengths.data());

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
    unsigned chainLength_ = 48;
    unsigned niceLength_ = 96;
    unsigned slots_ = 0;
    unsigned mainSymbols_ = 0;
    std::uint32_t maxOffset_ = 0;
    std::uint32_t windowMask_ = 0;
    std::vector<std::uint8_t> data_;
    std::vector<std::uint32_t> head_;
    std::vector<std::uint32_t> chain_;
    std::array<std::uint32_t, 3> repeats_{1, 1, 1};
    std::vector<Symbol> symbols_;
    std::array<std::uint32_t, kMaxMainSymbols> mainFrequencies_{};
    std::array<std::uint32_t, kSecondaryLengths> lengthFrequencies_{};
    std::array<std::uint32_t, kAlignedSymbols> alignedFrequencies_{};
    std::array<std::uint8_t, kMaxMainSymbols> previousMain_{};
    std::array<std::uint8_t, kSecondaryLengths> previousLength_{};
};

}  // namespace

void LzxCompress(const std::uint8_t* data, std::size_t size, const LzxSettings& settings,
                 LzxStream& out) {
    Encoder(data, size, settings, out).Run();
}

}  // namespace quarry
