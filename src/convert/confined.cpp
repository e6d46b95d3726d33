// Readers in confined children: the child reads, confined before the
// document's first byte reaches a parser, and hands its Document back
// over a pipe, so that what a hostile file makes a library do stays in
// a process that can open nothing, run nothing and spend little.
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "convert/confine.h"
#include "convert/document.h"
#include "convert/notices.h"
#include "convert/process.h"
#include "convert/zip.h"

namespace {

// A child that runs out of memory ends with this status, so that the
// parent can say so.
constexpr int out_of_memory_status = 3;

void put_block(std::string &out, const Block &b)
{
    put_value<uint8_t>(out, static_cast<uint8_t>(b.kind));
    put_value<uint8_t>(out, static_cast<uint8_t>(b.style));
    put_value<int64_t>(out, b.number);
    put_value<int32_t>(out, b.depth);
    put_text(out, b.text);
    put_text(out, b.label);
    put_value<uint32_t>(out, static_cast<uint32_t>(b.cells.size()));
    for (const std::string &cell : b.cells)
        put_text(out, cell);
}

bool take_block(std::string_view &in, Block &b)
{
    uint8_t kind, style;
    int64_t number;
    int32_t depth;
    uint32_t cells;
    if (!take_value(in, kind) || !take_value(in, style) || !take_value(in, number) || !take_value(in, depth) ||
        !take_text(in, b.text) || !take_text(in, b.label) || !take_value(in, cells) ||
        kind > static_cast<uint8_t>(BlockKind::preformatted) || style > static_cast<uint8_t>(ListStyle::upper_roman) ||
        cells > in.size() / sizeof(uint32_t))
        return false;
    b.kind = static_cast<BlockKind>(kind);
    b.style = static_cast<ListStyle>(style);
    b.number = static_cast<long>(number);
    b.depth = depth;
    b.cells.resize(cells);
    for (std::string &cell : b.cells)
        if (!take_text(in, cell))
            return false;
    return true;
}

// The pipe to the parent, in a confined reader's child; -1 elsewhere.
int parent_fd = -1;

// Appends the records of `blocks` to `out`, writing them out whenever
// they reach 64 KiB, so that a large document is never held twice.
bool send_blocks(int fd, std::string &out, const Block *blocks, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        size_t start = record_open(out);
        put_value<uint8_t>(out, 'B');
        put_block(out, blocks[i]);
        record_close(out, start);
        if (out.size() >= 65536) {
            if (!write_all(fd, out))
                return false;
            out.clear();
        }
    }
    return true;
}

void put_tagged_text(std::string &out, uint8_t tag, std::string_view text)
{
    size_t start = record_open(out);
    put_value<uint8_t>(out, tag);
    put_text(out, text);
    record_close(out, start);
}

// The child's answer: a record a block, then one with the result and the
// notice. Blocks sent before (document_flush) came with a record of the
// place read up to.
bool send_document(int fd, ReadResult result, const Document &doc)
{
    std::string out;
    if (!send_blocks(fd, out, doc.blocks.data(), doc.blocks.size()))
        return false;
    size_t start = record_open(out);
    put_value<uint8_t>(out, 'E');
    put_value<uint8_t>(out, static_cast<uint8_t>(result));
    put_text(out, doc.notice);
    record_close(out, start);
    return write_all(fd, out);
}

// What has come from the child so far: the blocks it sent before its
// last place laid out, those since as blocks; the place; its end.
struct Answer {
    std::string pending; // bytes of a record not yet whole
    Document doc;
    std::string place;
    size_t received = 0;
    bool ended = false;
    ReadResult result = ReadResult::read;
};

