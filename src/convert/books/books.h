// What the MOBI and CHM readers take from their libraries before the HTML
// walk has it, apart so that tests can look at it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "convert/readers.h"

// What a MOBI book holds: its HTML parts in reading order (a KF8 book's
// in spine order), as UTF-8; or a PalmDOC book's plain text, as it is; or
// a notice (DRM, unreadable).
struct MobiText {
    std::vector<std::string> html;
    std::string text;
    std::string notice;
};
// False when the bytes are no MOBI or PalmDOC book.
bool mobi_text(const Input &in, MobiText &book);
// The HTML pages of a CHM book: those its table of contents names, in its
// order, then the rest in the order of its directory; or a notice. False
// when the bytes are no CHM file.
bool chm_pages(const Input &in, std::vector<std::string> &pages, std::string &notice);
// The member paths a CHM table of contents (.hhc sitemap) names, in its
// order, each once, resolved against `hhc_dir` ("/" for the top).
std::vector<std::string> chm_toc_paths(std::string_view hhc, const std::string &hhc_dir);
