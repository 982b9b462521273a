// EditRecord: TableEdits as bytes, for the recovery journal.
//
// encodeEdit/decodeEdit round-trip every case. A whole table (ReplaceTable) travels as
// text in one fixed, lossless CSV form plus its own format.
//
// Edits as applied may point into a table's storage (RowRefs, source field numbers,
// copied-out row numbers); such an edit replays only on a table with the very same
// storage. encodePortableEdit() restates an applied edit in values and positions alone, so
// that it replays on any table showing the same cells, e.g. one read back from a
// snapshot.
#pragma once

#include "core/CSVTable.h"
#include "core/TableEdit.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zarvel {

// Bytes that do not decode as an edit of this version.
struct DamagedRecord : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string encodeEdit(const TableEdit& edit);
TableEdit decodeEdit(std::string_view bytes); // throws DamagedRecord

// The table as bytes that read back to the same cells and format.
std::string encodeTable(const CSVTable& table);
CSVTable decodeTable(std::string_view bytes); // throws DamagedRecord

// The bytes of `applied` restated without storage references, given the edit that
// undoes it and the table right after it was applied. Nothing when only the whole
// table would do (a replaced table, or a batch holding rows or columns that come back
// from storage).
std::optional<std::string> encodePortableEdit(const TableEdit& applied, const TableEdit& inverse,
                                              const CSVTable& after);

// A fast 64-bit hash of bytes (not cryptographic), the same whether the bytes come
// whole or in blocks of any size.
class ContentHasher {
public:
    void update(std::string_view bytes);
    [[nodiscard]] uint64_t digest() const;

private:
    void consume(const char* stripe);
    uint64_t a_ = 0x9E3779B185EBCA87ull + 0xC2B2AE3D27D4EB4Full, b_ = 0xC2B2AE3D27D4EB4Full, c_ = 0,
             d_ = 0 - 0x9E3779B185EBCA87ull;
    uint64_t size_ = 0;
    char stripe_[32] = {};
    size_t pending_ = 0;
};
[[nodiscard]] uint64_t hashBytes(std::string_view bytes);

} // namespace zarvel
