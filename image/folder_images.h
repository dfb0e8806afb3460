// The images of a +all folder, by the card ID in their names, so that an
// image whose card is not on the host is seen rather than passed over.
#ifndef IMAGE_FOLDER_IMAGES_H
#define IMAGE_FOLDER_IMAGES_H

#include <cstddef>
#include <cstdint>

#include "report.h"

struct card_list;

struct id_list {
    uint32_t *ids;  // owned, ascending
    size_t count;
};

// The IDs N of the files card-N.img (N in decimal, as save names them) in
// the folder that have no card in the list; false, with the failure
// reported (and kept in log), when the folder cannot be read or memory runs
// out.
bool images_without_cards(const char *folder, const card_list &cards, id_list *out,
                          failure_log *log);
void free_ids(id_list *list);

// FOLDER/card-ID.img, as save names a card's image; false when it does not
// fit in size bytes.
bool card_image_path(const char *folder, uint32_t card_id, char *out, size_t size);

#endif
