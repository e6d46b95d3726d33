// Zip archives made in memory for the converter's tests: members in the
// order given, stored or deflated as libzip chooses.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include <zip.h>

namespace ziptest {

using Members = std::vector<std::pair<std::string, std::string>>;

// The bytes of an archive holding `members`; "" when libzip fails.
inline std::string make_zip(const Members &members)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (buffer == nullptr)
        return "";
    zip_source_keep(buffer);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(buffer);
        return "";
    }
    for (const auto &[name, data] : members) {
        zip_source_t *member = zip_source_buffer(archive, data.data(), data.size(), 0);
        if (member == nullptr || zip_file_add(archive, name.c_str(), member, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0)
            zip_source_free(member);
    }
    std::string bytes;
    if (zip_close(archive) != 0) {
        zip_discard(archive);
    } else if (zip_source_open(buffer) == 0) {
        char chunk[4096];
        zip_int64_t got;
        while ((got = zip_source_read(buffer, chunk, sizeof chunk)) > 0)
            bytes.append(chunk, static_cast<size_t>(got));
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    return bytes;
}

} // namespace ziptest
