// The steps run in the order they depend on: no new privileges first
// (Landlock and the filter both need it), then the limits, then Landlock
// (its own system calls are refused once the filter is on), the filter last.
#include "convert/confine.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <sys/prctl.h>
#include <sys/syscall.h>
#if __has_include(<linux/landlock.h>)
#include <linux/landlock.h>
#endif
#endif
#if defined(__GLIBC__)
#include <iconv.h>
#endif
#if defined(DRIFTERM_HAVE_SECCOMP)
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define CONFINE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CONFINE_UNDER_ASAN 1
#endif
#endif

// The sanitizers' own hook, present only in a sanitizer build: it caches
// /proc/self/maps, which a report needs and a confined child cannot open.
struct SanitizerSandboxArguments {
    int coverage_sandboxed;
    intptr_t coverage_fd;
    unsigned int coverage_max_block_size;
};
extern "C" void __sanitizer_sandbox_on_notify(SanitizerSandboxArguments *) __attribute__((weak));

static bool under_sanitizer()
{
    return __sanitizer_sandbox_on_notify != nullptr;
}

static bool fail(ConfineFailure &failure, const char *step)
{
    failure.step = step;
    failure.error = errno;
    return false;
}

// ---------------------------------------------------------------- descriptors

static bool close_range_of(int from, int to)
{
    if (from > to)
        return true;
#if defined(__linux__) && defined(SYS_close_range)
    if (syscall(SYS_close_range, static_cast<unsigned>(from), static_cast<unsigned>(to), 0u) == 0)
        return true;
    if (errno != ENOSYS)
        return false;
#endif
    long most = std::min(sysconf(_SC_OPEN_MAX), 65536L);
    for (int fd = from; fd <= to && fd < most; fd++)
        close(fd);
    return true;
}

// Whatever the converter had open (the document's other copies, a
// terminal) is no business of a confined reader.
static bool close_other_fds(std::vector<int> keep)
{
    std::sort(keep.begin(), keep.end());
    int from = 3;
    for (int fd : keep) {
        if (fd < from)
            continue;
        if (!close_range_of(from, fd - 1))
            return false;
        from = fd + 1;
    }
    return close_range_of(from, INT_MAX);
}

// ---------------------------------------------------------------- limits

// Soft and hard alike, so that the child cannot raise them again.
static bool set_limit(int resource, rlim_t value)
{
    rlimit now{};
    if (getrlimit(resource, &now) != 0)
        return false;
    if (now.rlim_max != RLIM_INFINITY && now.rlim_max < value)
        value = now.rlim_max;
    rlimit wanted = {value, value};
    return setrlimit(resource, &wanted) == 0;
}

// AddressSanitizer reserves terabytes of shadow at start: an address-space
// limit would only make its build fail.
static bool set_address_space(size_t bytes)
{
#if defined(CONFINE_UNDER_ASAN)
    (void)bytes;
    return true;
#else
    return set_limit(RLIMIT_AS, bytes);
#endif
}

static bool set_limits(size_t address_space, int cpu_seconds, size_t file_size, int open_files,
                       ConfineFailure &failure)
{
    if (!set_address_space(address_space))
        return fail(failure, "address-space limit");
    // SIGXCPU at the soft limit, a second before the kernel's SIGKILL, so
    // that the parent can tell a child out of time from one that crashed.
    rlimit cpu = {static_cast<rlim_t>(cpu_seconds), static_cast<rlim_t>(cpu_seconds) + 1};
    rlimit cpu_now{};
    if (getrlimit(RLIMIT_CPU, &cpu_now) != 0 ||
        (cpu_now.rlim_max != RLIM_INFINITY && cpu_now.rlim_max < cpu.rlim_max))
        cpu = {cpu_now.rlim_max, cpu_now.rlim_max};
    if (setrlimit(RLIMIT_CPU, &cpu) != 0)
        return fail(failure, "CPU limit");
    if (!set_limit(RLIMIT_FSIZE, file_size))
        return fail(failure, "file-size limit");
    if (!set_limit(RLIMIT_NOFILE, static_cast<rlim_t>(open_files)))
        return fail(failure, "descriptor limit");
    if (!set_limit(RLIMIT_CORE, 0))
        return fail(failure, "core-file limit");
    return true;
}

