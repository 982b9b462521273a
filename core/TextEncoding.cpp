#include "core/TextEncoding.h"

#include "core/CSVError.h"
#include "core/UTF8.h"

#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <set>

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

bool isBuiltIn(TextEncoding e) {
    return !isExtraEncoding(e);
}

// The five bytes code page 1252 leaves undefined; ICU maps them to C1 controls, which
// would make an ISO-8859-1 file read as Windows-1252 without complaint.
bool isUndefinedIn1252(uint8_t b) {
    return b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
}

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
// `consumed(n)` hears, now and then, that the first n input bytes are converted and will
// not be read again.
Conversion convertInto(const char* fromName, const char* toName, std::string_view input, char* out,
                       size_t capacity, size_t& written,
                       const std::function<void(size_t)>& consumed = nullptr) {
    Converter from = openStrict(fromName);
    Converter to = openStrict(toName);
    if (!from || !to) return Conversion::failed;
    UChar pivot[4096];
    UChar* pivotSource = pivot;
    UChar* pivotTarget = pivot;
    const char* source = input.data();
    const char* const end = input.data() + input.size();
    char* target = out;
    UErrorCode status = U_ZERO_ERROR;
    // In steps of a few MiB, so that a large input can be let go of as it is converted.
    constexpr size_t step = size_t{8} << 20;
    for (bool first = true;; first = false) {
        const char* const stepEnd = static_cast<size_t>(end - source) > step ? source + step : end;
        ucnv_convertEx(to.get(), from.get(), &target, out + capacity, &source, stepEnd, pivot, &pivotSource,
                       &pivotTarget, pivot + 4096, first, stepEnd == end, &status);
        if (U_FAILURE(status) || stepEnd == end) break;
        if (consumed) consumed(static_cast<size_t>(source - input.data()));
    }
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
        case Conversion::done:
            out.resize(written);
            return true;
        case Conversion::failed:
            return false;
        case Conversion::needsMoreRoom:
            capacity = capacity * 2 + 64;
        }
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Case-insensitive, with runs of digits compared as numbers: "ISO-8859-9" before "ISO-8859-10".
bool naturalLess(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const auto ca = static_cast<unsigned char>(a[i]), cb = static_cast<unsigned char>(b[j]);
        if (std::isdigit(ca) && std::isdigit(cb)) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            const std::string_view na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        const int la = std::tolower(ca), lb = std::tolower(cb);
        if (la != lb) return la < lb;
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

struct ExtraEncoding {
    std::string raw;
    std::string display;
    std::string region;
    std::string icuName;
    // Windows code pages: ICU hands back their undefined bytes as C1 controls.
    bool refusesC1 = false;
};

struct KnownName {
    std::string_view raw, display, region;
};

// Readable names and regions for the encodings people meet; the rest keep their
// standard name.
constexpr KnownName knownNames[] = {
    {"windows-1250", "Windows-1250", "Central European"},
    {"windows-1251", "Windows-1251", "Cyrillic"},
    {"windows-1253", "Windows-1253", "Greek"},
    {"windows-1254", "Windows-1254", "Turkish"},
    {"windows-1255", "Windows-1255", "Hebrew"},
    {"windows-1256", "Windows-1256", "Arabic"},
    {"windows-1257", "Windows-1257", "Baltic"},
    {"windows-1258", "Windows-1258", "Vietnamese"},
    {"windows-874", "Windows-874", "Thai"},
    {"TIS-620", "TIS-620", "Thai"},
    {"ISO-8859-3", "ISO-8859-3", "South European"},
    {"ISO-8859-4", "ISO-8859-4", "Baltic"},
    {"ISO-8859-5", "ISO-8859-5", "Cyrillic"},
    {"ISO-8859-6", "ISO-8859-6", "Arabic"},
    {"ISO-8859-7", "ISO-8859-7", "Greek"},
    {"ISO-8859-8", "ISO-8859-8", "Hebrew"},
    {"ISO-8859-9", "ISO-8859-9", "Turkish"},
    {"ISO-8859-10", "ISO-8859-10", "Nordic"},
    {"x-iso-8859-11", "ISO-8859-11", "Thai"},
    {"ISO-8859-13", "ISO-8859-13", "Baltic"},
    {"ISO-8859-14", "ISO-8859-14", "Celtic"},
    {"ISO-8859-15", "ISO-8859-15", "Western European"},
    {"KOI8-R", "KOI8-R", "Cyrillic (Russian)"},
    {"KOI8-U", "KOI8-U", "Cyrillic (Ukrainian)"},
    {"IBM866", "IBM866 (DOS)", "Cyrillic"},
    {"IBM855", "IBM855 (DOS)", "Cyrillic"},
    {"x-mac-cyrillic", "Mac Cyrillic", "Cyrillic"},
    {"x-mac-greek", "Mac Greek", "Greek"},
    {"x-mac-centraleurroman", "Mac Central European", "Central European"},
    {"x-mac-turkish", "Mac Turkish", "Turkish"},
    {"EUC-JP", "EUC-JP", "Japanese"},
    {"ISO-2022-JP", "ISO-2022-JP", "Japanese"},
    {"ISO-2022-JP-1", "ISO-2022-JP-1", "Japanese"},
    {"ISO-2022-JP-2", "ISO-2022-JP-2", "Japanese"},
    {"EUC-KR", "EUC-KR", "Korean"},
    {"ISO-2022-KR", "ISO-2022-KR", "Korean"},
    {"KSC_5601", "Windows-949", "Korean"},
    {"Big5", "Big5", "Traditional Chinese"},
    {"Big5-HKSCS", "Big5-HKSCS", "Traditional Chinese"},
    {"GBK", "GBK", "Simplified Chinese"},
    {"GB2312", "GB2312", "Simplified Chinese"},
    {"HZ-GB-2312", "HZ", "Simplified Chinese"},
    {"ISO-2022-CN", "ISO-2022-CN", "Chinese"},
    {"ISO-2022-CN-EXT", "ISO-2022-CN-EXT", "Chinese"},
    {"IBM437", "IBM437 (DOS)", "Western European"},
    {"IBM850", "IBM850 (DOS)", "Western European"},
    {"IBM852", "IBM852 (DOS)", "Central European"},
    {"IBM857", "IBM857 (DOS)", "Turkish"},
    {"IBM862", "IBM862 (DOS)", "Hebrew"},
    {"IBM864", "IBM864 (DOS)", "Arabic"},
    {"IBM869", "IBM869 (DOS)", "Greek"},
    {"US-ASCII", "US-ASCII", "English"},
    {"hp-roman8", "HP Roman-8", "Western European"},
};

bool isUnicodeForm(UConverterType type) {
    switch (type) {
    case UCNV_UTF8:
    case UCNV_UTF16_BigEndian:
    case UCNV_UTF16_LittleEndian:
    case UCNV_UTF32_BigEndian:
    case UCNV_UTF32_LittleEndian:
    case UCNV_UTF16:
    case UCNV_UTF32:
    case UCNV_UTF7:
    case UCNV_CESU8:
    case UCNV_SCSU:
    case UCNV_BOCU1:
    case UCNV_IMAP_MAILBOX:
        return true;
    default:
        return false;
    }
}

// The first standard name ICU has for a converter: MIME, IANA, then Java ("x-iso-8859-11").
std::string standardName(const char* icuName) {
    for (const char* standard : {"MIME", "IANA", "JAVA"}) {
        UErrorCode status = U_ZERO_ERROR;
        const char* name = ucnv_getStandardName(icuName, standard, &status);
        if (U_SUCCESS(status) && name && *name) return name;
    }
    return icuName;
}

std::vector<ExtraEncoding> findExtras() {
    std::set<std::string> builtInConverters;
    for (TextEncoding e : allTextEncodings) {
        UErrorCode status = U_ZERO_ERROR;
        if (const char* canonical = ucnv_getAlias(info(e).icuName, 0, &status);
            U_SUCCESS(status) && canonical)
            builtInConverters.insert(canonical);
    }
    // The bytes every delimited file is built of must come back as they went in.
    static constexpr std::string_view skeleton = "id,name;x\t|\"q\"'\r\n0123456789 AZaz.-+_:/\\^~#\n";
    std::vector<ExtraEncoding> found;
    std::set<std::string> rawSeen;
    const int32_t count = ucnv_countAvailable();
    for (int32_t i = 0; i < count; ++i) {
        const char* name = ucnv_getAvailableName(i);
        if (!name || builtInConverters.count(name)) continue;
        Converter c = openStrict(name);
        if (!c) continue;
        const UConverterType type = ucnv_getType(c.get());
        // ISCII keeps its script state across a flush, so a file written in pieces
        // would not read back.
        if (isUnicodeForm(type) || type == UCNV_ISCII) continue;
        // ISO-2022-CN with the CNS 11643 planes 3 to 7 claims characters it then refuses to write.
        if (std::strcmp(name, "ISO_2022,locale=zh,version=2") == 0) continue;
        std::string bytes, back;
        if (!convert("UTF-8", name, skeleton, bytes) || !convert(name, "UTF-8", bytes, back) ||
            back != skeleton)
            continue;
        ExtraEncoding extra;
        extra.icuName = name;
        extra.raw = standardName(name);
        std::string lower = extra.raw;
        for (char& ch : lower)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (!rawSeen.insert(lower).second) {
            extra.raw = name;
            lower = name;
            for (char& ch : lower)
                ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            if (!rawSeen.insert(lower).second) continue;
        }
        extra.display = extra.raw;
        const auto known =
            std::find_if(std::begin(knownNames), std::end(knownNames),
                         [&](const KnownName& k) { return equalsIgnoringCase(k.raw, extra.raw); });
        if (known != std::end(knownNames)) {
            extra.display = known->display;
            extra.region = known->region;
        } else {
            std::string a;
            extra.region = convert("UTF-8", name, "A", a) && a == "\xC1" ? "EBCDIC" : "Other";
        }
        extra.refusesC1 = lower.starts_with("windows-");
        found.push_back(std::move(extra));
    }
    std::sort(found.begin(), found.end(), [](const ExtraEncoding& a, const ExtraEncoding& b) {
        return naturalLess(a.display, b.display);
    });
    const size_t room = size_t{256} - firstExtraTextEncoding;
    if (found.size() > room) found.resize(room);
    return found;
}

const std::vector<ExtraEncoding>& extras() {
    static const std::vector<ExtraEncoding> list = findExtras();
    return list;
}

const ExtraEncoding* extra(TextEncoding e) {
    const size_t i = static_cast<uint8_t>(e) - size_t{firstExtraTextEncoding};
    return isExtraEncoding(e) && i < extras().size() ? &extras()[i] : nullptr;
}

const char* icuName(TextEncoding e) {
    if (isBuiltIn(e)) return info(e).icuName;
    const ExtraEncoding* x = extra(e);
    return x ? x->icuName.c_str() : "";
}

bool refusesC1(TextEncoding e) {
    const ExtraEncoding* x = extra(e);
    return x && x->refusesC1;
}

// Whether UTF-8 text holds a C1 control (U+0080..U+009F, encoded C2 80..C2 9F).
bool holdsC1(std::string_view utf8) {
    for (size_t i = 0; i + 1 < utf8.size(); ++i)
        if (static_cast<uint8_t>(utf8[i]) == 0xC2 && static_cast<uint8_t>(utf8[i + 1]) < 0xA0) return true;
    return false;
}

// No character of our encodings takes more than three UTF-8 bytes per input byte (one
// byte to U+0800..U+FFFF at most; two and four byte sequences grow less).
constexpr size_t maxUTF8BytesPerInputByte = 3;

} // namespace

