// PDF: the words of each page from poppler-cpp, grouped into lines, pages
// read in parallel by worker processes (poppler is not reliably safe for
// threads sharing one document, and a page that crashes poppler then takes
// down a worker, not the converter); pdf_layout.cpp makes the blocks.
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>
#include <string_view>

#include "convert/pdf_layout.h"

namespace {

// A document claiming more pages is read up to here, and a conversion
// stops after this long, keeping the pages read in order until then.
constexpr int page_bound = 100000;
constexpr int seconds_bound = 20;

void ignore_poppler(const std::string &, void *) {}

// ---------------------------------------------------------------- words

// poppler-cpp tells font names and sizes only at twice the cost of a page
// (it scans the page's fonts again), so a word's size is its height, and a
// fixed-pitch face shows in its letters: all as wide as each other.
struct Word {
    std::string text;
    float x0, x1, top, bottom;
    float advance; // the width of every letter when all are as wide, else 0
    int letters;
    bool space_after;
};

// The common width of a word's letters, or 0 when they differ. Punctuation
// at either end may be in the face of the text around a piece of code.
float even_advance(const poppler::text_box &b, const poppler::ustring &text)
{
    auto punctuation = [](unsigned short c) { return c < 0x80 && strchr(".,;:!?()[]'\"", c) != nullptr; };
    size_t first = 0, end = text.size();
    while (end > first + 1 && punctuation(text[end - 1]))
        end--;
    while (first + 1 < end && punctuation(text[first]))
        first++;
    float low = 1e9f, high = 0;
    for (size_t i = first; i < end; i++) {
        float w = static_cast<float>(b.char_bbox(i).width());
        low = std::min(low, w);
        high = std::max(high, w);
    }
    return end > first && high > 0 && high - low <= 0.03f * high ? (low + high) / 2 : 0;
}

// poppler's UTF-16 to UTF-8, without control characters; a lone
// surrogate becomes U+FFFD. Returns the number of characters.
int utf16_to_utf8(const poppler::ustring &in, std::string &out)
{
    int letters = 0;
    for (size_t i = 0; i < in.size(); i++) {
        uint32_t c = in[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < in.size() && in[i + 1] >= 0xDC00 && in[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x20 || c == 0x7f)
            continue;
        append_utf8(out, c);
        letters++;
    }
    return letters;
}

// ---------------------------------------------------------------- lines

float word_size(const Word &w)
{
    return w.bottom - w.top;
}

bool same_line(float top, float bottom, const Word &prev, const Word &w)
{
    if (w.x0 < prev.x0 - 0.1f * word_size(w))
        return false; // back to the left: the next line
    float middle = (w.top + w.bottom) / 2, line_middle = (top + bottom) / 2;
    return (middle >= top && middle <= bottom) || (line_middle >= w.top && line_middle <= w.bottom);
}

// Whether every letter of the row is as wide as the others: a fixed-pitch
// face. `sure` when there are enough different letters to tell.
bool fixed_pitch(std::vector<Word>::const_iterator from, std::vector<Word>::const_iterator to, float &width,
                 bool &sure)
{
    float low = 1e9f, high = 0;
    int letters = 0;
    for (auto w = from; w != to; ++w) {
        if (w->advance <= 0)
            return false;
        low = std::min(low, w->advance);
        high = std::max(high, w->advance);
        letters += w->letters;
    }
    if (high - low > 0.03f * high)
        return false;
    width = (low + high) / 2;
    sure = letters >= 6;
    return true;
}

void close_line(std::vector<Word>::const_iterator from, std::vector<Word>::const_iterator to, bool rotated,
                PdfPage &page)
{
    PdfLine line;
    line.x0 = from->x0;
    line.top = from->top;
    line.bottom = from->bottom;
    // The row's size: its tallest word's (a superscript or a word in a
    // fixed-pitch face, whose letters are not as tall, does not make it),
    // of words of two letters or more when there are any.
    bool long_words = std::any_of(from, to, [](const Word &w) { return w.letters >= 2; });
    for (auto w = from; w != to; ++w) {
        line.x1 = std::max(line.x1, w->x1);
        line.top = std::min(line.top, w->top);
        line.bottom = std::max(line.bottom, w->bottom);
        if (w->letters >= 2 || !long_words)
            line.size = std::max(line.size, word_size(*w));
    }
    bool sure = false;
    bool mono = fixed_pitch(from, to, line.char_width, sure);
    if (!mono)
        line.char_width = 0;
    line.first_width = from->x1 - from->x0;
    line.text_x = from + 1 != to ? (from + 1)->x0 : line.x1;
    auto even = [](const Word &w) { return w.advance > 0 && w.letters >= 3; };
    line.flags = static_cast<uint8_t>((mono && sure ? pdf_mono : 0) | (mono && !sure ? pdf_maybe_mono : 0) |
                                      (rotated ? pdf_rotated : 0) | (even(*from) ? pdf_starts_mono : 0) |
                                      (even(*(to - 1)) ? pdf_ends_mono : 0));
    // A gap parts cells when it is wide, and wider than the row's others:
    // a justified row may stretch all its gaps.
    float narrowest = 1e9f;
    for (auto w = from + 1; w < to; ++w)
        narrowest = std::min(narrowest, w->x0 - (w - 1)->x1);
    for (auto w = from; w != to; ++w) {
        if (w != from) {
            const Word &prev = *(w - 1);
            float gap = w->x0 - prev.x1;
            if (mono) {
                long spaces = std::lround(gap / line.char_width);
                line.text.append(static_cast<size_t>(std::clamp(spaces, 1L, 200L)), ' ');
            } else if (gap > 1.5f * line.size && gap > 2.5f * narrowest) {
                line.text += '\t';
                line.stops.push_back(w->x0);
            } else if (prev.space_after || gap > 0.15f * line.size) {
                line.text += ' ';
            }
        }
        line.text += w->text;
    }
    page.lines.push_back(std::move(line));
}

void words_to_lines(const std::vector<Word> &words, const std::vector<bool> &rotated, PdfPage &page)
{
    size_t first = 0;
    float top = 0, bottom = 0;
    for (size_t i = 0; i < words.size(); i++) {
        if (i > first && (rotated[i] || rotated[i - 1] || !same_line(top, bottom, words[i - 1], words[i]))) {
            close_line(words.begin() + static_cast<long>(first), words.begin() + static_cast<long>(i),
                       rotated[first], page);
            first = i;
        }
        if (i == first) {
            top = words[i].top;
            bottom = words[i].bottom;
        } else if (word_size(words[i]) >= word_size(words[first]) * 0.9f) {
            top = std::min(top, words[i].top);
            bottom = std::max(bottom, words[i].bottom);
        }
    }
    if (first < words.size())
        close_line(words.begin() + static_cast<long>(first), words.end(), rotated[first], page);
}

// The lines of page `index`; false when the document has no such page.
bool read_page(const poppler::document &doc, int index, PdfPage &out)
{
    std::unique_ptr<poppler::page> page(doc.create_page(index));
    if (!page)
        return false;
    poppler::rectf box = page->page_rect();
    out.width = static_cast<float>(box.width());
    out.height = static_cast<float>(box.height());
    std::vector<poppler::text_box> boxes = page->text_list();
    std::vector<Word> words;
    std::vector<bool> rotated;
    words.reserve(boxes.size());
    rotated.reserve(boxes.size());
    for (const poppler::text_box &b : boxes) {
        Word w;
        poppler::ustring text = b.text();
        w.letters = utf16_to_utf8(text, w.text);
        if (w.letters == 0)
            continue;
        poppler::rectf r = b.bbox();
        w.x0 = static_cast<float>(r.left());
        w.x1 = static_cast<float>(r.right());
        w.top = static_cast<float>(r.top());
        w.bottom = static_cast<float>(r.bottom());
        w.advance = even_advance(b, text);
        w.space_after = b.has_space_after();
        words.push_back(std::move(w));
        rotated.push_back(b.rotation() != 0);
    }
    words_to_lines(words, rotated, out);
    return true;
}

// ---------------------------------------------------------------- records

// A page as a worker sends it: length, page index, then its lines.
template <typename T> void put(std::string &out, T value)
{
    out.append(reinterpret_cast<const char *>(&value), sizeof value);
}

template <typename T> bool get(std::string_view &in, T &value)
{
    if (in.size() < sizeof value)
        return false;
    memcpy(&value, in.data(), sizeof value);
    in.remove_prefix(sizeof value);
    return true;
}

// index -1: the document has no page where this worker went on.
void put_page(std::string &out, int index, const PdfPage &page)
{
    size_t start = out.size();
    put<uint32_t>(out, 0);
    put<int32_t>(out, index);
    put(out, page.width);
    put(out, page.height);
    put<uint32_t>(out, static_cast<uint32_t>(page.lines.size()));
    for (const PdfLine &l : page.lines) {
        for (float f : {l.x0, l.x1, l.top, l.bottom, l.size, l.first_width, l.text_x, l.char_width})
            put(out, f);
        put(out, l.flags);
        put<uint32_t>(out, static_cast<uint32_t>(l.stops.size()));
        for (float s : l.stops)
            put(out, s);
        put<uint32_t>(out, static_cast<uint32_t>(l.text.size()));
        out += l.text;
    }
    uint32_t length = static_cast<uint32_t>(out.size() - start - sizeof(uint32_t));
    memcpy(&out[start], &length, sizeof length);
}

bool get_page(std::string_view in, int &index, PdfPage &page)
{
    int32_t at;
    uint32_t lines;
    if (!get(in, at) || !get(in, page.width) || !get(in, page.height) || !get(in, lines))
        return false;
    index = at;
    for (uint32_t i = 0; i < lines; i++) {
        PdfLine l;
        uint32_t stops, length;
        for (float *f : {&l.x0, &l.x1, &l.top, &l.bottom, &l.size, &l.first_width, &l.text_x, &l.char_width})
            if (!get(in, *f))
                return false;
        if (!get(in, l.flags) || !get(in, stops) || stops > in.size() / sizeof(float))
            return false;
        l.stops.resize(stops);
        for (float &s : l.stops)
            get(in, s);
        if (!get(in, length) || length > in.size())
            return false;
        l.text.assign(in.data(), length);
        in.remove_prefix(length);
        page.lines.push_back(std::move(l));
    }
    return in.empty();
}

// ---------------------------------------------------------------- workers

bool write_all(int fd, const std::string &bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A worker: pages first, first + step, ... to `fd`, until the document
// has no more.
[[noreturn]] void work_pages(const poppler::document &doc, int first, int step, int count, int fd)
{
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DRIFTERM_ASAN 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(DRIFTERM_ASAN)
    // A worker's address space, against a page that expands without end
    // (not under AddressSanitizer, whose shadow memory is far larger).
    const rlim_t worker_memory = rlim_t{2} << 30;
    struct rlimit memory = {worker_memory, worker_memory};
    setrlimit(RLIMIT_AS, &memory);
#endif
#if defined(M_TRIM_THRESHOLD)
    // Each page's words are made and freed again: keep the heap's pages
    // rather than hand them back to the system after every page (glibc).
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 16 << 20);
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
#endif
    std::string out;
    for (int index = first; index < count; index += step) {
        PdfPage page;
        bool exists = read_page(doc, index, page);
        put_page(out, exists ? index : -1, page);
        if (!write_all(fd, out))
            _exit(1);
        out.clear();
        if (!exists)
            break;
    }
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    int next = 0, step = 1; // the page it sends next, and the pages between
    std::string pending;    // bytes of a record not yet whole
};

void stop_workers(std::vector<Worker> &workers)
{
    for (Worker &w : workers) {
        if (w.fd >= 0)
            close(w.fd);
        w.fd = -1;
        if (w.pid > 0) {
            kill(w.pid, SIGKILL);
            while (waitpid(w.pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        w.pid = -1;
    }
}

bool start_workers(const poppler::document &doc, int count, int n, std::vector<Worker> &workers)
{
    for (int k = 0; k < n; k++) {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        pid_t pid = fork();
        if (pid < 0) {
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        if (pid == 0) {
            close(fds[0]);
            for (Worker &w : workers)
                close(w.fd);
            work_pages(doc, k, n, count, fds[1]);
        }
        close(fds[1]);
        Worker w;
        w.pid = pid;
        w.fd = fds[0];
        w.next = k;
        w.step = n;
        workers.push_back(w);
    }
    return true;
}

struct Collected {
    std::vector<PdfPage> pages;   // by index
    std::vector<bool> received;
    int end;                      // the document's pages end here
    int prefix = 0;               // pages [0, prefix) all received
    size_t prefix_bytes = 0;
};

double now_seconds()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Takes the whole records out of a worker's pending bytes; false on a
// record that makes no sense.
bool take_records(Worker &w, Collected &c)
{
    std::string_view in = w.pending;
    size_t used = 0;
    while (in.size() - used >= sizeof(uint32_t)) {
        uint32_t length;
        memcpy(&length, in.data() + used, sizeof length);
        if (in.size() - used - sizeof length < length)
            break;
        PdfPage page;
        int index;
        if (!get_page(in.substr(used + sizeof length, length), index, page))
            return false;
        used += sizeof length + length;
        if (index < 0) {
            // The document has no page where this worker would have gone on.
            c.end = std::min(c.end, w.next);
            continue;
        }
        if (index != w.next || index >= static_cast<int>(c.pages.size()))
            return false;
        c.pages[static_cast<size_t>(index)] = std::move(page);
        c.received[static_cast<size_t>(index)] = true;
        w.next += w.step;
    }
    w.pending.erase(0, used);
    return true;
}

void advance_prefix(Collected &c)
{
    while (c.prefix < c.end && c.received[static_cast<size_t>(c.prefix)]) {
        for (const PdfLine &l : c.pages[static_cast<size_t>(c.prefix)].lines)
            c.prefix_bytes += l.text.size() + 1;
        if (c.prefix_bytes > archive_limit) {
            c.end = c.prefix + 1; // what is past the limit is not read
        }
        c.prefix++;
    }
}

enum class Outcome { whole, timed_out, failed };

// Reads the workers' records until every page before the end is in.
Outcome collect(std::vector<Worker> &workers, Collected &c, double deadline)
{
    size_t n = workers.size();
    char buffer[65536];
    while (c.prefix < c.end) {
        std::vector<pollfd> polled;
        std::vector<size_t> which;
        for (size_t k = 0; k < n; k++)
            if (workers[k].fd >= 0) {
                polled.push_back({workers[k].fd, POLLIN, 0});
                which.push_back(k);
            }
        if (polled.empty())
            return Outcome::failed; // every worker ended, yet pages are missing
        double left = deadline - now_seconds();
        if (left <= 0)
            return Outcome::timed_out;
        int ready = poll(polled.data(), polled.size(), static_cast<int>(left * 1000) + 1);
        if (ready < 0 && errno != EINTR)
            return Outcome::failed;
        for (size_t i = 0; ready > 0 && i < polled.size(); i++) {
            if (polled[i].revents == 0)
                continue;
            Worker &w = workers[which[i]];
            ssize_t got = read(w.fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got > 0) {
                w.pending.append(buffer, static_cast<size_t>(got));
                if (!take_records(w, c))
                    return Outcome::failed;
                continue;
            }
            // The end of a worker's pages: it must have ended well and
            // sent whole records.
            close(w.fd);
            w.fd = -1;
            int status = 0;
            pid_t pid = w.pid;
            w.pid = -1;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !w.pending.empty())
                return Outcome::failed;
        }
        advance_prefix(c);
    }
    return Outcome::whole;
}

// One worker per core; DRIFTERM_PDF_WORKERS sets another number, 0 for
// none (every page read in this process, as when fork fails).
int worker_count(int pages)
{
    long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (const char *forced = getenv("DRIFTERM_PDF_WORKERS"))
        cores = atol(forced);
    return static_cast<int>(std::clamp<long>(std::min<long>(cores, pages), 0, 64));
}

// The same pages as the workers would read, one after the other here.
Outcome read_pages_here(const poppler::document &doc, Collected &c, double deadline)
{
    for (int index = 0; index < c.end; index++) {
        if (now_seconds() > deadline)
            return Outcome::timed_out;
        PdfPage page;
        if (!read_page(doc, index, page)) {
            c.end = index;
            break;
        }
        c.pages[static_cast<size_t>(index)] = std::move(page);
        c.received[static_cast<size_t>(index)] = true;
        advance_prefix(c);
    }
    return Outcome::whole;
}

// The pages of the document in order, as far as they go, or until the
// time ran out.
Outcome read_pages(const poppler::document &doc, int count, std::vector<PdfPage> &pages)
{
    Collected c;
    c.pages.resize(static_cast<size_t>(count));
    c.received.assign(static_cast<size_t>(count), false);
    c.end = count;
    std::vector<Worker> workers;
    double deadline = now_seconds() + seconds_bound;
    Outcome outcome;
    int n = worker_count(count);
    if (n > 0 && start_workers(doc, count, n, workers)) {
        outcome = collect(workers, c, deadline);
        stop_workers(workers);
    } else {
        stop_workers(workers);
        outcome = read_pages_here(doc, c, deadline);
    }
    if (outcome == Outcome::failed)
        return outcome;
    // Up to the first page the document does not have, as one pass would
    // stop there, whatever other workers read past it.
    c.pages.resize(static_cast<size_t>(std::min(c.prefix, c.end)));
    pages = std::move(c.pages);
    return outcome;
}

} // namespace

bool read_pdf(const Input &in, Document &doc)
{
    poppler::set_debug_error_function(ignore_poppler, nullptr);
    if (in.bytes.size() > static_cast<size_t>(INT32_MAX))
        return false;
    std::unique_ptr<poppler::document> pdf(
        poppler::document::load_from_raw_data(in.bytes.data(), static_cast<int>(in.bytes.size())));
    if (!pdf)
        return false;
    if (pdf->is_locked()) {
        doc.notice = in.name + " is encrypted";
        return true;
    }
    int count = std::min(pdf->pages(), page_bound);
    if (count <= 0)
        return false;
    std::vector<PdfPage> pages;
    Outcome outcome = read_pages(*pdf, count, pages);
    if (outcome == Outcome::failed || pages.empty())
        return false;
    if (std::all_of(pages.begin(), pages.end(), [](const PdfPage &p) { return p.lines.empty(); })) {
        // Scanned pages, or drawings: there is no text to show.
        doc.notice = "no text in " + in.name + " (PDF)";
        return true;
    }
    pdf_blocks(pages, doc);
    if (outcome == Outcome::timed_out) {
        Block note;
        note.text = "(" + in.name + ": the pages after page " + std::to_string(pages.size()) +
                    " of " + std::to_string(count) + " were not read in time)";
        doc.blocks.push_back(std::move(note));
    }
    return true;
}