static bool set_no_new_privileges(ConfineFailure &failure)
{
#if defined(__linux__)
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return fail(failure, "no new privileges");
#else
    (void)failure;
#endif
    return true;
}

// ---------------------------------------------------------------- Landlock

#if defined(LANDLOCK_CREATE_RULESET_VERSION) && defined(SYS_landlock_create_ruleset)
#define CONFINE_HAVE_LANDLOCK 1

// The rights of later ABIs, for headers older than the kernel.
#ifndef LANDLOCK_ACCESS_FS_REFER
#define LANDLOCK_ACCESS_FS_REFER (1ULL << 13)
#endif
#ifndef LANDLOCK_ACCESS_FS_TRUNCATE
#define LANDLOCK_ACCESS_FS_TRUNCATE (1ULL << 14)
#endif
#ifndef LANDLOCK_ACCESS_FS_IOCTL_DEV
#define LANDLOCK_ACCESS_FS_IOCTL_DEV (1ULL << 15)
#endif
#ifndef LANDLOCK_ACCESS_NET_BIND_TCP
#define LANDLOCK_ACCESS_NET_BIND_TCP (1ULL << 0)
#define LANDLOCK_ACCESS_NET_CONNECT_TCP (1ULL << 1)
#endif
#ifndef LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET
#define LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET (1ULL << 0)
#define LANDLOCK_SCOPE_SIGNAL (1ULL << 1)
#endif

// The ruleset's attributes as ABI 6 has them; older headers lack the last
// two fields, and older kernels take the shorter size.
struct RulesetAttr {
    uint64_t handled_access_fs;
    uint64_t handled_access_net;
    uint64_t scoped;
};

constexpr uint64_t fs_read = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
constexpr uint64_t fs_execute = LANDLOCK_ACCESS_FS_EXECUTE;
// What a rule on a file (not a folder) may grant.
constexpr uint64_t fs_file_rights = LANDLOCK_ACCESS_FS_EXECUTE | LANDLOCK_ACCESS_FS_WRITE_FILE |
                                    LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_TRUNCATE |
                                    LANDLOCK_ACCESS_FS_IOCTL_DEV;

// Every filesystem right the ABI knows, so that none is left allowed.
static uint64_t fs_rights_of(int abi)
{
    uint64_t rights = (LANDLOCK_ACCESS_FS_MAKE_SYM << 1) - 1;
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= LANDLOCK_ACCESS_FS_TRUNCATE;
    if (abi >= 5)
        rights |= LANDLOCK_ACCESS_FS_IOCTL_DEV;
    return rights;
}

struct PathRule {
    std::string path;
    uint64_t rights;
};

// A path that does not exist is nothing to allow.
static bool add_path_rule(int ruleset, const PathRule &rule, uint64_t handled)
{
    int fd = open(rule.path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR;
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    uint64_t rights = rule.rights & handled & (S_ISDIR(st.st_mode) ? ~0ULL : fs_file_rights);
    landlock_path_beneath_attr attr = {rights, fd};
    ok = ok && (rights == 0 || syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &attr, 0) == 0);
    int saved = errno;
    close(fd);
    errno = saved;
    return ok;
}

