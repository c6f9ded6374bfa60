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
};

inline constexpr FormatDescription kJet3Format{
    "Access 97 (Jet 3)", false, 2048, 0x18, 126, 0x3E, 0x42, 20, 0,
    2, 4, 8, 10, 255, 2012,
    4, 8, 12, 21, 23, 25, 27, 31, 35, 39, 43, 8, 18, 1, 39, 20, 4};

inline constexpr FormatDescription kJet4Format{
    "Access 2000-2003 (Jet 4)", true, 4096, 0x18, 128, 0x3E, 0x42, 40, 0x72,
    2, 4, 12, 14, 255, 4060,
    4, 8, 16, 41, 43, 45, 47, 51, 55, 59, 63, 12, 25, 2, 52, 28, 4};

}  // namespace jet

#endif  // JET_FORMAT_H_
