// Archive members by exact name, within the limits that bound every
// expansion the converter makes.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// No more than this is expanded from one archive member or compressed
// stream, nor from all the members of one archive together.
constexpr size_t member_limit = size_t{64} << 20;
constexpr size_t archive_limit = size_t{256} << 20;

struct ZipArchive; // libzip's archive over bytes in memory, and what was read from it

// Opens the archive held in `bytes` (which must outlive it); nullptr when
// it is not a zip.
ZipArchive *zip_open_bytes(std::string_view bytes);
void zip_close(ZipArchive *zip);
struct ZipClose {
    void operator()(ZipArchive *zip) const { zip_close(zip); }
};
using ZipPtr = std::unique_ptr<ZipArchive, ZipClose>;
bool zip_has(ZipArchive *zip, const std::string &name);
// Reads the member named exactly `name` (no patterns) into `out`, at most
// member_limit bytes and what is left of archive_limit; false when it is
// absent, unreadable or over a limit.
bool zip_read(ZipArchive *zip, const std::string &name, std::string &out);

// A member read as it is expanded, for a parse that streams it: within the
// same limits, never held whole.
struct ZipMember;
// nullptr when the member is absent or unreadable.
ZipMember *zip_member_open(ZipArchive *zip, const std::string &name);
// Up to `size` bytes more of it into `buffer`: their count, 0 at its end,
// -1 on a failure or past a limit.
int zip_member_read(ZipMember *member, char *buffer, int size);
void zip_member_close(ZipMember *member);