static bool apply_landlock(int abi, const std::vector<PathRule> &rules, ConfineFailure &failure)
{
    if (abi == 0)
        return true;
    RulesetAttr attr = {fs_rights_of(abi), 0, 0};
    if (abi >= 4)
        attr.handled_access_net = LANDLOCK_ACCESS_NET_BIND_TCP | LANDLOCK_ACCESS_NET_CONNECT_TCP;
    if (abi >= 6)
        attr.scoped = LANDLOCK_SCOPE_ABSTRACT_UNIX_SOCKET | LANDLOCK_SCOPE_SIGNAL;
    size_t size = abi >= 6 ? sizeof attr : abi >= 4 ? 2 * sizeof(uint64_t) : sizeof(uint64_t);
    int ruleset = static_cast<int>(syscall(SYS_landlock_create_ruleset, &attr, size, 0));
    if (ruleset < 0)
        return fail(failure, "Landlock ruleset");
    for (const PathRule &rule : rules)
        if (!add_path_rule(ruleset, rule, attr.handled_access_fs)) {
            fail(failure, "Landlock rule");
            close(ruleset);
            return false;
        }
    bool restricted = syscall(SYS_landlock_restrict_self, ruleset, 0) == 0;
    if (!restricted)
        fail(failure, "Landlock restriction");
    close(ruleset);
    return restricted;
}
#endif

int landlock_abi()
{
#if defined(CONFINE_HAVE_LANDLOCK)
    long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : static_cast<int>(abi);
#else
    return 0;
#endif
}

// ---------------------------------------------------------------- system calls

#if defined(DRIFTERM_HAVE_SECCOMP)

// What parsing needs, whatever the file: memory, the descriptors it holds,
// time, threads, signals to itself, its end. Those marked "seen" were made
// by a reader's child on samples of its format (HACKING.md, "Confining the
// converter's children"); the rest are glibc's other paths to the same.
static const int allowed_calls[] = {
    // memory, seen (mmap and mprotect below, without PROT_EXEC); mremap
    // is how realloc grows a large block
    SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(madvise), SCMP_SYS(mremap),
    // the descriptors it was left: read, write, lseek, close seen; fstat
    // for glibc before 2.33 (newfstatat below)
    SCMP_SYS(read), SCMP_SYS(write), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(readv), SCMP_SYS(writev),
    SCMP_SYS(pread64), SCMP_SYS(fstat), SCMP_SYS(poll), SCMP_SYS(ppoll),
    // time: clock_nanosleep seen (djvulibre); the others where the vDSO is not
    SCMP_SYS(clock_nanosleep), SCMP_SYS(nanosleep), SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres),
    SCMP_SYS(gettimeofday),
    // threads (clone below): futex, set_robust_list, rseq seen (djvulibre),
    // sched_getaffinity (poppler counting cores); sched_yield for spin locks
    SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_getaffinity),
    SCMP_SYS(sched_yield),
    // signals: rt_sigaction, rt_sigprocmask seen; sigaltstack for a
    // sanitizer's threads; restart_syscall after a stop
    SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    // itself: exit, exit_group seen; getpid and gettid for raise()
    SCMP_SYS(exit), SCMP_SYS(exit_group), SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getrandom),
    SCMP_SYS(getrlimit),
};

// What no parser does on any file: code that makes one of these calls has
// been subverted, and is stopped at once rather than left to try another.
static const int killed_calls[] = {
    SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv),
    SCMP_SYS(process_vm_writev), SCMP_SYS(socket), SCMP_SYS(socketpair), SCMP_SYS(connect),
    SCMP_SYS(bind), SCMP_SYS(listen), SCMP_SYS(accept), SCMP_SYS(accept4), SCMP_SYS(sendto),
    SCMP_SYS(sendmsg), SCMP_SYS(fork), SCMP_SYS(vfork), SCMP_SYS(tkill), SCMP_SYS(unshare),
    SCMP_SYS(setns), SCMP_SYS(mount), SCMP_SYS(umount2), SCMP_SYS(pivot_root), SCMP_SYS(chroot),
    SCMP_SYS(bpf), SCMP_SYS(perf_event_open), SCMP_SYS(userfaultfd), SCMP_SYS(io_uring_setup),
    SCMP_SYS(io_uring_enter), SCMP_SYS(io_uring_register), SCMP_SYS(keyctl), SCMP_SYS(add_key),
    SCMP_SYS(request_key), SCMP_SYS(personality), SCMP_SYS(pidfd_open), SCMP_SYS(pidfd_getfd),
    SCMP_SYS(pidfd_send_signal), SCMP_SYS(rt_sigqueueinfo), SCMP_SYS(rt_tgsigqueueinfo),
    SCMP_SYS(process_madvise), SCMP_SYS(memfd_create), SCMP_SYS(init_module), SCMP_SYS(finit_module),
    SCMP_SYS(kexec_load),
};

