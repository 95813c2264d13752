#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "convert/format.h"
#include "convert/scan.h"

using namespace ferryline;

namespace {

// Every classifier this build and processor have: the portable one always, the others where they run.
struct NamedClassifiers {
    const char* name;
    Classifiers classifiers;
};

std::vector<NamedClassifiers> AllClassifiers()
{
    std::vector<NamedClassifiers> all = {{"portable", {ClassifyMacBytes, ClassifyW95Bytes}}};
    Classifiers wide = {nullptr, nullptr};
    if (GetSse2Classifiers(&wide)) {
        all.push_back({"sse2", wide});
    }
    if (GetAvx2Classifiers(&wide)) {
        all.push_back({"avx2", wide});
    }
    return all;
}

bool IsMarker(char c)
{
    return c == '&' || c == '#' || c == '^' || c == '+';
}

bool IsBreak(char c)
{
    return c == '\r' || c == '\n';
}

bool IsNameSpecial(char c)
{
    return c != '\0' && strchr(kNameSpecials, c) != nullptr;
}

// The three masks each converter reads, bit by bit from the definitions, and the bytes above 127.
struct Expected {
    std::vector<uint64_t> ends, second, third;
    size_t highBytes = 0;
};

Expected Reference(const char* bytes, size_t size, bool mac)
{
    Expected expected;
    for (std::vector<uint64_t>* mask : {&expected.ends, &expected.second, &expected.third}) {
        mask->assign(kChunkWords + 1, 0);
    }
    for (size_t i = 0; i < size; ++i) {
        char c = bytes[i];
        uint64_t bit = uint64_t{1} << (i % 64);
        bool end = c == '\0' || (mac ? IsBreak(c) : IsMarker(c));
        bool second = mac ? IsMarker(c) : IsBreak(c);
        bool third = mac ? c == '<' : IsNameSpecial(c);
        expected.ends[i / 64] |= end ? bit : 0;
        expected.second[i / 64] |= second ? bit : 0;
        expected.third[i / 64] |= third ? bit : 0;
        expected.highBytes += static_cast<unsigned char>(c) >= 0x80 ? 1 : 0;
    }
    return expected;
}

void ExpectClassified(const NamedClassifiers& named, const char* bytes, size_t size, const std::string& where)
{
    for (bool mac : {true, false}) {
        ChunkClasses classes;
        memset(&classes, 0xA5, sizeof classes);  // nothing may be left as it was
        (mac ? named.classifiers.mac : named.classifiers.w95)(bytes, size, &classes);
        Expected expected = Reference(bytes, size, mac);
        const uint64_t* second = classes.second;
        const uint64_t* third = classes.third;
        for (size_t w = 0; w <= kChunkWords; ++w) {
            ASSERT_EQ(expected.ends[w], classes.ends[w]) << named.name << (mac ? " mac " : " w95 ") << where << " word " << w;
            ASSERT_EQ(expected.second[w], second[w]) << named.name << (mac ? " mac " : " w95 ") << where << " word " << w;
            ASSERT_EQ(expected.third[w], third[w]) << named.name << (mac ? " mac " : " w95 ") << where << " word " << w;
        }
        ASSERT_EQ(expected.highBytes, classes.highBytes) << named.name << (mac ? " mac " : " w95 ") << where;
    }
}

// Bytes that are all in some class, their neighbours, and bytes with the high bit set.
const char kAlphabet[] = "\r\n&#^+<()>@,;:\\.[]a \t\x0c\x0e\x22\x24\x2a\x7f\x80\xaa\xff";

std::string RandomText(uint32_t* seed, size_t size)
{
    std::string text(size, 'a');
    for (char& c : text) {
        *seed = *seed * 1664525u + 1013904223u;
        uint32_t roll = (*seed >> 16) % (sizeof kAlphabet);  // the alphabet's terminating zero too
        c = kAlphabet[roll];
    }
    return text;
}

TEST(Scan, EveryByteValueIsClassifiedAtEveryPlaceOfAWord)
{
    // A byte alone in a run of filler, at each place of the first two words and around the 64-byte
    // blocks the instruction sets take at once.
    const size_t places[] = {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 62, 63, 64, 65, 127};
    char buffer[130];
    for (const NamedClassifiers& named : AllClassifiers()) {
        for (int value = 0; value < 256; ++value) {
            for (size_t place : places) {
                memset(buffer, 'a', sizeof buffer);
                buffer[place] = static_cast<char>(value);
                ExpectClassified(named, buffer, sizeof buffer, "byte " + std::to_string(value) + " at " + std::to_string(place));
            }
        }
    }
}

TEST(Scan, EveryLengthAndAlignmentAroundTheWordAndBlockSizes)
{
    std::vector<size_t> lengths;
    for (size_t n = 1; n <= 24; ++n) {
        lengths.push_back(n);
    }
    for (size_t base : {size_t{64}, size_t{128}, kChunkSize}) {
        for (size_t n = base - 9; n <= base + 9 && n <= kChunkSize; ++n) {
            lengths.push_back(n);
        }
    }
    uint32_t seed = 7;
    std::vector<char> storage(kChunkSize + 16);
    for (const NamedClassifiers& named : AllClassifiers()) {
        for (size_t length : lengths) {
            for (size_t offset = 0; offset < 8; ++offset) {
                std::string text = RandomText(&seed, length);
                memcpy(storage.data() + offset, text.data(), length);
                ExpectClassified(named, storage.data() + offset, length,
                                 "length " + std::to_string(length) + " offset " + std::to_string(offset));
            }
        }
    }
}

// The run from `from` as a byte-by-byte search finds it; for W95 also through `window`, which is kept
// from one call to the next as the converter keeps it.
void ExpectRun(Scan* scan, ScanWindow* window, const std::string& text, size_t from, bool mac, const char* name)
{
    size_t end = from;
    size_t second = std::string::npos;
    size_t third = std::string::npos;
    for (; end < text.size(); ++end) {
        char c = text[end];
        if (c == '\0' || (mac ? IsBreak(c) : IsMarker(c))) {
            break;
        }
        if (second == std::string::npos && (mac ? IsMarker(c) : IsBreak(c))) {
            second = end;
        }
        if (third == std::string::npos && (mac ? c == '<' : IsNameSpecial(c))) {
            third = end;
        }
    }
    ScannedRun run = ScanRun(scan, text.data() + from);
    const char* base = text.data();
    ASSERT_EQ(base + end, run.end) << name << (mac ? " mac" : " w95") << " from " << from;
    ASSERT_EQ(second != std::string::npos ? base + second : nullptr, run.second) << name << " from " << from;
    ASSERT_EQ(third != std::string::npos ? base + third : nullptr, run.third) << name << " from " << from;
    uint64_t secondBits = 0;
    for (size_t i = from; i < end && i - from < 64; ++i) {
        secondBits |= static_cast<uint64_t>(mac ? IsMarker(text[i]) : IsBreak(text[i])) << (i - from);
    }
    ASSERT_EQ(secondBits, run.secondBits) << name << " from " << from;
    if (!mac) {
        ScannedFlags flags = ScanRunInWindow(scan, window, text.data() + from);
        ASSERT_EQ(base + end, flags.end) << name << " window from " << from;
        ASSERT_EQ(second != std::string::npos, flags.hasSecond) << name << " window from " << from;
        ASSERT_EQ(third != std::string::npos, flags.hasThird) << name << " window from " << from;
    }
}

// Runs found one after another as the converters find them, against a byte-by-byte search.
TEST(Scan, LinesAndFieldsAcrossWordsAndChunks)
{
    uint32_t seed = 11;
    // Short runs, runs of about a word, and runs past a chunk, each with one byte of the second and of
    // the third class well inside, so every way of crossing is taken; Mac lines and W95 fields in turn.
    std::string text;
    const size_t runs[] = {3, 63, 64, 65, 1, 0, 200, 4096, 5000, 7, 70, 0, 0, 130, 4100, 66};
    bool mac = true;
    for (size_t run : runs) {
        std::string body(run, 'b');
        if (run >= 3) {
            body[run / 3] = mac ? '<' : ';';
            body[run * 2 / 3] = mac ? '^' : '\n';
        }
        text += body + (mac ? "\r" : "+");
        mac = !mac;
    }
    text += RandomText(&seed, 9000);
    for (const NamedClassifiers& named : AllClassifiers()) {
        Scan macScan;
        Scan w95Scan;
        StartScan(&macScan, text.data(), text.size(), named.classifiers.mac);
        StartScan(&w95Scan, text.data(), text.size(), named.classifiers.w95);
        ScanWindow window = {text.data(), 0, 0, 0};
        // From every byte, so runs start at every place of a word; then from the first again, since any
        // order is right.
        for (size_t step = 0; step <= text.size(); ++step) {
            size_t from = step < text.size() ? step : 0;
            ExpectRun(&macScan, nullptr, text, from, true, named.name);
            ExpectRun(&w95Scan, &window, text, from, false, named.name);
        }
    }
}

TEST(Scan, MarkersAreReplacedAWordAtATimeAsAByteAtATime)
{
    // Every length around one and two words, at every alignment; the word copy writes past the field,
    // so what lies there must be left to whoever writes next, and no marker past the field may count.
    uint32_t seed = 11;
    for (size_t length = 0; length <= 24; ++length) {
        for (size_t offset = 0; offset < 8; ++offset) {
            std::string text = RandomText(&seed, offset + length + 8);
            text.replace(offset + length, 8, "&#^+&#^+");
            char byBytes[40];
            char byWords[40];
            memset(byBytes, '.', sizeof byBytes);
            memset(byWords, '.', sizeof byWords);
            bool replacedByBytes = CopyReplacingMarkers(byBytes + offset, text.data() + offset, length);
            bool replacedByWords = CopyReplacingMarkersByWords(byWords + offset, text.data() + offset, length);
            std::string where = "length " + std::to_string(length) + " offset " + std::to_string(offset);
            ASSERT_EQ(replacedByBytes, replacedByWords) << where;
            ASSERT_EQ(std::string(byBytes + offset, length), std::string(byWords + offset, length)) << where;
            ASSERT_EQ(std::string(byBytes, offset), std::string(byWords, offset)) << where << ": wrote before the field";
        }
    }
}

}  // namespace
