// The table of file types: the one list the run dispatches by and the usage
// text is made from.
#include "importers/importers.h"

namespace importers {

namespace {

// In the order of the usage text. The codes differ, so the order in which
// they are compared does not matter.
constexpr const FileType* kFileTypes[] = {
    &kFileType20P, &kFileType35P, &kFileType41P, &kFileTypeMnd, &kFileTypeSld, &kFileTypeIdn,
    &kFileTypeKst, &kFileTypeBkl, &kFileTypeFtg, &kFileTypeMst, &kFileTypeMdt, &kFileTypeFcd,
};

}  // namespace

std::span<const FileType* const> FileTypes() { return kFileTypes; }

const FileType* FindFileType(const std::string& code) {
  for (const FileType* type : kFileTypes)
    if (code == type->code) return type;
  return nullptr;
}

}  // namespace importers
