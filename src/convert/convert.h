// drifterm-convert: documents to plain text.
//
//   bytes --detect_kind--> Kind --format_for--> reader --Document--> layout_text --> to_output_charset
//
// detection and the table of formats: formats.h; the readers: readers.h;
// the document and its writer: document.h. This is the whole of one file.
#pragma once

#include <string>

#include "convert/document.h"
#include "convert/readers.h"

// The whole conversion of one file's bytes: detected, read and laid out in
// the output set. Returns false, leaving `text` empty, when there is
// nothing to print: a text already fit to show as it is, or no text at all.
bool convert_document(const Input &in, const OutputCharset &out, std::string &text);
