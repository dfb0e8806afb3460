// The EEPROM image file: plain text that people read, diff, keep in version
// control and edit.
//
//   # comment
//   card_id    = 0          settings, each optional and at most once
//   board_type = 12
//   word_bits  = 32
//   [0x00] = 0x56514812     cells in the dump's own syntax, one or more a line
//
// Blank lines are ignored, and the dump's card line (cells.h) names the
// card as card_id does, so a dump saved by sorvit is an image of
// that card. An image lists any subset of the locations 0x00 to 0x3F, each
// once.
#ifndef IMAGE_FILE_IMAGE_FILE_H
#define IMAGE_FILE_IMAGE_FILE_H

#include <limits.h>

#include <cstddef>
#include <cstdint>

#include "config_area.h"
#include "safe_path.h"

constexpr size_t IMAGE_MAX_BYTES = size_t{64} * 1024;  // a full image is about 1.5 KiB

struct eeprom_image {
    location_mask listed;  // bit n: location n is in the image
    uint32_t values[CONFIG_LOCATIONS];
    unsigned lines[CONFIG_LOCATIONS];  // where each location was given
    bool has_card_id, has_board_type, has_word_bits;
    uint32_t card_id;
    int32_t board_type;
    uint32_t word_bits;  // 16 or 32
};

inline bool image_lists(const eeprom_image *image, uint32_t location) {
    return location < CONFIG_LOCATIONS && (image->listed >> location & 1u) != 0;
}

struct image_error {
    char text[PATH_MAX + 512];  // one line, with its line feed: a path and its reason fit
};

// One line, cut where it must be, ending in a line feed whatever its length.
void set_image_error(image_error *err, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// Parses image text; name is how messages call the file. On failure the
// error names the file, the line and what was expected there.
bool parse_image(const char *text, size_t length, const char *name, eeprom_image *out,
                 image_error *err);

// What a temporary image file's name has between the image's name and its
// random part.
constexpr char TEMP_SUFFIX[] = ".";

// Where an image file is: a path a user named ('-' is standard input or
// output), or a name in the folder of a +all run, reached once for the
// whole run rather than walked again for each card.
struct image_path {
    const char *shown;         // how messages name it: the path, or FOLDER/card-ID.img
    const safe_place *folder;  // the run's folder, or null
    const char *name;          // inside the folder; without one, the path itself
};
inline image_path path_named(const char *path) { return image_path{path, nullptr, path}; }

// Who else than root and the running user could have put the image there.
struct image_trust {
    char changeable[SAFE_TEXT_MAX];  // the first such place, and why; "" when none
    char refused[SAFE_TEXT_MAX];     // a link not followed, and its owner
};

// Reads and parses an image file ('-' is standard input); err says why
// not. Only a regular file is read, so nothing waits on a FIFO or a device,
// and only through links that root or the running user made.
bool read_image_file(const image_path &path, eeprom_image *out, image_trust *trust,
                     image_error *err);

// Puts text in the file whole or not at all (temporary file, flush,
// rename), through a symbolic link that root or the running user made
// whether or not its target exists yet; a link of anyone else, a folder
// that others may write and that is not sticky, and an existing file whose
// mode allows no write are refused. A replaced file keeps its owner and
// permissions; a new one is 0644 less the umask (0600 in a shared folder).
// A missing folder is made, with its missing parents. '-' is standard
// output. err says why not. A run that writes many files into one folder
// leaves it unflushed (flush_folder false) and calls sync_image_folder once
// after the last.
bool write_image_file(const image_path &path, const char *text, size_t length, bool flush_folder,
                      image_error *err);

// The same for any file of the family; what names it in messages ("metrics
// file").
bool write_whole_file(const image_path &path, const char *what, const char *text, size_t length,
                      bool flush_folder, image_error *err);

// Flushes the folder (shown: as messages name it), so that the files
// renamed into it last.
bool sync_image_folder(const safe_place &folder, const char *shown, image_error *err);

// Whether the path is '-', standard input or output.
bool is_standard_stream(const char *path);

// How messages call a file: "(standard input)" for '-'.
const char *image_name(const char *path);

#endif