std::string_view rawValue(TextEncoding e) {
    if (isBuiltIn(e)) return info(e).raw;
    const ExtraEncoding* x = extra(e);
    return x ? std::string_view(x->raw) : std::string_view{};
}
std::string_view displayName(TextEncoding e) {
    if (isBuiltIn(e)) return info(e).display;
    const ExtraEncoding* x = extra(e);
    return x ? std::string_view(x->display) : std::string_view{};
}
std::string_view encodingRegion(TextEncoding e) {
    const ExtraEncoding* x = extra(e);
    return x ? std::string_view(x->region) : std::string_view{};
}
std::string_view converterName(TextEncoding e) {
    return icuName(e);
}
std::string_view bom(TextEncoding e) {
    return isBuiltIn(e) ? info(e).bom : std::string_view{};
}

const std::vector<TextEncoding>& extraTextEncodings() {
    static const std::vector<TextEncoding> list = [] {
        std::vector<TextEncoding> v;
        for (size_t i = 0; i < extras().size(); ++i)
            v.push_back(static_cast<TextEncoding>(firstExtraTextEncoding + i));
        return v;
    }();
    return list;
}

std::optional<TextEncoding> textEncodingFromRawValue(std::string_view raw) {
    for (TextEncoding e : allTextEncodings)
        if (info(e).raw == raw) return e;
    for (TextEncoding e : extraTextEncodings())
        if (equalsIgnoringCase(extra(e)->raw, raw)) return e;
    return std::nullopt;
}

