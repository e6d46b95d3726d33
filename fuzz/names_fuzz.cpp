// The file-name helpers against their rules: base_name is what follows the
// last "/"; shorten_name keeps a text of up to `limit` bytes whole and cuts
// a longer one to `limit` bytes and "~" (a negative limit keeps it whole);
// is_pdf_name wants ".pdf" in the path and at the start of the text from
// the last "."; mark_control_bytes turns control bytes into "?" only.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "display/display.h"
#include "fuzz_support.h"
#include "prepare/prepare.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    int32_t limit;
    memcpy(&limit, data, sizeof limit);
    if (data[0] & 1)
        limit = (int32_t)(data[1] % 40) - 4; // small limits, negative ones too, most of the time
    const std::string text(reinterpret_cast<const char *>(data) + 4, size - 4);
    const char *path = text.c_str(); // up to the first NUL, as the program sees it
    const size_t length = strlen(path);

    const char *base = base_name(path);
    const char *last_slash = strrchr(path, '/');
    require(base == (last_slash ? last_slash + 1 : path));
    require(!strchr(base, '/'));

    char *shortened = shorten_name(path, limit);
    if (limit < 0 || length <= (size_t)limit) {
        require(strcmp(shortened, path) == 0);
    } else {
        require(strlen(shortened) == (size_t)limit + 1);
        require(memcmp(shortened, path, (size_t)limit) == 0 && shortened[limit] == '~');
    }
    free(shortened);

    const char *last_dot = strrchr(path, '.');
    const bool pdf = strstr(path, ".pdf") && last_dot && strncmp(last_dot, ".pdf", 4) == 0;
    require(is_pdf_name(path) == pdf);

    std::string marked(path);
    mark_control_bytes(marked.data());
    for (size_t i = 0; i < length; i++) {
        unsigned char c = (unsigned char)path[i];
        require(marked[i] == (c < 0x20 || c == 0x7f ? '?' : path[i]));
    }
    return 0;
}