bool take_record(Answer &answer, std::string_view record)
{
    uint8_t tag, said;
    if (answer.ended || !take_value(record, tag))
        return false;
    if (tag == 'B') {
        answer.doc.blocks.emplace_back();
        return take_block(record, answer.doc.blocks.back()) && record.empty();
    }
    if (tag == 'P') {
        // Blocks sent at a place are final: laid out now, they cost their
        // text alone, however many they are.
        for (const Block &block : answer.doc.blocks)
            layout_append(answer.doc.laid_out, block);
        answer.doc.blocks.clear();
        return take_text(record, answer.place) && record.empty();
    }
    if (tag != 'E' || !take_value(record, said) || said > static_cast<uint8_t>(ReadResult::notice) ||
        !take_text(record, answer.doc.notice) || !record.empty())
        return false;
    answer.result = static_cast<ReadResult>(said);
    answer.ended = true;
    return true;
}

// Takes the whole records of `chunk` and what came before it; false, to
// stop the child, on one that makes no sense or on too much.
bool take_answer(Answer &answer, std::string_view chunk)
{
    answer.received += chunk.size();
    auto take = [&answer](std::string_view record) { return take_record(answer, record); };
    return records_take(answer.pending, chunk, take) && answer.received <= 2 * archive_limit;
}

[[noreturn]] void out_of_memory()
{
    _exit(out_of_memory_status);
}

// Why a child gave no Document, in the words of the notice.
std::string why_unread(const ChildOutput &child, const Answer &answer)
{
    int status = child.status;
    if (answer.received > 2 * archive_limit)
        return "it holds more text than a document may";
    // SIGKILL is the parent's at its deadline, or the kernel's at the hard
    // limit on processor time.
    if (child.timed_out || (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL)))
        return "it takes too long to read";
    if (WIFEXITED(status) && WEXITSTATUS(status) == out_of_memory_status)
        return "it needs more memory than a document may take";
    if (WIFEXITED(status) && WEXITSTATUS(status) == child_not_confined)
        return "its reader could not be confined";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS)
        return "its reader tried what no reader may do, and was stopped";
    if (WIFSIGNALED(status))
        return std::string("its reader crashed (") + strsignal(WTERMSIG(status)) + ")";
    return "its reader failed";
}

} // namespace

void document_flush(Document &doc, const std::string &place, size_t keep)
{
    if (parent_fd < 0 || doc.blocks.size() <= keep)
        return;
    size_t count = doc.blocks.size() - keep;
    std::string out;
    if (!send_blocks(parent_fd, out, doc.blocks.data(), count))
        _exit(1);
    put_tagged_text(out, 'P', place);
    if (!write_all(parent_fd, out))
        _exit(1); // the parent has gone
    doc.blocks.erase(doc.blocks.begin(), doc.blocks.begin() + static_cast<long>(count));
    doc.blocks_sent += count;
}

ReadResult read_confined(ReadFunction read, const Input &in, const char *type, Document &doc,
                         const std::vector<std::string> &read_only_paths)
{
    static const bool converters_open = (open_charset_converters(), true);
    (void)converters_open;
    // An honest document's work grows with its size; a hostile one's
    // must not, whatever it says.
    const int seconds = read_seconds + static_cast<int>(in.bytes.size() >> 24);
    ChildOutput child;
    Answer answer;
    Confinement confinement;
    confinement.address_space += 4 * in.bytes.size();
    confinement.cpu_seconds = seconds;
    confinement.read_only_paths = read_only_paths;
    run_in_child(
        [&](int fd) {
            std::set_new_handler(out_of_memory);
            parent_fd = fd;
            Document read_doc;
            ReadResult result = read(in, read_doc);
            _exit(send_document(fd, result, read_doc) ? 0 : 1);
        },
        confinement, [&](std::string_view chunk) { return take_answer(answer, chunk); }, seconds, child);
    if (child.succeeded && answer.ended && answer.pending.empty()) {
        doc = std::move(answer.doc);
        return answer.result;
    }
    doc = Document{};
    std::string why = why_unread(child, answer);
    // What it read whole before it stopped is shown, then where and why
    // it stopped.
    if (answer.doc.laid_out.any) {
        doc.laid_out = std::move(answer.doc.laid_out);
        document_stop(doc, in.name, type, answer.place, why.c_str());
        return ReadResult::read;
    }
    return notice(doc, NoticeKind::unreadable, in.name, type, why.c_str());
}