std::optional<TextEncoding> textEncodingNamed(std::string_view name) {
    if (const auto e = textEncodingFromRawValue(name)) return e;
    if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    const std::string wanted(name);
    // ICU's own alias table: matching ignores case and punctuation.
    const char* canonical = ucnv_getAlias(wanted.c_str(), 0, &status);
    if (U_FAILURE(status) || !canonical) return std::nullopt;
    for (TextEncoding e : allTextEncodings) {
        UErrorCode s2 = U_ZERO_ERROR;
        const char* c = ucnv_getAlias(info(e).icuName, 0, &s2);
        if (U_SUCCESS(s2) && c && std::strcmp(c, canonical) == 0) return e;
    }
    for (TextEncoding e : extraTextEncodings())
        if (extra(e)->icuName == canonical) return e;
    return std::nullopt;
}

bool hasPrefix(std::string_view data, std::string_view prefix) {
    return data.substr(0, prefix.size()) == prefix;
}

EncodingGuess detectEncoding(std::string_view data, UTF8::Inspection* inspection) {
    // The UTF-32 LE mark starts with the UTF-16 LE one, so it is tested first.
    static constexpr TextEncoding markOrder[] = {
        TextEncoding::utf8, TextEncoding::utf32LittleEndian, TextEncoding::utf32BigEndian,
        TextEncoding::utf16LittleEndian, TextEncoding::utf16BigEndian};
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
    const int64_t pairs =
        std::max<int64_t>(static_cast<int64_t>(std::clamp<size_t>(sampleLength, 2, 4096) / 2), 1);
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
    const char* const from = icuName(encoding);
    if (!*from) throw CSVError::undecodable(encoding);
    // PERF: one buffer of the largest possible size, of which only the pages written are
    // ever touched (a large one is a fresh mapping); the text needs no second copy.
    auto buffer = std::make_shared<ByteBuffer>(input.size() * maxUTF8BytesPerInputByte + 16);
    size_t written = 0;
    // PERF: a mapped file's pages are given back as they are converted, so its bytes and
    // the text are not both held whole.
    size_t released = 0;
    const auto release = [&](size_t consumed) {
        data.releasePages(skip + released, consumed - released);
        released = consumed;
    };
    switch (convertInto(from, "UTF-8", input, buffer->data(), buffer->size(), written, release)) {
    case Conversion::done:
        buffer->shrink(written);
        if (refusesC1(encoding) && holdsC1(std::string_view(buffer->data(), written)))
            throw CSVError::undecodable(encoding);
        return SharedBytes::fromBuffer(std::move(buffer));
    case Conversion::failed:
        throw CSVError::undecodable(encoding);
    case Conversion::needsMoreRoom:
        break;
    }
    std::string out;
    if (!convert(from, "UTF-8", input, out) || (refusesC1(encoding) && holdsC1(out)))
        throw CSVError::undecodable(encoding);
    return SharedBytes::fromString(std::move(out));
}

