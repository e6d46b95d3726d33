// What confining a converter's child costs: a fork, the confinement, a
// byte written to the parent and the child's end, against the same child
// unconfined; and, once per run, the opening of the charset converters.
// The parent holds RESIDENT MiB of touched memory, as the converter holds
// the document, since a fork copies page tables in proportion.
//
// Usage: build/bench/confine_cost [RUNS [RESIDENT]]  (200 and 16 unless given)
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "convert/confine.h"

namespace {

double now_ms()
{
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// One child from fork to reaping, in milliseconds; negative when it failed.
double one_child(bool confined)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    double start = now_ms();
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Confinement c;
        c.keep_fds = {fds[1]};
        ConfineFailure failure;
        char done = confined && !confine_child(c, failure) ? 'x' : 'y';
        _exit(write(fds[1], &done, 1) == 1 && done == 'y' ? 0 : 1);
    }
    close(fds[1]);
    char got = 0;
    bool read_one = pid > 0 && read(fds[0], &got, 1) == 1;
    close(fds[0]);
    int status = 0;
    if (pid > 0)
        waitpid(pid, &status, 0);
    double took = now_ms() - start;
    return read_one && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took : -1;
}

struct Spread {
    double median, p90;
};

Spread spread_of(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[ms.size() * 9 / 10]};
}

bool children(bool confined, int runs, Spread &out)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; i++) {
        double took = one_child(confined);
        if (took < 0)
            return false;
        ms.push_back(took);
    }
    out = spread_of(ms);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 200;
    size_t resident = argc > 2 ? static_cast<size_t>(atol(argv[2])) : 16;
    std::string held(resident << 20, 'x');
    double start = now_ms();
    open_charset_converters();
    double converters = now_ms() - start;
    Spread bare{}, confined{};
    if (!children(false, runs, bare) || !children(true, runs, confined)) {
        fprintf(stderr, "confine_cost: a child failed\n");
        return 1;
    }
    printf("confinement: %s\n", confinement_in_force().c_str());
    printf("parent: %zu MiB resident, %d children each\n", resident, runs);
    printf("fork + exit:           median %.3f ms, p90 %.3f ms\n", bare.median, bare.p90);
    printf("fork + confine + exit: median %.3f ms, p90 %.3f ms\n", confined.median, confined.p90);
    printf("confinement alone:     median %.3f ms\n", confined.median - bare.median);
    printf("charset converters, once per run: %.3f ms\n", converters);
    return held.size() == resident << 20 ? 0 : 1;
}
