// The plain copy and the blank-line squeeze of the working copy, on any
// bytes, against the plain loop of line reads they replace (the tests'
// line_reads_model). Every 16th input is also squeezed while a child
// process writes it, in pieces, as fmt's output is squeezed while fmt runs.
// The copy fmt is given of text beyond ASCII decodes back to the text.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/records.h"
#include "fuzz_support.h"
#include "line_reads_model.h"
#include "prepare/prepare.h"

namespace {

char work_dir[] = "/tmp/drifterm-fuzz-prepare.XXXXXX";
std::string input_path;

void write_bytes(const char *path, const std::string &bytes)
{
    FILE *file = fopen(path, "w");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
        abort();
    fclose(file);
}

void remove_work_dir()
{
    unlink((std::string(work_files.work_dir) + "squeezed").c_str());
    unlink(work_files.converted_path);
    unlink(work_files.temp_path);
    unlink(input_path.c_str());
    rmdir(work_dir);
}

void check(const char *what, const std::string &got, const std::string &want)
{
    if (got == want)
        return;
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at])
        at++;
    fprintf(stderr, "%s: %zu bytes where the model has %zu; first difference at %zu\n", what,
            got.size(), want.size(), at);
    abort();
}

// A child writes `text` into `path` in pieces whose sizes come from the
// text itself, pausing between them, while this process squeezes it.
void check_squeeze_while_written(const std::string &text)
{
    const std::string named = std::string(work_files.work_dir) + "squeezed";
    unlink(work_files.temp_path);
    unlink(named.c_str());
    pid_t writer = fork();
    if (writer < 0)
        abort();
    if (writer == 0) {
        FILE *file = fopen(work_files.temp_path, "w");
        for (size_t at = 0, piece; file && at < text.size(); at += piece) {
            piece = std::min(text.size() - at, 1 + (size_t)(unsigned char)text[at] * 61 % 7000);
            fwrite(text.data() + at, 1, piece, file);
            fflush(file);
            usleep(100);
        }
        _exit(0); // not exit: the fuzzer's exit handler belongs to the parent
    }
    FILE *squeezed = squeeze_while_written(work_files.temp_path, writer);
    if (!squeezed)
        abort();
    if (!name_unnamed_file(squeezed, named.c_str()))
        abort();
    fclose(squeezed);
    check("squeeze while written", read_whole_file(named.c_str()), line_reads_model(text, true));
    unlink(named.c_str());
    unlink(work_files.temp_path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!mkdtemp(work_dir))
        abort();
    const size_t size = sizeof work_files.work_dir;
    if (snprintf(work_files.work_dir, size, "%s/", work_dir) >= (int)size ||
        snprintf(work_files.converted_path, size, "%sdrift_file", work_files.work_dir) >= (int)size ||
        snprintf(work_files.temp_path, size, "%sdrift_tmp", work_files.work_dir) >= (int)size)
        abort();
    input_path = std::string(work_files.work_dir) + "input";
    atexit(remove_work_dir);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text(reinterpret_cast<const char *>(data), size);
    // An odd first byte repeats the input past the 64 KiB blocks the copy
    // works in, so that reads straddle a block boundary at every offset.
    if (size > 0 && (data[0] & 1))
        while (text.size() <= 65536 + size)
            text.append(reinterpret_cast<const char *>(data), size);

    write_bytes(input_path.c_str(), text);
    FILE *in = fopen(input_path.c_str(), "r");
    FILE *out = fopen(work_files.temp_path, "w");
    if (!in || !out)
        abort();
    copy_line_reads(in, out);
    fclose(in);
    fclose(out);
    check("copy", read_whole_file(work_files.temp_path), line_reads_model(text, false));
    unlink(work_files.temp_path);

    // The squeeze step itself, which replaces the working copy in place.
    write_bytes(work_files.converted_path, text);
    squeeze_blank_lines();
    check("squeeze", read_whole_file(work_files.converted_path), line_reads_model(text, true));

    // What fmt would give back unchanged of the encoded text is the text.
    FILE *original = fopen(input_path.c_str(), "r");
    FILE *encoded = fopen(work_files.temp_path, "w+");
    FILE *decoded = fopen(work_files.converted_path, "w");
    if (!original || !encoded || !decoded)
        abort();
    encode_for_fmt(original, encoded);
    rewind(original);
    rewind(encoded);
    require(decode_from_fmt(encoded, original, decoded), "the encoded text does not decode");
    fclose(original);
    fclose(encoded);
    fclose(decoded);
    check("encoded for fmt and back", read_whole_file(work_files.converted_path), text);
    unlink(work_files.temp_path);

    static unsigned count = 0;
    if (count++ % 16 == 0)
        check_squeeze_while_written(text);
    return 0;
}
