// The offsets and sizes of the on-disk structures, one description per format
// version, so that the layers above never hard-code a Jet 4 number. Only the
// Jet 4 description is complete; the others serve to recognise a file.
#ifndef JET_FORMAT_H_
#define JET_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace jet {

struct FormatDescription {
  std::string_view name;  // shown in messages
  bool supported;
  std::size_t page_size;

  // Header page (page 0).
  std::size_t header_mask_offset;
  std::size_t header_mask_size;
  std::size_t encoding_key_offset;
  std::size_t password_offset;
  std::size_t password_size;
  std::size_t creation_date_offset;  // 0: the password is not date-masked

  // Data pages (rows, long values, usage-map rows).
  std::size_t page_free_space_offset;
  std::size_t page_owner_offset;
  std::size_t data_row_count_offset;
  std::size_t data_row_offsets_offset;
  std::size_t max_rows_per_page;
  std::size_t max_row_size;

  // Table definition.
  std::size_t tdef_next_page_offset;
  std::size_t tdef_continuation_header;  // bytes skipped on continuation pages
  std::size_t tdef_row_count_offset;
  std::size_t tdef_max_columns_offset;
  std::size_t tdef_var_columns_offset;
  std::size_t tdef_columns_offset;
  std::size_t tdef_logical_indexes_offset;
  std::size_t tdef_real_indexes_offset;
  std::size_t tdef_owned_map_offset;
  std::size_t tdef_free_map_offset;
  std::size_t tdef_real_index_block_offset;
  std::size_t tdef_real_index_block_size;
  std::size_t column_size;
  std::size_t column_name_length_size;
  std::size_t real_index_size;
  std::size_t logical_index_size;

  // Usage-map pages of a reference map.
  std::size_t map_page_bitmap_offset;

  // Fields of the table definition's records, each from the start of its
  // record. kNoField: the version has no such field.
  struct ColumnFields {
    std::size_t type, number, var_index, precision, scale, sort_order, sort_version, flags, extra_flags,
        fixed_offset, length;
  };
  struct RealIndexFields {
    std::size_t unique_count;  // in the per-index block after the counts
    std::size_t first_slot;    // 10 column slots of (2-byte number, 1-byte order)
    std::size_t owned_map, root_page, flags;
  };
  struct LogicalIndexFields {
    std::size_t real_index, kind;
  };
  ColumnFields column_fields;
  RealIndexFields real_index_fields;
  LogicalIndexFields logical_index_fields;
};

inline constexpr std::size_t kNoField = static_cast<std::size_t>(-1);

inline constexpr FormatDescription kJet3Format{
    "Access 97 (Jet 3)", false, 2048, 0x18, 126, 0x3E, 0x42, 20, 0,
    2, 4, 8, 10, 255, 2012,
    4, 8, 12, 21, 23, 25, 27, 31, 35, 39, 43, 8, 18, 1, 39, 20, 4,
    {.type = 0, .number = 1, .var_index = 3, .precision = 11, .scale = 12, .sort_order = 9,
     .sort_version = kNoField, .flags = 13, .extra_flags = kNoField, .fixed_offset = 14, .length = 16},
    {.unique_count = 4, .first_slot = 0, .owned_map = 30, .root_page = 34, .flags = 38},
    {.real_index = 4, .kind = 19}};

inline constexpr FormatDescription kJet4Format{
    "Access 2000-2003 (Jet 4)", true, 4096, 0x18, 128, 0x3E, 0x42, 40, 0x72,
    2, 4, 12, 14, 255, 4060,
    4, 8, 16, 41, 43, 45, 47, 51, 55, 59, 63, 12, 25, 2, 52, 28, 4,
    {.type = 0, .number = 5, .var_index = 7, .precision = 11, .scale = 12, .sort_order = 11,
     .sort_version = 14, .flags = 15, .extra_flags = 16, .fixed_offset = 21, .length = 23},
    {.unique_count = 4, .first_slot = 4, .owned_map = 34, .root_page = 38, .flags = 46},
    {.real_index = 8, .kind = 23}};

}  // namespace jet

#endif  // JET_FORMAT_H_
