#include "core/TextEncoding.h"

#include "core/CSVError.h"
#include "core/UTF8.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace zarvel {

namespace {

struct EncodingInfo {
    std::string_view raw;
    std::string_view display;
    std::string_view bom;
    const char* icuName;
};

const EncodingInfo& info(TextEncoding e) {
    static const EncodingInfo table[] = {
        {"utf8", "UTF-8", std::string_view("\xEF\xBB\xBF", 3), "UTF-8"},
        {"utf16LittleEndian", "UTF-16 LE", std::string_view("\xFF\xFE", 2), "UTF-16LE"},
        {"utf16BigEndian", "UTF-16 BE", std::string_view("\xFE\xFF", 2), "UTF-16BE"},
        {"utf32LittleEndian", "UTF-32 LE", std::string_view("\xFF\xFE\x00\x00", 4), "UTF-32LE"},
        {"utf32BigEndian", "UTF-32 BE", std::string_view("\x00\x00\xFE\xFF", 4), "UTF-32BE"},
        {"windows1252", "Windows-1252", {}, "windows-1252"},
        {"isoLatin1", "ISO-8859-1", {}, "ISO-8859-1"},
        {"isoLatin2", "ISO-8859-2", {}, "ISO-8859-2"},
        {"macRoman", "Mac Roman", {}, "macintosh"},
        {"shiftJIS", "Shift JIS", {}, "Shift_JIS"},
        {"gb18030", "GB 18030", {}, "GB18030"},
    };
    return table[static_cast<size_t>(e)];
}

// The five bytes code page 1252 leaves undefined; ICU maps them to C1 controls, which
// would make an ISO-8859-1 file read as Windows-1252 without complaint.
bool isUndefinedIn1252(uint8_t b) { return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D; }

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

// Leaves the error set for every character the target cannot hold. ICU's own STOP
// callback lets an unmappable default-ignorable character (a soft hyphen, a zero-width
// space, a joiner) pass as success and drops it from the output.
void stopOnEveryUnmappable(const void*, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
                           UConverterCallbackReason, UErrorCode*) {}

Converter openStrict(const char* name) {
    UErrorCode status = U_ZERO_ERROR;
    Converter c(ucnv_open(name, &status));
    if (U_FAILURE(status)) return nullptr;
    ucnv_setToUCallBack(c.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(c.get(), stopOnEveryUnmappable, nullptr, nullptr, nullptr, &status);
    return U_SUCCESS(status) ? std::move(c) : nullptr;
}

enum class Conversion { done, failed, needsMoreRoom };

// Converts between two ICU converters through ICU's pivot buffer into `out` (room for
// `capacity` bytes); `written` gets the length. Fails on any illegal, unmappable or
// truncated input.
Conversion convertInto(const char* fromName, const char* toName, std::string_view input, char* out, size_t capacity,
                       size_t& written) {
    Converter from = openStrict(fromName);
    Converter to = openStrict(toName);
    if (!from || !to) return Conversion::failed;
    UChar pivot[4096];
    UChar* pivotSource = pivot;
    UChar* pivotTarget = pivot;
    const char* source = input.data();
    char* target = out;
    UErrorCode status = U_ZERO_ERROR;
    ucnv_convertEx(to.get(), from.get(), &target, out + capacity, &source, input.data() + input.size(), pivot,
                   &pivotSource, &pivotTarget, pivot + 4096, true, true, &status);
    written = static_cast<size_t>(target - out);
    if (status == U_BUFFER_OVERFLOW_ERROR) return Conversion::needsMoreRoom;
    return U_FAILURE(status) ? Conversion::failed : Conversion::done;
}

bool convert(const char* fromName, const char* toName, std::string_view input, std::string& out) {
    size_t capacity = input.size() + input.size() / 2 + 16;
    for (;;) {
        out.resize(capacity);
        size_t written = 0;
        switch (convertInto(fromName, toName, input, out.data(), capacity, written)) {
        case Conversion::done: out.resize(written); return true;
        case Conversion::failed: return false;
        case Conversion::needsMoreRoom: capacity = capacity * 2 + 64;
        }
    }
}

// No character of our encodings takes more than three UTF-8 bytes per input byte (one
// byte to U+0800..U+FFFF at most; two and four byte sequences grow less).
constexpr size_t maxUTF8BytesPerInputByte = 3;

} // namespace

std::string_view rawValue(TextEncoding e) { return info(e).raw; }
std::string_view displayName(TextEncoding e) { return info(e).display; }
std::string_view bom(TextEncoding e) { return info(e).bom; }

std::optional<TextEncoding> textEncodingFromRawValue(std::string_view raw) {
    for (TextEncoding e : allTextEncodings)
        if (info(e).raw == raw) return e;
    return std::nullopt;
}

bool hasPrefix(std::string_view data, std::string_view prefix) { return data.substr(0, prefix.size()) == prefix; }

EncodingGuess detectEncoding(std::string_view data, UTF8::Inspection* inspection) {
    // The UTF-32 LE mark starts with the UTF-16 LE one, so it is tested first.
    static constexpr TextEncoding markOrder[] = {TextEncoding::utf8, TextEncoding::utf32LittleEndian,
                                                 TextEncoding::utf32BigEndian, TextEncoding::utf16LittleEndian,
                                                 TextEncoding::utf16BigEndian};
    for (TextEncoding e : markOrder)
        if (hasPrefix(data, bom(e))) return {e, true};

    const size_t sampleLength = std::min<size_t>(data.size(), 4096);
    int64_t odd = 0, even = 0;
    for (size_t i = 0; i < sampleLength; ++i) {
        if (data[i] == '\0') ++(i % 2 ? odd : even);
    }
    auto eightBit = [&]() -> EncodingGuess {
        const UTF8::Inspection found = UTF8::inspect(data);
        if (found.valid()) {
            if (inspection) *inspection = found;
            return {TextEncoding::utf8, false};
        }
        for (char c : data)
            if (isUndefinedIn1252(static_cast<uint8_t>(c))) return {TextEncoding::isoLatin1, false};
        return {TextEncoding::windows1252, false};
    };
    if (odd == 0 && even == 0) return eightBit();
    const int64_t pairs = std::max<int64_t>(static_cast<int64_t>(std::clamp<size_t>(sampleLength, 2, 4096) / 2), 1);
    if (odd * 4 > pairs && even * 20 < pairs) return {TextEncoding::utf16LittleEndian, false};
    if (even * 4 > pairs && odd * 20 < pairs) return {TextEncoding::utf16BigEndian, false};
    if (static_cast<size_t>(odd + even) <= maxStrayZeroBytes(sampleLength)) return eightBit();
    throw CSVError::notText();
}

SharedBytes decodeToUTF8(const SharedBytes& data, TextEncoding encoding, bool hasBOM) {
    const size_t skip = hasBOM ? std::min(bom(encoding).size(), data.size()) : 0;
    if (encoding == TextEncoding::utf8) return data.slice(skip);
    const std::string_view input = data.view().substr(skip);
    if (encoding == TextEncoding::windows1252) {
        for (char c : input)
            if (isUndefinedIn1252(static_cast<uint8_t>(c))) throw CSVError::undecodable(encoding);
    }
    // PERF: one buffer of the largest possible size, of which only the pages written are
    // ever touched (a large one is a fresh mapping); the text needs no second copy.
    auto buffer = std::make_shared<ByteBuffer>(input.size() * maxUTF8BytesPerInputByte + 16);
    size_t written = 0;
    switch (convertInto(info(encoding).icuName, "UTF-8", input, buffer->data(), buffer->size(), written)) {
    case Conversion::done: buffer->shrink(written); return SharedBytes::fromBuffer(std::move(buffer));
    case Conversion::failed: throw CSVError::undecodable(encoding);
    case Conversion::needsMoreRoom: break;
    }
    std::string out;
    if (!convert(info(encoding).icuName, "UTF-8", input, out)) throw CSVError::undecodable(encoding);
    return SharedBytes::fromString(std::move(out));
}

std::string encodeFromUTF8(std::string&& utf8, TextEncoding encoding, bool withBOM) {
    const std::string_view mark = withBOM ? bom(encoding) : std::string_view{};
    if (encoding == TextEncoding::utf8) {
        if (!mark.empty()) utf8.insert(0, mark);
        return std::move(utf8);
    }
    if (!UTF8::isValid(utf8)) utf8 = UTF8::repaired(utf8);
    if (encoding == TextEncoding::windows1252) {
        // U+0081, U+008D, U+008F, U+0090, U+009D: not characters of the code page.
        for (size_t i = 0; i + 1 < utf8.size(); ++i)
            if (static_cast<uint8_t>(utf8[i]) == 0xC2 && isUndefinedIn1252(static_cast<uint8_t>(utf8[i + 1])))
                throw CSVError::unrepresentable(encoding);
    }
    std::string converted;
    if (!convert("UTF-8", info(encoding).icuName, utf8, converted)) throw CSVError::unrepresentable(encoding);
    if (!mark.empty()) converted.insert(0, mark);
    return converted;
}

} // namespace zarvel