// UndefinedBehaviorSanitizer tells readable memory by writing it into a
// pipe: without one, every check of a dynamic type fails.
static const int sanitizer_calls[] = {SCMP_SYS(pipe2), SCMP_SYS(pipe)};

// A sanitizer's report may start its symbolizer: that attempt must fail
// softly, or the report dies with it.
static const int spawn_calls[] = {SCMP_SYS(execve), SCMP_SYS(execveat), SCMP_SYS(fork), SCMP_SYS(vfork)};

static bool spawns(int call)
{
    return std::find(std::begin(spawn_calls), std::end(spawn_calls), call) != std::end(spawn_calls);
}

// Comparisons of argument `n`, with every field filled.
static scmp_arg_cmp arg_equals(unsigned n, scmp_datum_t value)
{
    return {n, SCMP_CMP_EQ, value, 0};
}

static scmp_arg_cmp arg_differs(unsigned n, scmp_datum_t value)
{
    return {n, SCMP_CMP_NE, value, 0};
}

static scmp_arg_cmp arg_masked(unsigned n, scmp_datum_t mask, scmp_datum_t value)
{
    return {n, SCMP_CMP_MASKED_EQ, mask, value};
}

static bool add_rule(scmp_filter_ctx ctx, uint32_t action, int call)
{
    return seccomp_rule_add(ctx, action, call, 0) == 0;
}

static bool add_rule(scmp_filter_ctx ctx, uint32_t action, int call, scmp_arg_cmp when)
{
    return seccomp_rule_add(ctx, action, call, 1, when) == 0;
}

static bool add_unconditional(scmp_filter_ctx ctx, uint32_t kill)
{
    for (int call : allowed_calls)
        if (!add_rule(ctx, SCMP_ACT_ALLOW, call))
            return false;
    for (int call : sanitizer_calls)
        if (under_sanitizer() && !add_rule(ctx, SCMP_ACT_ALLOW, call))
            return false;
    for (int call : killed_calls)
        if (!add_rule(ctx, spawns(call) && under_sanitizer() ? SCMP_ACT_ERRNO(EPERM) : kill, call))
            return false;
    return true;
}

// Memory, but none made executable: a parser runs no code it made.
static bool add_memory_rules(scmp_filter_ctx ctx)
{
    for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        if (!add_rule(ctx, SCMP_ACT_ALLOW, call, arg_masked(2, PROT_EXEC, 0)) ||
            !add_rule(ctx, SCMP_ACT_ERRNO(EACCES), call, arg_masked(2, PROT_EXEC, PROT_EXEC)))
            return false;
    return true;
}

// Threads, not processes; signals to itself only (abort() among them).
// clone3 hides its flags from the filter: it gets ENOSYS (the default),
// and glibc falls back on clone.
static bool add_process_rules(scmp_filter_ctx ctx, uint32_t kill)
{
    const auto self = static_cast<scmp_datum_t>(getpid());
    uint32_t fork_action = under_sanitizer() ? SCMP_ACT_ERRNO(EPERM) : kill;
    bool added = add_rule(ctx, SCMP_ACT_ALLOW, SCMP_SYS(clone), arg_masked(0, CLONE_THREAD, CLONE_THREAD)) &&
                 add_rule(ctx, fork_action, SCMP_SYS(clone), arg_masked(0, CLONE_THREAD, 0));
    for (int call : {SCMP_SYS(kill), SCMP_SYS(tgkill)})
        added = added && add_rule(ctx, SCMP_ACT_ALLOW, call, arg_equals(0, self)) &&
                add_rule(ctx, kill, call, arg_differs(0, self));
    return added;
}

