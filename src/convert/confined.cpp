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
constexpr int not_confined_status = 4;

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

// The child's answer: a record a block, then one with the result and the
// notice. Written as it goes, so that a large document is never held twice.
bool send_document(int fd, ReadResult result, const Document &doc)
{
    std::string out;
    for (const Block &b : doc.blocks) {
        size_t start = record_open(out);
        put_value<uint8_t>(out, 'B');
        put_block(out, b);
        record_close(out, start);
        if (out.size() >= 65536) {
            if (!write_all(fd, out))
                return false;
            out.clear();
        }
    }
    size_t start = record_open(out);
    put_value<uint8_t>(out, 'E');
    put_value<uint8_t>(out, static_cast<uint8_t>(result));
    put_text(out, doc.notice);
    record_close(out, start);
    return write_all(fd, out);
}

// The child's Document, when its answer came whole.
bool take_document(std::string_view bytes, ReadResult &result, Document &doc)
{
    std::string_view record;
    while (record_next(bytes, record)) {
        uint8_t tag, said;
        if (!take_value(record, tag))
            return false;
        if (tag == 'B') {
            doc.blocks.emplace_back();
            if (!take_block(record, doc.blocks.back()) || !record.empty())
                return false;
            continue;
        }
        if (tag != 'E' || !take_value(record, said) || said > static_cast<uint8_t>(ReadResult::notice) ||
            !take_text(record, doc.notice) || !record.empty() || !bytes.empty())
            return false;
        result = static_cast<ReadResult>(said);
        return true;
    }
    return false;
}

[[noreturn]] void out_of_memory()
{
    _exit(out_of_memory_status);
}

// Why a child gave no Document, in the words of the notice.
std::string why_unread(const ChildOutput &child)
{
    int status = child.status;
    // SIGKILL is the parent's at its deadline, or the kernel's at the hard
    // limit on processor time.
    if (child.timed_out || (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL)))
        return "it takes too long to read";
    if (WIFEXITED(status) && WEXITSTATUS(status) == out_of_memory_status)
        return "it needs more memory than a document may take";
    if (WIFEXITED(status) && WEXITSTATUS(status) == not_confined_status)
        return "its reader could not be confined";
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS)
        return "its reader tried what no reader may do, and was stopped";
    if (WIFSIGNALED(status))
        return std::string("its reader crashed (") + strsignal(WTERMSIG(status)) + ")";
    return "its reader failed";
}

} // namespace

ReadResult read_confined(ReadFunction read, const Input &in, const char *type, Document &doc,
                         const std::vector<std::string> &read_only_paths)
{
    static const bool converters_open = (open_charset_converters(), true);
    (void)converters_open;
    // An honest document's work grows with its size; a hostile one's
    // must not, whatever it says.
    const int seconds = read_seconds + static_cast<int>(in.bytes.size() >> 24);
    ChildOutput child;
    run_in_child(
        [&](int fd) {
            Confinement confinement;
            confinement.address_space += 4 * in.bytes.size();
            confinement.cpu_seconds = seconds;
            confinement.keep_fds = {fd};
            confinement.read_only_paths = read_only_paths;
            ConfineFailure failure;
            if (!confine_child(confinement, failure))
                _exit(not_confined_status);
            std::set_new_handler(out_of_memory);
            Document read_doc;
            ReadResult result = read(in, read_doc);
            _exit(send_document(fd, result, read_doc) ? 0 : 1);
        },
        archive_limit * 2, seconds, child);
    doc = Document{};
    ReadResult result = ReadResult::read;
    if (child.succeeded && take_document(child.out, result, doc))
        return result;
    doc = Document{};
    return notice(doc, NoticeKind::unreadable, in.name, type, why_unread(child).c_str());
}
