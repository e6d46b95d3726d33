// Archive members by exact name, within the limits. libzip finds a member
// by its exact, case-sensitive name through its own hash, so a spine that
// names absent members costs nothing, and a name holding "[" is no pattern.
// The size in the central directory is the archive's claim, not a fact:
// every read is capped as it goes.
#include <algorithm>
#include <zip.h>

#include "convert/zip.h"

struct ZipArchive {
    zip_t *archive = nullptr;
    size_t expanded = 0; // bytes read from all its members so far
};

ZipArchive *zip_open_bytes(std::string_view bytes)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return nullptr;
    }
    zip_t *archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(source);
        return nullptr;
    }
    return new ZipArchive{archive, 0};
}

void zip_close(ZipArchive *zip)
{
    if (zip == nullptr)
        return;
    zip_discard(zip->archive);
    delete zip;
}

bool zip_has(ZipArchive *zip, const std::string &name)
{
    return zip != nullptr && !name.empty() && zip_name_locate(zip->archive, name.c_str(), 0) >= 0;
}

struct ZipMember {
    ZipArchive *zip;
    zip_file_t *file;
    size_t read = 0;
    size_t room; // what it may still expand to
};

ZipMember *zip_member_open(ZipArchive *zip, const std::string &name)
{
    if (!zip_has(zip, name))
        return nullptr;
    zip_file_t *file = zip_fopen(zip->archive, name.c_str(), 0);
    if (file == nullptr)
        return nullptr;
    return new ZipMember{zip, file, 0, std::min(member_limit, archive_limit - zip->expanded)};
}

int zip_member_read(ZipMember *member, char *buffer, int size)
{
    zip_int64_t got = zip_fread(member->file, buffer, static_cast<zip_uint64_t>(std::max(size, 0)));
    if (got < 0 || static_cast<size_t>(got) > member->room - member->read)
        return -1; // damaged, a bomb, or a book past the limits
    member->read += static_cast<size_t>(got);
    member->zip->expanded += static_cast<size_t>(got);
    return static_cast<int>(got);
}

void zip_member_close(ZipMember *member)
{
    if (member == nullptr)
        return;
    zip_fclose(member->file);
    delete member;
}

bool zip_read(ZipArchive *zip, const std::string &name, std::string &out)
{
    out.clear();
    ZipMember *member = zip_member_open(zip, name);
    if (member == nullptr)
        return false;
    char chunk[65536];
    int got;
    while ((got = zip_member_read(member, chunk, sizeof chunk)) > 0)
        out.append(chunk, static_cast<size_t>(got));
    zip_member_close(member);
    if (got < 0)
        out.clear();
    return got == 0;
}