// Descriptors it holds may be asked about, never a path: fstat is
// newfstatat with AT_EMPTY_PATH in glibc. Limits may be read, not set.
static bool add_descriptor_rules(scmp_filter_ctx ctx)
{
    for (int command : {F_GETFD, F_SETFD, F_GETFL, F_SETFL})
        if (!add_rule(ctx, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), arg_equals(1, static_cast<scmp_datum_t>(command))))
            return false;
    return add_rule(ctx, SCMP_ACT_ALLOW, SCMP_SYS(newfstatat), arg_masked(3, AT_EMPTY_PATH, AT_EMPTY_PATH)) &&
           seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, arg_equals(0, 0), arg_equals(2, 0)) == 0 &&
           add_rule(ctx, SCMP_ACT_ERRNO(ENOTTY), SCMP_SYS(ioctl));
}

// Opening fails with EACCES, which a library takes for a missing file;
// where Landlock holds reads to the paths named, it may open those to read.
static bool add_open_rules(scmp_filter_ctx ctx, bool read_only)
{
    const scmp_datum_t writing[] = {O_WRONLY, O_RDWR, O_CREAT, O_TRUNC, O_APPEND, O_TMPFILE & ~O_DIRECTORY};
    scmp_datum_t any_writing = 0;
    for (scmp_datum_t bit : writing)
        any_writing |= bit;
    bool added = true;
    if (read_only) {
        added = add_rule(ctx, SCMP_ACT_ALLOW, SCMP_SYS(openat), arg_masked(2, any_writing, 0));
        for (scmp_datum_t bit : writing)
            added = added && add_rule(ctx, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), arg_masked(2, bit, bit));
    } else {
        added = add_rule(ctx, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat));
    }
    for (int call : {SCMP_SYS(open), SCMP_SYS(creat), SCMP_SYS(open_by_handle_at), SCMP_SYS(openat2)})
        added = added && add_rule(ctx, SCMP_ACT_ERRNO(EACCES), call);
    return added;
}

// Any other call gets ENOSYS, so that a library takes the path it has for
// an older kernel.
static bool apply_filter(bool read_only, ConfineFailure &failure)
{
    if (!seccomp_offered())
        return true;
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_ERRNO(ENOSYS));
    if (ctx == nullptr) {
        errno = ENOMEM;
        return fail(failure, "system-call filter");
    }
    const uint32_t kill = SCMP_ACT_KILL_PROCESS;
    int error = add_unconditional(ctx, kill) && add_memory_rules(ctx) && add_process_rules(ctx, kill) &&
                        add_descriptor_rules(ctx) && add_open_rules(ctx, read_only)
                    ? -seccomp_load(ctx)
                    : EINVAL;
    seccomp_release(ctx);
    if (error != 0) {
        errno = error;
        return fail(failure, "system-call filter");
    }
    return true;
}
#endif

bool seccomp_offered()
{
#if defined(DRIFTERM_HAVE_SECCOMP)
    // A kernel with filters answers EFAULT for the missing program.
    return prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, nullptr) != 0 && errno == EFAULT;
#else
    return false;
#endif
}

// ---------------------------------------------------------------- the two confinements

bool confine_child(const Confinement &c, ConfineFailure &failure)
{
    failure = ConfineFailure{};
    if (!close_other_fds(c.keep_fds))
        return fail(failure, "closing descriptors");
    if (under_sanitizer()) {
        SanitizerSandboxArguments none = {0, -1, 0};
        __sanitizer_sandbox_on_notify(&none);
    }
    // libzip asks for the local time of every member's date. Unless TZ
    // names the zone, glibc looks at its file again each time, which a
    // confined child can neither stat nor open: named and read once here.
    setenv("TZ", ":/etc/localtime", 0);
    tzset();
    if (!set_no_new_privileges(failure) || !set_limits(c.address_space, c.cpu_seconds, 0, c.open_files, failure))
        return false;
    // Without Landlock nothing could hold an open to the paths named, so
    // none is allowed at all.
    bool read_only = false;
#if defined(CONFINE_HAVE_LANDLOCK)
    std::vector<PathRule> rules;
    for (const std::string &path : c.read_only_paths)
        rules.push_back({path, fs_read});
    int abi = landlock_abi();
    if (!apply_landlock(abi, rules, failure))
        return false;
    read_only = abi > 0 && !rules.empty();
#endif
#if defined(DRIFTERM_HAVE_SECCOMP)
    return apply_filter(read_only, failure);
#else
    (void)read_only;
    return true;
#endif
}