bool decodesStrictly(std::string_view data, TextEncoding encoding) {
    if (encoding == TextEncoding::utf8) return UTF8::isValid(data);
    if (encoding == TextEncoding::windows1252 && std::any_of(data.begin(), data.end(), [](char c) {
            return isUndefinedIn1252(static_cast<uint8_t>(c));
        }))
        return false;
    Converter c = openStrict(icuName(encoding));
    if (!c) return false;
    const bool noC1 = refusesC1(encoding);
    UChar block[8192];
    const char* source = data.data();
    const char* const end = data.data() + data.size();
    for (;;) {
        UChar* target = block;
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(c.get(), &target, block + std::size(block), &source, end, nullptr, true, &status);
        if (noC1 && std::any_of(block, target, [](UChar u) { return u >= 0x80 && u < 0xA0; })) return false;
        if (status == U_BUFFER_OVERFLOW_ERROR) continue;
        return U_SUCCESS(status);
    }
}

std::optional<TextEncoding> suggestEncoding(std::string_view data, TextEncoding detected) {
    if (detected != TextEncoding::windows1252 && detected != TextEncoding::isoLatin1) return std::nullopt;
    // The detector judges what it is shown: the lines that hold bytes beyond ASCII, up to
    // 64 KiB of them, wherever they are in the file.
    constexpr size_t sampleLimit = size_t{64} << 10;
    std::string sample;
    for (size_t at = 0; at < data.size() && sample.size() < sampleLimit;) {
        size_t lineEnd = data.find('\n', at);
        lineEnd = lineEnd == std::string_view::npos ? data.size() : lineEnd + 1;
        const std::string_view line = data.substr(at, std::min(lineEnd - at, sampleLimit - sample.size()));
        if (std::any_of(line.begin(), line.end(), [](char ch) { return static_cast<uint8_t>(ch) >= 0x80; }))
            sample += line;
        at = lineEnd;
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UCharsetDetector, void (*)(UCharsetDetector*)> detector(ucsdet_open(&status),
                                                                            ucsdet_close);
    if (U_FAILURE(status)) return std::nullopt;
    ucsdet_setText(detector.get(), sample.data(), static_cast<int32_t>(sample.size()), &status);
    int32_t count = 0;
    const UCharsetMatch** matches = ucsdet_detectAll(detector.get(), &count, &status);
    if (U_FAILURE(status)) return std::nullopt;
    for (int32_t i = 0; i < count; ++i) {
        UErrorCode s = U_ZERO_ERROR;
        const int32_t confidence = ucsdet_getConfidence(matches[i], &s);
        const char* name = ucsdet_getName(matches[i], &s);
        if (U_FAILURE(s) || confidence < suggestionConfidence) break;
        const std::optional<TextEncoding> candidate = name ? textEncodingNamed(name) : std::nullopt;
        // The fallback ranked first: it looks right.
        if (candidate == TextEncoding::windows1252 || candidate == TextEncoding::isoLatin1) break;
        if (!candidate || bom(*candidate).size() > 0) continue; // the Unicode forms, or one we lack
        if (decodesStrictly(data, *candidate)) return candidate;
    }
    return std::nullopt;
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
    const char* const to = icuName(encoding);
    if (!*to || (refusesC1(encoding) && holdsC1(utf8))) throw CSVError::unrepresentable(encoding);
    std::string converted;
    if (!convert("UTF-8", to, utf8, converted)) throw CSVError::unrepresentable(encoding);
    if (!mark.empty()) converted.insert(0, mark);
    return converted;
}

} // namespace zarvel
