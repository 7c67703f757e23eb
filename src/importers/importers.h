// The importers, one per file type, and the table of file types by which the
// run dispatches (and which the companion programs read: each type's code,
// record layout and accepted lengths). Each importer takes the open work
// file at its start and what the run knows, and returns an ImportResult.
//
// A new file type is one source in this folder with its importer and its
// FileType, the FileType's declaration below, and its entry in the table
// (file_types.cpp).
#pragma once

#include <span>
#include <string>

#include "importers/cycle.h"
#include "platform/text_reader.h"

namespace importers {

using Importer = ImportResult (*)(platform::TextReader& file, ImportContext& context);

// One file type.
struct FileType {
  // The type as the run compares it: the argument upper-cased, cut to three
  // characters.
  const char* code;
  // Its line in the usage text, after the column of "Dateityp  : ".
  const char* usage;
  // The record layout; a short form leaves the fields it lacks empty.
  std::span<const Field> layout;
  // Accepted lengths as read, line end included; the first is the read
  // limit. (The SLD file holds one of its two lengths throughout, told by
  // its first line.)
  std::span<const long> lengths;
  // The tables of schema QVSYSTEM its import writes (kranzel-check
  // --installation reads each), in the order the import first writes them.
  std::span<const char* const> tables;
  Importer import;
};

// The file types, in the order of the usage text.
[[nodiscard]] std::span<const FileType* const> FileTypes();

// The file type of `code`, or nullptr when there is none.
[[nodiscard]] const FileType* FindFileType(const std::string& code);

// Each importer's entry of the table, defined beside its importer.
extern const FileType kFileType20P;
extern const FileType kFileType35P;
extern const FileType kFileType41P;
extern const FileType kFileTypeMnd;
extern const FileType kFileTypeIdn;
extern const FileType kFileTypeSld;
extern const FileType kFileTypeKst;
extern const FileType kFileTypeBkl;
extern const FileType kFileTypeFtg;
extern const FileType kFileTypeMst;
extern const FileType kFileTypeMdt;
extern const FileType kFileTypeFcd;

}  // namespace importers
