// The whole conversion of a document's bytes, as drifterm-convert does it:
// whatever the bytes, it ends, and what it prints is in the output set
// (valid UTF-8, or ASCII alone under a C locale), with nothing printed
// when it says so. The bytes are tried under a name that tells nothing and
// again under one whose suffix the first byte picks, so that the paths
// that go by the name are reached too. The readers run in this process,
// where the fuzzer sees them; one input in sixteen is read once more as the
// converter reads it, each reader in its confined child.
#include <cstdlib>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "convert/charset.h"
#include "convert/convert.h"
#include "convert/formats.h"
#include "convert/xml.h"
#include "fuzz_support.h"

namespace {

bool in_process = true;

// Every name the table of formats knows, and a text's.
std::vector<std::string> table_suffixes()
{
    std::vector<std::string> names = {"txt"};
    for (const Format &f : formats())
        for (std::string_view name : format_suffixes(f))
            names.emplace_back(name);
    return names;
}

void check_conversion(const Input &in, const OutputCharset &out)
{
    std::string text;
    bool printed = convert_document(in, out, text);
    require(printed == !text.empty(), "convert_document's result and its text disagree");
    if (out.ascii) {
        for (unsigned char c : text)
            require(c < 0x80, "a byte past ASCII under a C locale");
    } else {
        require(valid_utf8(text), "output that is not UTF-8");
    }
}

} // namespace

extern "C" bool drifterm_fuzz_reads_in_process()
{
    return in_process;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    xml_init();
    // One PDF worker when confined: more would only cost forks.
    setenv("DRIFTERM_PDF_WORKERS", "1", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input in;
    in.bytes = std::string_view(reinterpret_cast<const char *>(data), size);
    in.name = "fuzz.bin";
    OutputCharset utf8;
    check_conversion(in, utf8);
    if (size == 0)
        return 0;
    static const std::vector<std::string> suffixes = table_suffixes();
    in.name = "fuzz." + suffixes[data[0] % suffixes.size()];
    OutputCharset ascii;
    ascii.utf8 = false;
    ascii.ascii = true;
    check_conversion(in, (data[0] & 0x10) ? ascii : utf8);
    if (size % 16 == 0) {
        in_process = false;
        check_conversion(in, utf8);
        in_process = true;
    }
    return 0;
}