#if defined(CONFINE_HAVE_LANDLOCK)
// The system's programs, libraries and data, the files in /etc that all
// of them read (seen under strace), the document, and the private folder.
static std::vector<PathRule> program_rules(const ProgramConfinement &c)
{
    std::vector<PathRule> rules;
    for (const char *dir : {"/usr/bin", "/bin", "/usr/lib", "/usr/lib64", "/usr/libexec", "/lib", "/lib64"})
        rules.push_back({dir, fs_read | fs_execute});
    for (const char *path : {"/usr", "/etc/ld.so.cache", "/etc/localtime"})
        rules.push_back({path, fs_read});
    rules.push_back({"/dev/null", LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE});
    for (const std::string &path : c.data_paths)
        rules.push_back({path, fs_read});
    rules.push_back({c.input, LANDLOCK_ACCESS_FS_READ_FILE});
    rules.push_back({c.work_dir, ~fs_execute});
    return rules;
}
#endif

bool confine_program(const ProgramConfinement &c, ConfineFailure &failure)
{
    failure = ConfineFailure{};
    if (!close_other_fds({}))
        return fail(failure, "closing descriptors");
    if (!set_no_new_privileges(failure) ||
        !set_limits(c.address_space, c.cpu_seconds, c.file_size, 64, failure))
        return false;
#if defined(CONFINE_HAVE_LANDLOCK)
    return apply_landlock(landlock_abi(), program_rules(c), failure);
#else
    return true;
#endif
}

// ---------------------------------------------------------------- before confining

void open_charset_converters()
{
#if defined(__GLIBC__)
    static bool opened = false;
    if (opened)
        return;
    opened = true;
    // uchardet's answers, the code pages RTF names, the sets HTML and XML
    // declarations name most. Once a set's module is loaded, the way back
    // from UTF-8 (which libxml2 opens too) needs no file either.
    static const char *const sets[] = {
        "UTF-16LE", "UTF-16BE", "UTF-32LE", "UTF-32BE", "UTF-7", "UCS-2LE", "UCS-2BE", "ISO-8859-1",
        "ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5", "ISO-8859-6", "ISO-8859-7", "ISO-8859-8",
        "ISO-8859-9", "ISO-8859-10", "ISO-8859-11", "ISO-8859-13", "ISO-8859-14", "ISO-8859-15",
        "ISO-8859-16", "CP1250", "CP1251", "CP1252", "CP1253", "CP1254", "CP1255", "CP1256", "CP1257",
        "CP1258", "CP874", "CP932", "CP936", "CP949", "CP950", "CP437", "CP850", "CP852", "CP855", "CP865",
        "CP866", "KOI8-R", "KOI8-U", "MACINTOSH", "MAC-CENTRALEUROPE", "MAC-CYRILLIC", "TIS-620", "VISCII",
        "SHIFT_JIS", "EUC-JP", "EUC-KR", "EUC-TW", "BIG5", "BIG5-HKSCS", "GB18030", "GBK", "ISO-2022-JP",
        "ISO-2022-KR", "ISO-2022-CN",
    };
    // Kept open for good, and never destroyed (a leak check at exit still
    // finds them): glibc unloads a converter nobody holds.
    static auto *held = new std::vector<iconv_t>;
    for (const char *set : sets)
        held->push_back(iconv_open("UTF-8", set));
#endif
}

std::string confinement_in_force()
{
    std::string in_force;
    if (int abi = landlock_abi(); abi > 0)
        in_force = "landlock (ABI " + std::to_string(abi) + "), ";
    if (seccomp_offered())
        in_force += "seccomp, ";
    return in_force + "limits";
}
