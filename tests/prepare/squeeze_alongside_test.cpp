// Squeezing a file while another process writes it gives what squeezing
// the finished file gives; and the whole preparation, with the squeeze
// running alongside fmt, equals fmt followed by the plain squeeze loop.
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "app/records.h"
#include "helpers.h"
#include "line_reads_model.h"
#include "prepare/prepare.h"

namespace {

// A child that makes `path` after a moment and writes `text` into it in
// small pieces with pauses, as a slow fmt would.
pid_t start_slow_writer(const std::string &path, const std::string &text, bool create)
{
    pid_t child = fork();
    if (child == 0) {
        usleep(20000);
        if (!create)
            _exit(0);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        std::mt19937 rng(7);
        for (size_t at = 0; at < text.size();) {
            size_t n = std::min(text.size() - at, (size_t)(1 + rng() % 9000));
            if (write(fd, text.data() + at, n) != (ssize_t)n)
                _exit(1);
            at += n;
            if (rng() % 4 == 0)
                usleep(1000);
        }
        _exit(0);
    }
    return child;
}

TEST(SqueezeAlongside, FollowsAWriterToItsEnd)
{
    TempDir dir;
    const std::string path = dir.path + "/drift_tmp", named = dir.path + "/named";
    struct Case {
        std::string label, text;
    } cases[] = {
        {"empty file", ""},
        {"blank runs, CRs, NULs and long lines", random_text(1, 400000)},
        {"only blank lines", std::string(70000, '\n')},
    };
    for (const Case &c : cases) {
        unlink(path.c_str());
        unlink(named.c_str());
        pid_t writer = start_slow_writer(path, c.text, true);
        FILE *squeezed = squeeze_while_written(path.c_str(), writer);
        ASSERT_NE(squeezed, nullptr) << c.label;
        EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), -1) << c.label << ": the writer is reaped";
        ASSERT_TRUE(name_unnamed_file(squeezed, named.c_str())) << c.label;
        fclose(squeezed);
        EXPECT_EQ(read_file(named), line_reads_model(read_file(path), true)) << c.label;
        EXPECT_EQ(read_file(path), c.text) << c.label << ": the written file is left as it is";
    }
}

TEST(SqueezeAlongside, AWriterThatMakesNoFileGivesNothing)
{
    TempDir dir;
    const std::string path = dir.path + "/drift_tmp";
    pid_t writer = start_slow_writer(path, "", false);
    EXPECT_EQ(squeeze_while_written(path.c_str(), writer), nullptr);
    EXPECT_EQ(waitpid(writer, nullptr, WNOHANG), -1) << "the writer is reaped";
    EXPECT_EQ(list_dir(dir.path), std::vector<std::string>{});
}

TEST(SqueezeAlongside, PreparationEqualsFmtThenThePlainSqueeze)
{
    TempDir dir;
    const std::string input = dir.path + "/input.txt";
    setenv("DRIFTERM_FILTER", "/bin/true", 1);
    snprintf(work_files.converted_path, sizeof work_files.converted_path, "%s/drift_file", dir.path.c_str());
    snprintf(work_files.temp_path, sizeof work_files.temp_path, "%s/drift_tmp", dir.path.c_str());
    options.file_path = input.c_str();
    for (unsigned seed = 1; seed <= 3; seed++) {
        // No NULs: the plain copy cuts at them, which the copy's own tests cover.
        std::string text = random_text(seed, 100000 * seed, false);
        write_file(input, text);
        std::string fmt_out;
        FILE *fmt = popen(("fmt -s " + shell_quote(input.c_str())).c_str(), "r");
        ASSERT_NE(fmt, nullptr);
        char buf[65536];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, fmt)) > 0)
            fmt_out.append(buf, n);
        pclose(fmt);

        for (int no_squeeze : {0, 1}) {
            options.no_squeeze = no_squeeze;
            convert_with_lesspipe();
            reformat_with_fmt();
            if (!no_squeeze)
                squeeze_blank_lines();
            std::string label = "seed " + std::to_string(seed) + (no_squeeze ? " with -n" : "");
            EXPECT_EQ(read_file(work_files.converted_path), no_squeeze ? fmt_out : line_reads_model(fmt_out, true))
                << label;
            EXPECT_FALSE(file_exists(work_files.temp_path)) << label << ": scratch file left";
        }
    }
    options.no_squeeze = 0;
    unsetenv("DRIFTERM_FILTER");
}

}  // namespace
